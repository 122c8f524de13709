#include "proxystate.h"

#include "address.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sstream>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zentrel::networksetup {

namespace {

const char magic[] = "zentrel-vpn-proxy-state 2";
const char magicPrefix[] = "zentrel-vpn-proxy-state ";
const char stateName[] = "proxy-state";
const char lockName[] = "lock";

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

// Decodes a field; false for a malformed escape, text that is not UTF-8, or a NUL byte.
bool unescape(const std::string &field, std::string &out) {
    out.clear();
    if (field.empty())
        return false;
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
    return out.find('\0') == std::string::npos && isValidUtf8(out);
}

bool parseCount(const std::string &text, unsigned long long &value) {
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::strtoull(text.c_str(), nullptr, 10);
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

std::string checksum(const std::string &text) {
    uint64_t hash = 14695981039346656037ULL; // FNV-1a
    for (unsigned char c : text)
        hash = (hash ^ c) * 1099511628211ULL;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016" PRIx64, hash);
    return hex;
}

// Checks the first and the last line; on success `body` holds the lines between them.
bool unseal(const std::string &text, std::string &body, std::string &error) {
    const size_t firstEnd = text.find('\n');
    const std::string first = text.substr(0, firstEnd);
    if (first.rfind(magicPrefix, 0) == 0 && first != magic) {
        error = "it was written in another format (" + first.substr(sizeof magicPrefix - 1) +
                ", this version reads " + (magic + sizeof magicPrefix - 1) + ")";
        return false;
    }
    if (first != magic) {
        error = "it is not a state file of this program";
        return false;
    }
    const size_t lastStart = text.size() >= 2 ? text.rfind('\n', text.size() - 2) + 1 : 0;
    const std::string sealed = text.substr(0, lastStart);
    if (text.back() != '\n' || text.compare(lastStart, 4, "end\t") != 0) {
        error = "it is cut short: its end line is missing";
        return false;
    }
    if (text.substr(lastStart) != "end\t" + checksum(sealed) + "\n") {
        error = "its checksum does not match: it was changed or damaged";
        return false;
    }
    body = sealed.substr(firstEnd + 1);
    return true;
}

// False with errno set when the folder cannot be flushed to disk.
bool syncFolder(const std::string &path) {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = fsync(fd) == 0;
    const int savedErrno = errno;
    close(fd);
    errno = savedErrno;
    return synced;
}

bool makeDirectories(const std::string &path) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            const std::string prefix = path.substr(0, pos);
            if (mkdir(prefix.c_str(), 0700) == 0) {
                // A new folder survives a power cut only once its parent's entry is on disk.
                const size_t slash = prefix.rfind('/');
                const std::string parent = slash == std::string::npos ? "."
                                           : slash == 0               ? "/"
                                                                      : prefix.substr(0, slash);
                if (!syncFolder(parent))
                    return false;
            } else if (errno != EEXIST) {
                return false;
            }
        }
    }
    return true;
}

// A file of ours is a regular file of modest size; anything else was put there by someone else.
bool isPlainFile(int fd, const std::string &path, std::string &error) {
    struct stat st;
    if (fstat(fd, &st) != 0) {
        error = "cannot examine " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "refusing " + path + ": it is not a regular file; move it away";
        return false;
    }
    if (st.st_size > StateStore::maxFileSize) {
        error = "refusing " + path + ": at " + std::to_string(st.st_size) +
                " bytes it is far larger than any file this program writes; move it away";
        return false;
    }
    return true;
}

std::string openError(const std::string &path, int error) {
    if (error == ELOOP)
        return "refusing " + path + ": it is a symbolic link; move it away";
    return "cannot open " + path + ": " + std::strerror(error);
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

std::string withEndLine(const std::string &body) {
    return body + "end\t" + checksum(body) + "\n";
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
    return withEndLine(out.str());
}

bool parseState(const std::string &text, ProxyState &state, std::string &error) {
    state = ProxyState();
    std::string body;
    if (!unseal(text, body, error))
        return false;
    std::istringstream lines(body);
    std::string line;
    int number = 1;
    while (std::getline(lines, line)) {
        ++number;
        const std::vector<std::string> f = splitTabs(line);
        std::vector<std::string> v(f.size());
        bool ok = true;
        for (size_t i = 1; i < f.size() && ok; ++i)
            ok = unescape(f[i], v[i]);
        if (ok && f[0] == "clock" && f.size() == 2) {
            ok = parseCount(f[1], state.clock);
        } else if (ok && f[0] == "service" && f.size() == 6 && !v[1].empty() &&
                   (v[4] == "on" || v[4] == "off")) {
            ServiceProxy &s = state.services[v[1]];
            s.host = v[2];
            s.enabled = v[4] == "on";
            ok = isHostNameOrAddress(s.host) && parsePort(v[3], s.port) &&
                 parseCount(v[5], s.switchedAt);
        } else if (ok && f[0] == "desktop" && f.size() == 2 && !v[1].empty()) {
            state.desktops[v[1]];
        } else if (ok && (f[0] == "saved" || f[0] == "written") && f.size() == 5 && !v[2].empty() &&
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
    : directory_(std::move(directory)), statePath_(directory_ + "/" + stateName) {}

StateStore::~StateStore() {
    if (lockFd_ >= 0)
        close(lockFd_); // releases the flock
    if (directoryFd_ >= 0)
        close(directoryFd_);
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

bool StateStore::openDirectory(bool create, std::string &error) {
    if (directoryFd_ >= 0)
        return true;
    if (create && !makeDirectories(directory_)) {
        error = "cannot create " + directory_ + ": " + std::strerror(errno);
        return false;
    }
    // Every file below is reached through this descriptor, so the folder checked is the one used.
    directoryFd_ = open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (directoryFd_ < 0) {
        if (!create && errno == ENOENT)
            return true; // nothing recorded yet
        // With O_DIRECTORY a link reports ENOTDIR rather than ELOOP.
        struct stat link;
        const int why =
            errno == ENOTDIR && lstat(directory_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)
                ? ELOOP
                : errno;
        error = why == ENOTDIR ? "refusing " + directory_ + ": it is not a folder"
                               : openError(directory_, why);
        return false;
    }
    struct stat st;
    if (fstat(directoryFd_, &st) != 0) {
        error = "cannot examine " + directory_ + ": " + std::strerror(errno);
    } else if (st.st_uid != geteuid()) {
        error = "refusing the state folder " + directory_ + ": it belongs to another user";
    } else if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        error = "refusing the state folder " + directory_ +
                ": other users may write to it; make it private with chmod 700";
    } else {
        return true;
    }
    close(directoryFd_);
    directoryFd_ = -1;
    return false;
}

bool StateStore::lock(Deadline deadline, std::string &error) {
    if (!openDirectory(true, error))
        return false;
    const std::string path = directory_ + "/" + lockName;
    lockFd_ = openat(directoryFd_, lockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                     0600);
    if (lockFd_ < 0) {
        error = openError(path, errno);
        return false;
    }
    if (!isPlainFile(lockFd_, path, error))
        return false;
    while (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK && millisecondsLeft(deadline) > 0) {
            const timespec pause{0, 5000000};
            nanosleep(&pause, nullptr);
        } else if (errno == EWOULDBLOCK) {
            error = "another networksetup is still busy with the proxy (it holds " + path +
                    "); nothing was changed, try again";
            return false;
        } else if (errno != EINTR) {
            error = "cannot lock " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

bool StateStore::load(ProxyState &state, std::string &error) {
    state = ProxyState();
    if (!openDirectory(false, error))
        return false;
    if (directoryFd_ < 0)
        return true;
    const int fd = openat(directoryFd_, stateName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        error = openError(statePath_, errno);
        return false;
    }
    std::string text;
    ssize_t n = 0;
    if (isPlainFile(fd, statePath_, error)) {
        char buffer[8192];
        while (text.size() <= maxFileSize &&
               ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)))
            text.append(buffer, static_cast<size_t>(n > 0 ? n : 0));
    } else {
        close(fd);
        return false;
    }
    close(fd);
    std::string why = n < 0 ? std::string("read error: ") + std::strerror(errno) : "";
    if (why.empty() && text.size() > maxFileSize)
        why = "it grew past " + std::to_string(maxFileSize) + " bytes while being read";
    if (why.empty() && parseState(text, state, why)) {
        knownText_ = std::move(text);
        return true;
    }
    // Never overwritten: it may hold the only copy of the user's proxy settings.
    error = "cannot use the state file " + statePath_ + " (" + why +
            "); the desktop's proxy was left as it is. Move the file away to start afresh (it "
            "may hold your earlier proxy settings), then set the proxy yourself if needed";
    return false;
}

bool StateStore::save(const ProxyState &state, std::string &error) {
    std::string text = serializeState(state);
    if (!knownText_.empty() && text == knownText_)
        return true;
    if (!openDirectory(true, error))
        return false;
    // A fresh name each time, created exclusively: nothing planted under it is ever followed.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 8; ++attempt) {
        unsigned long long nonce = 0;
        if (getrandom(&nonce, sizeof nonce, 0) != sizeof nonce)
            nonce = static_cast<unsigned long long>(getpid()) * 2654435761u ^
                    static_cast<unsigned long long>(std::time(nullptr)) ^ attempt;
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".tmp-%016llx", nonce);
        temp = std::string(stateName) + suffix;
        fd = openat(directoryFd_, temp.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        error = "cannot write " + directory_ + "/" + temp + ": " + std::strerror(errno);
        return false;
    }
    const bool written = writeAll(fd, text) && fsync(fd) == 0;
    const int savedErrno = errno;
    close(fd);
    if (!written || renameat(directoryFd_, temp.c_str(), directoryFd_, stateName) != 0) {
        error = "cannot write " + statePath_ + ": " + std::strerror(written ? errno : savedErrno);
        unlinkat(directoryFd_, temp.c_str(), 0);
        return false;
    }
    // The rename lasts a power cut only once the folder is on disk. The desktop changes after
    // this returns, so the record of what to restore must not be able to vanish before it.
    if (fsync(directoryFd_) != 0) {
        error = "cannot write " + statePath_ + ": " + std::strerror(errno);
        return false;
    }
    knownText_ = std::move(text);
    return true;
}

} // namespace zentrel::networksetup
