#pragma once
// The names the preset selectors and the settings file share: categories and
// their add entries, preset keys, the stored list format and the setting keys
// with their defaults.
#include <algorithm>
#include <cstddef>
#include <numeric>
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

// The names a selector holding only addEntry holds after each of names was
// inserted in turn, in n log n comparisons instead of n squared. The insertion
// puts a name before the first entry that is not less than it, and adds
// nothing when that entry is equal to it; the add entry, last, takes part in
// the comparison. So the result is names sorted by compare (a strcmp-like
// order), the first of equal names kept; a name equal to the add entry is
// kept only when a name sorting above the add entry came before it (it then
// lands ahead of that name), and the first such one. The add entry is not in
// the result.
template <class Name, class Compare>
std::vector<Name> sortedDistinct(const std::vector<Name>& names, const Name& addEntry, Compare compare) {
  std::vector<std::size_t> order(names.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return compare(names[a], names[b]) < 0; });
  std::size_t firstAbove = names.size();
  for (std::size_t i = 0; i < names.size() && firstAbove == names.size(); ++i)
    if (compare(names[i], addEntry) > 0) firstAbove = i;
  std::vector<Name> result;
  result.reserve(names.size());
  for (std::size_t k = 0, end = 0; k < order.size(); k = end) {
    end = k + 1;
    while (end < order.size() && compare(names[order[k]], names[order[end]]) == 0) ++end;
    std::size_t kept = order[k];  // equal names keep their input order
    if (compare(names[kept], addEntry) == 0) {
      const auto it = std::find_if(order.begin() + static_cast<std::ptrdiff_t>(k),
                                   order.begin() + static_cast<std::ptrdiff_t>(end),
                                   [&](std::size_t i) { return i > firstAbove && firstAbove < names.size(); });
      if (it == order.begin() + static_cast<std::ptrdiff_t>(end)) continue;
      kept = *it;
    }
    result.push_back(names[kept]);
  }
  return result;
}

// "PresetList" + n and "PresetIndex" + n.
std::string presetListKey(int selector);
std::string presetIndexKey(int selector);

inline constexpr const char* kLastBrightnessKey = "LastBrightness";
inline constexpr const char* kKeepInFrontKey = "KeepInFront";
inline constexpr const char* kTurnOffKey = "TurnOff";
// 1: the window program starts in the night view.
inline constexpr const char* kNightViewKey = "NightView";

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
