#include "desktopproxy.h"

#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace zentrel::networksetup {

namespace {

// GIO is opened only here, at run time: linking it would cost every listing call, which runs
// at each keystroke in the preferences form, a few milliseconds of dynamic loading.
struct Gio {
    decltype(&g_settings_schema_source_get_default) schemaSourceGetDefault = nullptr;
    decltype(&g_settings_schema_source_lookup) schemaSourceLookup = nullptr;
    decltype(&g_settings_schema_unref) schemaUnref = nullptr;
    decltype(&g_settings_backend_get_default) backendGetDefault = nullptr;
    decltype(&g_settings_new) settingsNew = nullptr;
    decltype(&g_settings_get_user_value) getUserValue = nullptr;
    decltype(&g_settings_set_value) setValue = nullptr;
    decltype(&g_settings_reset) reset = nullptr;
    decltype(&g_settings_is_writable) isWritable = nullptr;
    decltype(&g_settings_sync) sync = nullptr;
    decltype(&g_type_name) typeName = nullptr;
    decltype(&g_object_unref) objectUnref = nullptr;
    decltype(&g_variant_new_string) newString = nullptr;
    decltype(&g_variant_new_int32) newInt32 = nullptr;
    decltype(&g_variant_ref_sink) refSink = nullptr;
    decltype(&g_variant_print) print = nullptr;
    decltype(&g_variant_parse) parse = nullptr;
    decltype(&g_variant_unref) unref = nullptr;
    decltype(&g_error_free) errorFree = nullptr;
    decltype(&g_free) free = nullptr;
    decltype(&g_log_set_writer_func) logSetWriter = nullptr;
    decltype(&g_log_writer_default) logWriterDefault = nullptr;

    // dconf reports a failed commit only as a warning from its worker thread; kept for our
    // own message instead of a second, cryptic line on stderr.
    std::mutex warningMutex;
    std::string dconfWarning;

    bool load() {
        void *lib = dlopen("libgio-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            return false;
        bool ok = true;
        auto bind = [&](auto &fn, const char *name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
            ok = ok && fn;
        };
        bind(schemaSourceGetDefault, "g_settings_schema_source_get_default");
        bind(schemaSourceLookup, "g_settings_schema_source_lookup");
        bind(schemaUnref, "g_settings_schema_unref");
        bind(backendGetDefault, "g_settings_backend_get_default");
        bind(settingsNew, "g_settings_new");
        bind(getUserValue, "g_settings_get_user_value");
        bind(setValue, "g_settings_set_value");
        bind(reset, "g_settings_reset");
        bind(isWritable, "g_settings_is_writable");
        bind(sync, "g_settings_sync");
        bind(typeName, "g_type_name");
        bind(objectUnref, "g_object_unref");
        bind(newString, "g_variant_new_string");
        bind(newInt32, "g_variant_new_int32");
        bind(refSink, "g_variant_ref_sink");
        bind(print, "g_variant_print");
        bind(parse, "g_variant_parse");
        bind(unref, "g_variant_unref");
        bind(errorFree, "g_error_free");
        bind(free, "g_free");
        bind(logSetWriter, "g_log_set_writer_func");
        bind(logWriterDefault, "g_log_writer_default");
        if (ok)
            logSetWriter(&Gio::writeLog, this, nullptr);
        // Never dlclose: GLib registers types and threads that cannot be unloaded.
        return ok;
    }

    static GLogWriterOutput writeLog(GLogLevelFlags level, const GLogField *fields, gsize count,
                                     gpointer self) {
        Gio &gio = *static_cast<Gio *>(self);
        const char *domain = nullptr;
        const char *message = nullptr;
        for (gsize i = 0; i < count; ++i) {
            if (std::strcmp(fields[i].key, "GLIB_DOMAIN") == 0)
                domain = static_cast<const char *>(fields[i].value);
            else if (std::strcmp(fields[i].key, "MESSAGE") == 0)
                message = static_cast<const char *>(fields[i].value);
        }
        const bool problem =
            level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING);
        if (!problem || !domain || std::strcmp(domain, "dconf") != 0 || !message)
            return gio.logWriterDefault(level, fields, count, nullptr);
        std::lock_guard<std::mutex> lock(gio.warningMutex);
        gio.dconfWarning = message;
        return G_LOG_WRITER_HANDLED;
    }

    std::string takeWarning() {
        std::lock_guard<std::mutex> lock(warningMutex);
        return std::exchange(dconfWarning, std::string());
    }

    // g_settings_sync blocks until dconf answers; a dconf-service that hangs must not hold us
    // past the deadline, so the wait happens on a thread of its own.
    bool syncBy(Deadline deadline) {
        struct Done {
            std::mutex mutex;
            std::condition_variable changed;
            bool done = false;
        };
        auto done = std::make_shared<Done>();
        std::thread([done, syncAll = sync] {
            syncAll();
            std::lock_guard<std::mutex> lock(done->mutex);
            done->done = true;
            done->changed.notify_all();
        }).detach();
        std::unique_lock<std::mutex> lock(done->mutex);
        return done->changed.wait_until(lock, deadline, [&] { return done->done; });
    }

    std::string printAndDrop(GVariant *value) const {
        if (!value)
            return {}; // refused by GLib (text that is not UTF-8): never matches a real value
        refSink(value);
        gchar *text = print(value, TRUE);
        std::string result = text;
        free(text);
        unref(value);
        return result;
    }
};

const char proxySchema[] = "org.gnome.system.proxy";

// Settings keys as "schema/key". HTTP, HTTPS and FTP proxies take precedence over SOCKS in
// GIO and in browsers, so their hosts are emptied while the tunnel is on.
const char *const settingKeys[] = {
    "org.gnome.system.proxy/mode",       "org.gnome.system.proxy.socks/host",
    "org.gnome.system.proxy.socks/port", "org.gnome.system.proxy.http/host",
    "org.gnome.system.proxy.https/host", "org.gnome.system.proxy.ftp/host",
};

class GnomeProxy : public DesktopProxy {
public:
    GnomeProxy(Gio &gio, std::string backendType, Deadline deadline)
        : gio_(gio), backendType_(std::move(backendType)), deadline_(deadline) {}

    ~GnomeProxy() override {
        for (auto &entry : settings_)
            gio_.objectUnref(entry.second);
    }

    std::string id() const override { return "gnome"; }
    std::string label() const override { return "GNOME proxy settings (org.gnome.system.proxy)"; }

    bool read(SettingMap &current, std::string &) override {
        current.clear();
        for (const char *name : settingKeys) {
            auto [settings, key] = locate(name);
            SettingValue &value = current[name];
            if (GVariant *v = gio_.getUserValue(settings, key.c_str())) {
                value.present = true;
                value.value = gio_.printAndDrop(v);
            }
        }
        return true;
    }

    SettingMap socksSettings(const std::string &host, int port) const override {
        const std::string empty = gio_.printAndDrop(gio_.newString(""));
        return {
            {"org.gnome.system.proxy/mode", {true, gio_.printAndDrop(gio_.newString("manual"))}},
            {"org.gnome.system.proxy.socks/host",
             {true, gio_.printAndDrop(gio_.newString(host.c_str()))}},
            {"org.gnome.system.proxy.socks/port", {true, gio_.printAndDrop(gio_.newInt32(port))}},
            {"org.gnome.system.proxy.http/host", {true, empty}},
            {"org.gnome.system.proxy.https/host", {true, empty}},
            {"org.gnome.system.proxy.ftp/host", {true, empty}},
        };
    }

    bool write(const SettingMap &values, std::string &error) override {
        for (const auto &[name, value] : values) {
            auto [settings, key] = locate(name);
            if (!gio_.isWritable(settings, key.c_str())) {
                error = name + " is locked and cannot be changed";
                return false;
            }
        }
        // Mode last, so that no one sees manual mode with half the hosts in place.
        for (int pass = 0; pass < 2; ++pass) {
            for (const auto &[name, value] : values) {
                const bool isMode = name == "org.gnome.system.proxy/mode";
                if (isMode != (pass == 1))
                    continue;
                if (!store(name, value, error))
                    return false;
                unconfirmed_[name] = value;
            }
        }
        return true;
    }

    bool finish(std::string &error) override {
        // A write is only a request: dconf commits it later, over the session bus, and may
        // fail then. Once synced, reading back tells what the desktop really holds.
        const bool dconf = backendType_ == "DConfSettingsBackend";
        if (!gio_.syncBy(earlier(deadline_, deadlineIn(std::chrono::seconds(2))))) {
            error = "the settings storage (" + backendType_ +
                    ") did not confirm the change in time" +
                    (dconf ? std::string(": is dconf-service hanging?") : "");
            return false;
        }
        SettingMap now;
        read(now, error);
        const SettingMap expected = std::exchange(unconfirmed_, {});
        for (const auto &[name, value] : expected) {
            if (now[name] != value) {
                const std::string why = gio_.takeWarning();
                error = "the new values were not stored (" +
                        (why.empty() ? name + " did not change" : why) +
                        (dconf ? std::string("; dconf needs the D-Bus session bus: is it "
                                             "running?)")
                               : std::string(")"));
                return false;
            }
        }
        return true;
    }

private:
    Gio &gio_;
    std::string backendType_;
    Deadline deadline_;
    std::map<std::string, GSettings *> settings_;
    SettingMap unconfirmed_; // written since the last finish()

    std::pair<GSettings *, std::string> locate(const std::string &name) {
        const size_t slash = name.find('/');
        const std::string schema = name.substr(0, slash);
        GSettings *&settings = settings_[schema];
        if (!settings)
            settings = gio_.settingsNew(schema.c_str());
        return {settings, name.substr(slash + 1)};
    }

    bool store(const std::string &name, const SettingValue &value, std::string &error) {
        auto [settings, key] = locate(name);
        if (!value.present) {
            gio_.reset(settings, key.c_str());
            return true;
        }
        GError *parseError = nullptr;
        GVariant *parsed = gio_.parse(nullptr, value.value.c_str(), nullptr, nullptr, &parseError);
        if (!parsed) {
            error = "cannot restore " + name + " from " + value.value + ": " + parseError->message;
            gio_.errorFree(parseError);
            return false;
        }
        const bool ok = gio_.setValue(settings, key.c_str(), parsed);
        gio_.unref(parsed);
        if (!ok)
            error = "cannot set " + name + " to " + value.value;
        return ok;
    }
};

} // namespace

std::unique_ptr<DesktopProxy> makeGnomeProxy(Deadline deadline, std::string &whyNot) {
    static Gio gio;
    static const bool loaded = gio.load();
    if (!loaded)
        return nullptr; // no GIO, so no GSettings consumer either

    GSettingsSchemaSource *source = gio.schemaSourceGetDefault();
    if (!source)
        return nullptr;
    for (const char *name : {"", ".socks", ".http", ".https", ".ftp"}) {
        const std::string schemaId = std::string(proxySchema) + name;
        GSettingsSchema *schema = gio.schemaSourceLookup(source, schemaId.c_str(), TRUE);
        if (!schema)
            return nullptr;
        gio.schemaUnref(schema);
    }

    // Without dconf (or another backend) GIO falls back to memory, where a write is lost at exit.
    GSettingsBackend *backend = gio.backendGetDefault();
    const char *typeName = gio.typeName(G_TYPE_FROM_INSTANCE(backend));
    const std::string type = typeName ? typeName : "";
    gio.objectUnref(backend);
    if (type == "GMemorySettingsBackend") {
        whyNot = "the GNOME proxy schema is installed but GSettings has no storage backend "
                 "(install dconf-gsettings-backend)";
        return nullptr;
    }
    return std::make_unique<GnomeProxy>(gio, type, deadline);
}

} // namespace zentrel::networksetup
