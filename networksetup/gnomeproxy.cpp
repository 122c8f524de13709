#include "desktopproxy.h"

#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include <cstring>
#include <dlfcn.h>
#include <map>

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
        // Never dlclose: GLib registers types and threads that cannot be unloaded.
        return ok;
    }

    std::string printAndDrop(GVariant *value) const {
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
    explicit GnomeProxy(const Gio &gio) : gio_(gio) {}

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
            }
        }
        return true;
    }

    bool finish(std::string &) override {
        gio_.sync(); // waits until the backend (dconf or keyfile) has stored everything
        return true;
    }

private:
    const Gio &gio_;
    std::map<std::string, GSettings *> settings_;

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

std::unique_ptr<DesktopProxy> makeGnomeProxy(std::string &whyNot) {
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
    const char *type = gio.typeName(G_TYPE_FROM_INSTANCE(backend));
    const bool memoryOnly = type && std::strcmp(type, "GMemorySettingsBackend") == 0;
    gio.objectUnref(backend);
    if (memoryOnly) {
        whyNot = "the GNOME proxy schema is installed but GSettings has no storage backend "
                 "(install dconf-gsettings-backend)";
        return nullptr;
    }
    return std::make_unique<GnomeProxy>(gio);
}

} // namespace zentrel::networksetup
