#pragma once
// One INI file read and written the way the Windows private-profile functions
// do it, one section at a time, without their limits:
//  - section and key names compare case-insensitively, blanks around a key
//    and around a value are ignored, the first of duplicate keys wins,
//    comment lines (";") and lines without "=" are skipped;
//  - values are read whole, however long;
//  - a write changes only the lines of the keys it sets (or appends them to
//    their section) and keeps every other byte of the file, line ends
//    included; each write replaces the file atomically;
//  - the file may be in the Windows-1252 code page (as Windows writes it) or
//    in UTF-8; it keeps its encoding unless a character must be stored that
//    Windows-1252 cannot hold, and then it becomes UTF-8 as a whole.
// Failures throw RuntimeError with the classic file-failure numbers.
#include <string>
#include <utility>
#include <vector>

namespace kelvane {

using IniEntries = std::vector<std::pair<std::string, std::string>>;

class IniStore {
 public:
  explicit IniStore(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // The value of key in section; "" when the file, the section or the key is
  // missing or the value is empty. Throws when the file exists but cannot be
  // read.
  std::string read(const std::string& section, const std::string& key) const;

  // Sets every key of entries in section (the last of repeated keys wins),
  // creating the file and the section when missing, in one atomic rewrite.
  // Throws, leaving the file as it was, when the file cannot be read or
  // replaced, and with failure 5 when a name or value cannot be stored as
  // one line that reads back the same (a line break or NUL anywhere; a key
  // that is blank, holds "=" or begins with "[" or ";"; a section name that
  // is blank or holds "]").
  void write(const std::string& section, const IniEntries& entries);
  void write(const std::string& section, const std::string& key, const std::string& value);

 private:
  std::string path_;
};

}  // namespace kelvane
