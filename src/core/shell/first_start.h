#pragma once
// Where the data come from, as the first start and the main window tell it: whether the chosen
// source can be used at all, the choice made in the welcome window, and whether the desktop
// can open the help page.
#include "core/common/ui_port.h"

#include <string>

namespace tesmo::shell {

enum class SourceState {
    DataSite,          // the data site, at an address that was set for it
    DataSiteUnset,     // the data site, but its address is the built-in placeholder
    JQuants,           // J-Quants API V2 with a key
    JQuantsKeyMissing, // J-Quants API V2 without a key
};

// The source the data update would use now, from the settings.
SourceState sourceState();
bool sourceUsable(SourceState state);

// Whether a URL names a host that can never exist: a name reserved for examples and tests
// (example, example.com/.net/.org, *.example, *.invalid, *.test), or no host at all. The data
// site's address of a build that was given none is such a name.
bool placeholderHost(const std::string &url);

// What the main window shows after "データ取得元": the source and, when it cannot be used,
// what it lacks ("J-Quants (キー未設定)"); short enough for the narrowest main window.
std::string sourceText(SourceState state);

// The welcome window comes on the first start, and on every start while no source is usable.
bool welcomeWanted();

// The welcome window's answer.
struct SourceChoice {
    bool jquants = false;
    std::string key;  // J-Quants API key
    std::string rate; // requests per minute of the plan
};

// Saves the choice (datasource, and for J-Quants its key and rate). Returns the text to show
// when the choice cannot be taken (J-Quants without a key, a rate that is no number from 1 on);
// then nothing is saved.
std::string saveSourceChoice(const SourceChoice &choice);

// "接続テスト" of the welcome window: the options window's routine with the key and rate typed.
bool testSourceChoice(const SourceChoice &choice, UiPort &port);

// Whether the desktop has a program that opens pages and files (xdg-open on the PATH).
bool pageOpenerAvailable();

} // namespace tesmo::shell
