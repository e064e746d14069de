#pragma once
// Per-user settings: text values addressed by application name, section and key. Each
// application name is one file under settingsDir(); every save rewrites that file atomically
// under an advisory lock, so that two programs saving at the same moment lose nothing.
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tesmo::storage {

class SettingsError : public std::runtime_error {
public:
    explicit SettingsError(const std::string &what) : std::runtime_error(what) {}
};

using SettingPairs = std::vector<std::pair<std::string, std::string>>;

// The stored value, or `defaultValue` when the key (or the whole file) is absent. Never raises.
std::string getSetting(const std::string &app, const std::string &section, const std::string &key,
                       const std::string &defaultValue);
// Creates or replaces one value. Raises SettingsError when the file cannot be written.
void saveSetting(const std::string &app, const std::string &section, const std::string &key,
                 const std::string &value);
// Removes a section and all its keys; raises SettingsError when there is no such section.
void deleteSettingSection(const std::string &app, const std::string &section);
// The section's pairs in stored order; nothing (not an empty list) when the section is absent.
std::optional<SettingPairs> getAllSettings(const std::string &app, const std::string &section);

std::string settingsFilePath(const std::string &app);

// Application names.
extern const char *const kSettingsId;
std::string mainAppName();         // "Tesmo_" + id: the main program, also read by the updater
std::string updaterStateAppName(); // "tesmo_auto" + id: files to fetch, installed versions
std::string updaterHttpAppName();  // "tesmo_auto_" + id: the updater's own HTTP settings

} // namespace tesmo::storage
