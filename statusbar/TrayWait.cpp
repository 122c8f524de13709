#include "TrayWait.h"

#include <QSystemTrayIcon>

namespace {
constexpr std::chrono::milliseconds interval(250);
}

TrayWait::TrayWait(std::function<void()> onMissing, std::chrono::milliseconds patience,
                   QObject *parent)
    : QObject(parent), m_onMissing(std::move(onMissing)), m_checksLeft(int(patience / interval)) {
    m_timer.setInterval(interval);
    connect(&m_timer, &QTimer::timeout, this, &TrayWait::check);
    // The first look waits for the event loop: nothing of it runs on the way to start.
    m_timer.start();
}

void TrayWait::check() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_timer.stop();
        return;
    }
    if (--m_checksLeft > 0)
        return;
    m_timer.stop();
    m_onMissing();
}
