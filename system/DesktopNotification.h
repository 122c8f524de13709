#pragma once

#include <QString>

// Shows a notification through the desktop's notification server
// (org.freedesktop.Notifications), where one runs; nothing happens where none does. Waits for
// the server at most two seconds when `wait` is set (for a process about to end), else not at
// all.
void notifyDesktop(const QString &summary, const QString &body, bool wait = false);
