#include "address.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>

namespace zentrel::networksetup {

namespace {

// Decodes the code point starting at text[i] and moves i past it; false on a malformed one.
bool nextCodePoint(const std::string &text, size_t &i, uint32_t &cp) {
    const auto byte = [&](size_t k) {
        return static_cast<unsigned char>(text[k]);
    };
    const unsigned char lead = byte(i);
    size_t length;
    uint32_t minimum;
    if (lead < 0x80) {
        cp = lead;
        ++i;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, cp = lead & 0x07;
    } else {
        return false;
    }
    if (text.size() - i < length)
        return false;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    i += length;
    return cp >= minimum && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

// Non-ASCII characters that cannot be part of a name: controls, spaces, invisible marks.
bool isForbiddenNonAscii(uint32_t cp) {
    return cp <= 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200F) ||
           (cp >= 0x2028 && cp <= 0x202F) || (cp >= 0x205F && cp <= 0x206F) || cp == 0x3000 ||
           cp == 0xFEFF || (cp >= 0xFFF0 && cp <= 0xFFFF);
}

bool isLabel(const std::string &label) {
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
        return false;
    size_t i = 0;
    uint32_t cp = 0;
    while (i < label.size()) {
        if (!nextCodePoint(label, i, cp))
            return false;
        const bool ascii = (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z') ||
                           (cp >= '0' && cp <= '9') || cp == '-' || cp == '_';
        if (!ascii && (cp < 0x80 || isForbiddenNonAscii(cp)))
            return false;
    }
    return true;
}

} // namespace

bool isValidUtf8(const std::string &text) {
    size_t i = 0;
    uint32_t cp = 0;
    while (i < text.size()) {
        if (!nextCodePoint(text, i, cp))
            return false;
    }
    return true;
}

bool isHostNameOrAddress(const std::string &host) {
    unsigned char address[16];
    if (host.find('\0') != std::string::npos)
        return false;
    if (inet_pton(AF_INET, host.c_str(), address) == 1 ||
        inet_pton(AF_INET6, host.c_str(), address) == 1)
        return true;
    std::string name = host;
    if (!name.empty() && name.back() == '.')
        name.pop_back(); // the root of a fully qualified name
    if (name.empty() || name.size() > 253)
        return false;
    size_t start = 0;
    std::string label;
    for (;;) {
        const size_t dot = name.find('.', start);
        label = name.substr(start, dot - start);
        if (!isLabel(label))
            return false;
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    // All digits at the end looks like a mistyped address, which no resolver takes as a name.
    return !std::all_of(label.begin(), label.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool parsePort(const std::string &text, int &port) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const size_t start = std::min(text.find_first_not_of('0'), text.size());
    if (text.size() - start > 5)
        return false;
    const long value = std::strtol(text.c_str() + start, nullptr, 10);
    if (value < 1 || value > 65535)
        return false;
    port = static_cast<int>(value);
    return true;
}

} // namespace zentrel::networksetup
