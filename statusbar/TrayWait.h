#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

// At login the panel may start after us: give it a few seconds to offer a system tray before
// saying there is none. Qt has no signal for a tray appearing, so this asks on a short timer.
class TrayWait : public QObject {
    Q_OBJECT

public:
    // Runs `onMissing` once if no tray has come within `patience`; nothing if one is there.
    explicit TrayWait(std::function<void()> onMissing,
                      std::chrono::milliseconds patience = std::chrono::seconds(8),
                      QObject *parent = nullptr);

    bool isWaiting() const { return m_timer.isActive(); }

private:
    void check();

    std::function<void()> m_onMissing;
    QTimer m_timer;
    int m_checksLeft = 0;
};
