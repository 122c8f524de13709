#include "desktopproxy.h"
#include "tool.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace zentrel::networksetup {

namespace {

const char group[] = "Proxy Settings";
const char manualType[] = "1";              // ProxyType: use the host keys below
const char absentMarker[] = "\x1f(absent)"; // kreadconfig's --default; no real value looks so

class KdeProxy : public DesktopProxy {
public:
    KdeProxy(std::string readTool, std::string writeTool, std::string file, Deadline deadline)
        : readTool_(std::move(readTool)), writeTool_(std::move(writeTool)), file_(std::move(file)),
          deadline_(deadline) {}

    std::string id() const override { return "kde"; }
    std::string label() const override { return "KDE proxy settings (" + file_ + ")"; }

    bool read(SettingMap &current, std::string &error) override {
        current.clear();
        for (const char *key : {"ProxyType", "socksProxy", "httpProxy", "httpsProxy", "ftpProxy"}) {
            ToolResult r = run({readTool_, "--file", file_, "--group", group, "--key", key,
                                "--default", absentMarker});
            if (!r.succeeded()) {
                error = "cannot read " + std::string(key) + " with " + readTool_ + failure(r);
                return false;
            }
            if (!r.output.empty() && r.output.back() == '\n')
                r.output.pop_back();
            current[key] = r.output == absentMarker ? SettingValue{} : SettingValue{true, r.output};
        }
        return true;
    }

    SettingMap socksSettings(const std::string &host, int port) const override {
        // Emptied rather than deleted: a deleted key would let a system-wide default through.
        return {
            {"ProxyType", {true, manualType}},
            {"socksProxy", {true, kdeProxyValue("socks", host, port)}},
            {"httpProxy", {true, ""}},
            {"httpsProxy", {true, ""}},
            {"ftpProxy", {true, ""}},
        };
    }

    bool write(const SettingMap &values, std::string &error) override {
        // One tool call per key, and a kill may fall between any two. Into manual mode the
        // type goes last, so that it never points at hosts not yet in place; out of it, first,
        // so that nothing goes to an address half put back.
        std::vector<std::string> order;
        for (const auto &entry : values)
            if (entry.first != "ProxyType")
                order.push_back(entry.first);
        if (const auto type = values.find("ProxyType"); type != values.end())
            order.insert(type->second == SettingValue{true, manualType} ? order.end()
                                                                        : order.begin(),
                         type->first);
        for (const std::string &key : order) {
            const SettingValue &value = values.at(key);
            std::vector<std::string> argv = {writeTool_, "--file", file_, "--group",
                                             group,      "--key",  key};
            if (value.present) {
                argv.insert(argv.end(), {"--", value.value});
            } else {
                argv.push_back("--delete");
            }
            const ToolResult r = run(argv);
            if (!r.succeeded()) {
                error = "cannot write " + key + " with " + writeTool_ + failure(r);
                return false;
            }
        }
        return true;
    }

    bool finish(std::string &) override {
        // Running KIO workers keep their configuration until told to reread it.
        if (!hasSessionBus())
            return true;
        const std::string dbusSend = findOnPath("dbus-send");
        if (dbusSend.empty())
            return true;
        const ToolResult r = run({dbusSend, "--session", "--type=signal", "/KIO/Scheduler",
                                  "org.kde.KIO.Scheduler.reparseSlaveConfiguration", "string:"});
        if (!r.succeeded())
            std::fprintf(stderr, "networksetup: warning: could not tell running KDE programs "
                                 "to reload the proxy settings; they see them after a restart\n");
        return true;
    }

private:
    std::string readTool_;
    std::string writeTool_;
    std::string file_;
    Deadline deadline_;

    // Each tool gets a few seconds, and all of them together no more than the command.
    ToolResult run(const std::vector<std::string> &argv) const {
        return runTool(argv, earlier(deadline_, deadlineIn(std::chrono::seconds(3))));
    }

    static std::string failure(const ToolResult &r) {
        if (!r.started)
            return " (it could not be started)";
        if (r.timedOut)
            return " (it did not finish in time and was stopped)";
        return r.exitStatus >= 0 ? " (exit status " + std::to_string(r.exitStatus) + ")"
                                 : " (it ended abnormally)";
    }

    static bool hasSessionBus() {
        if (const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
            return true;
        const char *runtime = std::getenv("XDG_RUNTIME_DIR");
        struct stat st;
        return runtime && *runtime && stat((std::string(runtime) + "/bus").c_str(), &st) == 0 &&
               S_ISSOCK(st.st_mode);
    }
};

std::string configHome() {
    if (const char *config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return config;
    const char *home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config";
}

} // namespace

std::unique_ptr<DesktopProxy> makeKdeProxy(Deadline deadline, std::string &whyNot) {
    const char *version = std::getenv("KDE_SESSION_VERSION");
    const bool prefer5 = version && std::string(version) == "5";
    for (const char *suffix :
         prefer5 ? std::vector<const char *>{"5", "6"} : std::vector<const char *>{"6", "5"}) {
        const std::string reader = findOnPath(std::string("kreadconfig") + suffix);
        const std::string writer = findOnPath(std::string("kwriteconfig") + suffix);
        if (!reader.empty() && !writer.empty())
            // The absolute path keeps reads to the user's own file, which is what we restore.
            return std::make_unique<KdeProxy>(reader, writer, configHome() + "/kioslaverc",
                                              deadline);
    }
    whyNot = "neither kwriteconfig6/kreadconfig6 nor kwriteconfig5/kreadconfig5 is installed";
    return nullptr;
}

} // namespace zentrel::networksetup
