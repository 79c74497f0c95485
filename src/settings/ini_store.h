#pragma once
// One INI file read and written the way the Windows private-profile functions
// do it, one section at a time, without their limits:
//  - section and key names compare case-insensitively, blanks around a key
//    and around a value are ignored, the first of duplicate keys wins,
//    comment lines (";") and lines without "=" are skipped;
//  - values are read whole, however long;
//  - a write changes only the lines of the keys it sets (or appends them to
//    their section) and keeps every other byte of the file, line ends
//    included; each write re-reads the file and replaces it atomically while
//    holding the file's WriteLock, so keys that other processes write are
//    kept;
//  - the file is read once and read again only when it changed on disk (its
//    FileStamp), so a key costs the same whatever the file's size; only a
//    regular file of at most kMaxFileBytes is read or replaced;
//  - encodings are decided line by line: a line that is valid UTF-8 is
//    UTF-8, any other is in the Windows-1252 code page (as Windows writes
//    it). A changed line keeps its encoding unless its new value needs
//    UTF-8; new lines take the encoding most lines have.
// Failures throw RuntimeError with the classic file-failure numbers.
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvane {

using IniEntries = std::vector<std::pair<std::string, std::string>>;

class IniStore {
 public:
  explicit IniStore(std::string path);
  ~IniStore();
  IniStore(IniStore&&) noexcept;
  IniStore& operator=(IniStore&&) noexcept;

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

  // Throws as write does when it would refuse section or entries.
  static void check(const std::string& section, const IniEntries& entries);
  // Whether two key names, valid UTF-8, name the same key of the file.
  static bool sameKey(std::string_view a, std::string_view b);
  // What a read gives back of a value written.
  static std::string_view readBack(std::string_view value);

  // Removes temporary files that writes killed midway left beside the file,
  // unless another process is writing it right now. Never throws.
  // Returns how many were removed.
  int removeStaleTempFiles() const;

 private:
  struct Cache;
  Cache& current(const std::string& path) const;

  std::string path_;
  mutable std::unique_ptr<Cache> cache_;
};

}  // namespace kelvane
