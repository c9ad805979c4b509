// LiveKeyValueStore: KeyValueStoring on QSettings, the user's preferences.
//
// On macOS QSettings' native format is the user-defaults system: the store
// built from a reverse-DNS domain ("com.brimwell.lumo.java") reads and
// writes that defaults domain, keeping bool, integer, double and string
// values as the native types and keys exactly as given (dots included).
// Qt derives the domain from an organization name and takes it as given only
// when its last label is a known top-level domain (com, org, net, two
// letters, ...); any other ends up as "com.<name>-<label>.<application>".
// Elsewhere the native format is an INI file under ~/.config, and an INI file
// can also be named directly (tests, tools); INI files keep only text, so
// there each value is stored with its type in front ("bool:true", "int:42",
// "double:0.5", "string:text"). A value the store did not write (a
// hand-edited line, a date in the defaults domain) reads back as text when it
// is text and as nothing otherwise.
//
// Every set() is written through to disk at once (there is no event loop to
// do it later), so a stored consent survives a crash right after it.
//
// Thread safety: QSettings is reentrant, not thread-safe; one mutex guards
// the store, so a LiveKeyValueStore may be used from any thread.
//
// This is the only engine code that uses Qt; the header stays Qt-free.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/KeyValueStoring.h"

namespace lumo {

class LiveKeyValueStore final : public KeyValueStoring {
public:
    struct IniFile {
        std::string path;
    };

    // The defaults domain of the active product (its userDefaultsPrefix).
    LiveKeyValueStore();
    // The preferences of a reverse-DNS domain ("com.brimwell.lumo.java").
    explicit LiveKeyValueStore(const std::string& reverseDNSDomain);
    // The preferences kept in an INI file at `file.path`.
    explicit LiveKeyValueStore(const IniFile& file);
    ~LiveKeyValueStore() override;

    LiveKeyValueStore(const LiveKeyValueStore&) = delete;
    LiveKeyValueStore& operator=(const LiveKeyValueStore&) = delete;

    std::optional<PreferenceValue> value(const std::string& key) const override;
    void set(const std::optional<PreferenceValue>& value, const std::string& key) override;

    // Where QSettings keeps the values (a file path, or the domain on macOS).
    std::string location() const;

private:
    struct Settings;
    mutable std::mutex m_mutex;
    std::unique_ptr<Settings> m_settings;  // guarded by m_mutex
};

// The organization and application QSettings needs so that its native store
// is the defaults domain `reverseDNSDomain`: "com.brimwell.lumo.java"
// gives organization "brimwell.com" and application "lumo.java".
struct SettingsNames {
    std::string organization;
    std::string application;
    friend bool operator==(const SettingsNames&, const SettingsNames&) = default;
};
SettingsNames settingsNamesForDomain(const std::string& reverseDNSDomain);

// The QSettings key that Qt's macOS defaults backend stores as `key`.
std::string settingsKeyForDefaultsKey(const std::string& key);

}  // namespace lumo
