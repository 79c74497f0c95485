#include "settings/presets.h"

#include "support/runtime_error.h"

namespace kelvane {

std::string categoryName(int selector) {
  switch (selector) {
    case 1: return "Telescope";
    case 2: return "Camera";
    case 3: return "Binning Level";
    case 4: return "Filter";
    default: throw RuntimeError(rt::SubscriptOutOfRange);
  }
}

std::string addEntryText(int selector) { return "** Add " + categoryName(selector) + " **"; }

bool isAddEntry(std::string_view text) { return text.starts_with("** Add"); }

std::string presetKey(const std::vector<std::string>& selectedNames) {
  std::string key;
  for (const std::string& name : selectedNames) key.append(name).append("|");
  return key;
}

std::string durationKey(const std::string& presetKey) { return presetKey + "Duration"; }

std::vector<std::string> splitPresetList(std::string_view stored) {
  std::vector<std::string> names;
  if (stored.empty()) return names;
  for (;;) {
    const std::size_t tab = stored.find('\t');
    names.emplace_back(stored.substr(0, tab));
    if (tab == std::string_view::npos) return names;
    stored.remove_prefix(tab + 1);
  }
}

std::string joinPresetList(const std::vector<std::string>& names) {
  std::string stored;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) stored += '\t';
    stored += names[i];
  }
  return stored;
}

std::string presetListKey(int selector) { return "PresetList" + std::to_string(selector); }
std::string presetIndexKey(int selector) { return "PresetIndex" + std::to_string(selector); }

std::string nameProblem(std::string_view name) {
  // A TAB would split the stored list, "|" would shift the parts of a preset
  // key, "=" would end the key early, and a line break or NUL would cut the
  // settings line.
  if (name.find('\t') != std::string_view::npos) return "A name cannot contain a TAB character.";
  if (name.find('|') != std::string_view::npos) return "A name cannot contain \"|\".";
  if (name.find('=') != std::string_view::npos) return "A name cannot contain \"=\".";
  if (name.find_first_of("\r\n") != std::string_view::npos)
    return "A name cannot contain a line break.";
  if (name.find('\0') != std::string_view::npos) return "A name cannot contain a NUL character.";
  // As the first part of a preset key it would start a section header or a
  // comment line.
  const std::size_t first = name.find_first_not_of(" \t");
  if (first != std::string_view::npos && (name[first] == '[' || name[first] == ';'))
    return "A name cannot begin with \"[\" or \";\".";
  return {};
}

}  // namespace kelvane
