#pragma once

#include <QLatin1String>
#include <QString>

// The six keys of the settings store and the two sets of defaults that read them: the
// delegate's (what connecting uses) and the preferences form's (what the form shows).
namespace SettingsKeys {
inline constexpr QLatin1String username{"username"};
inline constexpr QLatin1String server{"server"};
inline constexpr QLatin1String port{"port"};
inline constexpr QLatin1String privateKey{"privateKey"};
inline constexpr QLatin1String privateKeyFile{"privateKeyFile"};
inline constexpr QLatin1String networkService{"networkService"};
} // namespace SettingsKeys

// "default" means ssh's own keys; any other text means the file in privateKeyFile.
inline constexpr QLatin1String defaultPrivateKeyChoice{"default"};
inline constexpr QLatin1String customPrivateKeyChoice{"custom"};

inline constexpr qint64 defaultSocksPort = 6969;

// Used by the delegate when a key is absent. The login name and the detected network service
// are computed at load time, so they are not constants here.
namespace DelegateDefaults {
inline constexpr QLatin1String server{""};
inline constexpr qint64 port = defaultSocksPort; // also replaces a stored 0
inline constexpr QLatin1String privateKey = defaultPrivateKeyChoice;
inline constexpr QLatin1String privateKeyFile{""};
} // namespace DelegateDefaults

// Shown by the preferences form while a key is absent. Its network service default is the
// service detected once when the form is made.
namespace FormDefaults {
inline constexpr QLatin1String username{""};
inline constexpr QLatin1String server{""};
inline constexpr qint64 port = defaultSocksPort;
inline constexpr QLatin1String privateKey = defaultPrivateKeyChoice;
inline constexpr QLatin1String privateKeyFile{""};
} // namespace FormDefaults

// The current user's login name from the password database (not $USER, which any parent
// process may have changed). Empty if the user has no entry.
QString currentLoginName();
