#pragma once
// ReadINIFile and WriteINIFile: the program's keys in the one section of the
// settings file, each under its own error trap.
#include <string>

#include "settings/ini_store.h"

namespace kelvane {

class ErrorHandler;

inline constexpr const char* kSettingsSection = "Initialization";

// The key's value, or defaultValue when it is missing or empty. A read that
// fails is reported; Ignore gives the default, any other answer that leaves
// gives "".
std::string readINIFile(ErrorHandler& errors, const IniStore& store, const std::string& key,
                        const std::string& defaultValue);

// Sets the keys in one rewrite of the file. A failure is reported; Retry
// writes again. True only when the file was written.
bool writeINIFile(ErrorHandler& errors, IniStore& store, const IniEntries& entries);
bool writeINIFile(ErrorHandler& errors, IniStore& store, const std::string& key,
                  const std::string& value);

}  // namespace kelvane
