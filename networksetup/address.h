#pragma once

#include <string>

namespace zentrel::networksetup {

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const std::string &text);

// A host name (letters, digits, hyphens, underscores and non-ASCII letters in dot-separated
// labels) or an IPv4 or IPv6 address literal, in valid UTF-8. Nothing that a shell, an option
// parser or a URL could read as something else.
bool isHostNameOrAddress(const std::string &host);

// A whole number from 1 to 65535, digits only.
bool parsePort(const std::string &text, int &port);

} // namespace zentrel::networksetup
