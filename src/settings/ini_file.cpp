#include "settings/ini_file.h"

#include "support/error_handler.h"

namespace kelvane {

std::string readINIFile(ErrorHandler& errors, const IniStore& store, const std::string& key,
                        const std::string& defaultValue) {
  std::string text;
  Trap trap(errors, "Module1", "ReadINIFile");
  if (!trap([&] { text = store.read(kSettingsSection, key); })) return text;
  return text.empty() ? defaultValue : text;
}

bool writeINIFile(ErrorHandler& errors, IniStore& store, const IniEntries& entries) {
  bool written = false;
  Trap trap(errors, "Module1", "WriteINIFile");
  trap([&] {
    store.write(kSettingsSection, entries);
    written = true;
  });
  return written;
}

bool writeINIFile(ErrorHandler& errors, IniStore& store, const std::string& key,
                  const std::string& value) {
  return writeINIFile(errors, store, IniEntries{{key, value}});
}

}  // namespace kelvane
