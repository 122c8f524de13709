#pragma once

#include <QObject>

// Tells when the machine wakes from sleep and when it is about to shut down, as logind
// announces on the system bus. Without logind or a system bus it simply never reports.
class SleepWatcher : public QObject {
    Q_OBJECT

public:
    explicit SleepWatcher(QObject *parent = nullptr);

signals:
    void resumed();
    void shuttingDown();

private slots:
    void onPrepareForSleep(bool sleeping);
    void onPrepareForShutdown(bool stopping);
};
