#pragma once
// The names the preset selectors and the settings file share: categories and
// their add entries, preset keys, the stored list format and the setting keys
// with their defaults.
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

inline constexpr int kSelectorCount = 4;

// "Telescope", "Camera", "Binning Level", "Filter" for selectors 1 to 4.
// Failure 9 for any other number.
std::string categoryName(int selector);

// "** Add " + category + " **", the last entry of every selector.
std::string addEntryText(int selector);

// True when the entry acts as the add entry: its first six characters are
// exactly "** Add".
bool isAddEntry(std::string_view text);

// The key a preset's brightness is stored under: each selected name followed
// by "|" ("" for a selector with nothing selected).
std::string presetKey(const std::vector<std::string>& selectedNames);
// The key of its exposure duration: the preset key followed by "Duration".
std::string durationKey(const std::string& presetKey);

// A selector list as stored: the names joined by TAB. Splitting cuts at every
// TAB and keeps empty pieces; an empty text holds no names.
std::vector<std::string> splitPresetList(std::string_view stored);
std::string joinPresetList(const std::vector<std::string>& names);

// "PresetList" + n and "PresetIndex" + n.
std::string presetListKey(int selector);
std::string presetIndexKey(int selector);

inline constexpr const char* kLastBrightnessKey = "LastBrightness";
inline constexpr const char* kKeepInFrontKey = "KeepInFront";
inline constexpr const char* kTurnOffKey = "TurnOff";

inline constexpr const char* kDefaultLastBrightness = "100";
inline constexpr const char* kDefaultKeepInFront = "0";
inline constexpr const char* kDefaultTurnOff = "1";
inline constexpr const char* kDefaultPresetList = "Default";
inline constexpr const char* kDefaultPresetIndex = "0";

// "" when a typed name can be kept in the settings file as typed; otherwise
// why not, in words for the user. Leading and trailing blanks are the add
// prompt's business and are not judged here.
std::string nameProblem(std::string_view name);

}  // namespace kelvane
