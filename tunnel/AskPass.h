#pragma once

#include <QString>
#include <QStringList>

// Our own askpass program, in the private helper directory beside networksetup, found from the
// directory of the running executable (QCoreApplication::applicationDirPath()). The build tree
// mirrors the install tree, so this holds in both.
QString askPassProgram(const QString &applicationDirectory);

// What ssh's environment gets on top of ours: SSH_ASKPASS set to our program and
// SSH_ASKPASS_REQUIRE=force, so that ssh asks in our dialog even when the desktop set another
// askpass or a terminal is at hand. DISPLAY, WAYLAND_DISPLAY and what they need
// (XAUTHORITY, XDG_RUNTIME_DIR) pass on as inherited.
QStringList askPassEnvironment(const QString &program);
