#include "SettingsKeys.h"

#include <pwd.h>
#include <unistd.h>

QString currentLoginName() {
    const passwd *entry = getpwuid(getuid());
    return entry && entry->pw_name ? QString::fromLocal8Bit(entry->pw_name) : QString();
}
