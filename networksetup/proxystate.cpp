#include "proxystate.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zentrel::networksetup {

namespace {

const char magic[] = "zentrel-vpn-proxy-state 1";

// Fields are tab-separated; anything that could break a line or a field is percent-encoded.
std::string escape(const std::string &text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (c <= 0x20 || c == '%' || c == 0x7f) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out.empty() ? "%" : out; // a lone "%" stands for the empty text
}

bool unescape(const std::string &field, std::string &out) {
    out.clear();
    if (field == "%")
        return true;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '%') {
            out += field[i];
            continue;
        }
        if (i + 2 >= field.size() || !std::isxdigit(static_cast<unsigned char>(field[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(field[i + 2])))
            return false;
        const long value = std::strtol(field.substr(i + 1, 2).c_str(), nullptr, 16);
        out += static_cast<char>(value);
        i += 2;
    }
    return true;
}

std::vector<std::string> splitTabs(const std::string &line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

void writeSettings(std::ostringstream &out, const char *tag, const std::string &backend,
                   const SettingMap &settings) {
    for (const auto &[key, v] : settings) {
        out << tag << '\t' << escape(backend) << '\t' << escape(key) << '\t'
            << (v.present ? "set" : "unset") << '\t' << escape(v.value) << '\n';
    }
}

bool makeDirectories(const std::string &path) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            const std::string prefix = path.substr(0, pos);
            if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
    }
    return true;
}

} // namespace

bool writeAll(int fd, const std::string &data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

const ServiceProxy *ProxyState::activeService() const {
    const ServiceProxy *active = nullptr;
    for (const auto &entry : services) {
        const ServiceProxy &s = entry.second;
        if (s.enabled && (!active || s.switchedAt > active->switchedAt))
            active = &s;
    }
    return active;
}

std::string serializeState(const ProxyState &state) {
    std::ostringstream out;
    out << magic << '\n' << "clock\t" << state.clock << '\n';
    for (const auto &[name, s] : state.services) {
        out << "service\t" << escape(name) << '\t' << escape(s.host) << '\t' << s.port << '\t'
            << (s.enabled ? "on" : "off") << '\t' << s.switchedAt << '\n';
    }
    for (const auto &[backend, record] : state.desktops) {
        out << "desktop\t" << escape(backend) << '\n';
        writeSettings(out, "saved", backend, record.saved);
        writeSettings(out, "written", backend, record.written);
    }
    return out.str();
}

bool parseState(const std::string &text, ProxyState &state, std::string &error) {
    state = ProxyState();
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != magic) {
        error = "unrecognised first line";
        return false;
    }
    int number = 1;
    while (std::getline(lines, line)) {
        ++number;
        if (line.empty())
            continue;
        const std::vector<std::string> f = splitTabs(line);
        std::vector<std::string> v(f.size());
        bool ok = true;
        for (size_t i = 1; i < f.size() && ok; ++i)
            ok = unescape(f[i], v[i]);
        char *end = nullptr;
        if (ok && f[0] == "clock" && f.size() == 2) {
            state.clock = std::strtoull(f[1].c_str(), &end, 10);
            ok = *end == '\0';
        } else if (ok && f[0] == "service" && f.size() == 6 && (v[4] == "on" || v[4] == "off")) {
            ServiceProxy &s = state.services[v[1]];
            s.host = v[2];
            s.port = static_cast<int>(std::strtol(v[3].c_str(), &end, 10));
            ok = *end == '\0';
            s.enabled = v[4] == "on";
            s.switchedAt = std::strtoull(v[5].c_str(), &end, 10);
            ok = ok && *end == '\0';
        } else if (ok && f[0] == "desktop" && f.size() == 2) {
            state.desktops[v[1]];
        } else if (ok && (f[0] == "saved" || f[0] == "written") && f.size() == 5 &&
                   (v[3] == "set" || v[3] == "unset") && state.desktops.count(v[1])) {
            DesktopRecord &record = state.desktops[v[1]];
            (f[0] == "saved" ? record.saved : record.written)[v[2]] = {v[3] == "set", v[4]};
        } else {
            ok = false;
        }
        if (!ok) {
            error = "line " + std::to_string(number) + " is damaged";
            return false;
        }
    }
    return true;
}

StateStore::StateStore(std::string directory)
    : directory_(std::move(directory)), statePath_(directory_ + "/proxy-state") {}

StateStore::~StateStore() {
    if (lockFd_ >= 0)
        close(lockFd_); // releases the flock
}

std::string StateStore::defaultDirectory() {
    if (const char *state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/')
        return std::string(state) + "/zentrel-vpn";
    std::string home;
    if (const char *h = std::getenv("HOME"); h && *h)
        home = h;
    else if (const passwd *pw = getpwuid(getuid()))
        home = pw->pw_dir;
    return home + "/.local/state/zentrel-vpn";
}

bool StateStore::lock(std::string &error) {
    if (!makeDirectories(directory_)) {
        error = "cannot create " + directory_ + ": " + std::strerror(errno);
        return false;
    }
    const std::string path = directory_ + "/lock";
    lockFd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd_ < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    while (flock(lockFd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            error = "cannot lock " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

bool StateStore::load(ProxyState &state, std::string &error) const {
    state = ProxyState();
    const int fd = open(statePath_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        error = "cannot read " + statePath_ + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    char buffer[8192];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    close(fd);
    std::string why;
    if (n < 0 || !parseState(text, state, why)) {
        // Never overwrite it: it may hold the only copy of the user's proxy settings.
        error = "state file " + statePath_ + " is damaged (" + (n < 0 ? "read error" : why) +
                "); move it away to start afresh";
        return false;
    }
    return true;
}

bool StateStore::save(const ProxyState &state, std::string &error) const {
    const std::string temp = statePath_ + ".tmp";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot write " + temp + ": " + std::strerror(errno);
        return false;
    }
    const bool written = writeAll(fd, serializeState(state)) && fsync(fd) == 0;
    const int savedErrno = errno;
    close(fd);
    if (!written || rename(temp.c_str(), statePath_.c_str()) != 0) {
        error = "cannot write " + statePath_ + ": " + std::strerror(written ? errno : savedErrno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

} // namespace zentrel::networksetup
