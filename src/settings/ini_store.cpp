#include "settings/ini_store.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "settings/code_page.h"
#include "support/file_helpers.h"
#include "support/runtime_error.h"

namespace kelvane {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// How long a write waits for another process's write of the same file.
constexpr int kLockWaitMs = 5000;

// The file's bytes without a leading byte-order mark, which is kept aside.
struct Content {
  std::string bytes;
  bool bom = false;
};

Content load(const std::string& path, FileStamp& stamp) {
  Content c;
  try {
    c.bytes = readRegularFile(path, &stamp);
  } catch (const RuntimeError& e) {
    if (e.number() != rt::FileNotFound) throw;
    stamp = FileStamp();
    return c;
  }
  if (std::string_view(c.bytes).starts_with(kBom)) {
    c.bytes.erase(0, kBom.size());
    c.bom = true;
  }
  return c;
}

// ---- encodings, line by line ------------------------------------------------
//
// A file may hold lines in both encodings (edited on both systems, or names
// added over the years): a line that is valid UTF-8 is UTF-8, any other line
// is in the Windows code page. Plain ASCII reads the same either way.

enum class Encoding { CodePage, Utf8 };

// The text of a line (or of a part of one) in UTF-8.
std::string_view asText(std::string_view bytes, bool codePage, std::string& scratch) {
  if (!codePage) return bytes;
  scratch = windows1252ToUtf8(bytes);
  return scratch;
}

// The bytes of a line of text in the preferred encoding. Code-page bytes that
// happen to form valid UTF-8 would read back as other characters, and the code
// page lacks most characters: such a line is written in UTF-8.
std::string lineBytes(std::string_view text, Encoding preferred) {
  std::string bytes;
  if (preferred == Encoding::CodePage && utf8ToWindows1252(text, bytes) && (isAscii(bytes) || !isValidUtf8(bytes)))
    return bytes;
  return std::string(text);
}

// ---- lines ------------------------------------------------------------------

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimName(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Only spaces are taken off a value: a TAB at either end belongs to a list
// value whose first or last entry is empty.
std::string_view trimValue(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

struct Line {
  std::string_view body;  // without its line end
  std::string_view eol;   // "\r\n", "\n" or "" (last line without one)
};

// Calls visit(line) for each line of text until it returns false.
template <class Visit>
void forEachLine(std::string_view text, Visit&& visit) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t nl = text.find('\n', start);
    Line line;
    if (nl == std::string_view::npos) {
      line.body = text.substr(start);
      start = text.size();
    } else {
      const bool crlf = nl > start && text[nl - 1] == '\r';
      const std::size_t end = crlf ? nl - 1 : nl;
      line.body = text.substr(start, end - start);
      line.eol = text.substr(end, nl + 1 - end);
      start = nl + 1;
    }
    if (!visit(line)) return;
  }
}

enum class Kind { Other, Header, Entry };

struct Parsed {
  Kind kind = Kind::Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // trimmed
  std::size_t valueStart = 0;
};

Parsed parse(std::string_view body) {
  Parsed p;
  std::size_t i = 0;
  while (i < body.size() && isBlank(body[i])) ++i;
  if (i == body.size() || body[i] == ';') return p;
  if (body[i] == '[') {
    const std::size_t close = body.find(']', i + 1);
    p.kind = Kind::Header;
    p.name = trimName(body.substr(i + 1, close == std::string_view::npos ? close : close - i - 1));
    return p;
  }
  const std::size_t eq = body.find('=', i);
  if (eq == std::string_view::npos) return p;
  p.kind = Kind::Entry;
  p.name = trimName(body.substr(i, eq - i));
  std::size_t v = eq + 1;
  while (v < body.size() && body[v] == ' ') ++v;
  p.valueStart = v;
  p.value = trimValue(body.substr(v));
  return p;
}

bool isBlankLine(std::string_view body) { return trimName(body).empty(); }

// ---- case-insensitive names -----------------------------------------------

// Case folding over the letters the Windows code page has. Each pair has the
// same UTF-8 length, so folding never changes a name's length in bytes.
char32_t fold(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c < 0xC0) return c;
  if (c <= 0xDE && c != 0xD7) return c + 0x20;
  switch (c) {
    case 0x0152: case 0x0160: case 0x017D: return c + 1;
    case 0x0178: return 0x00FF;
    default: return c;
  }
}

// Next code point of valid UTF-8 text.
char32_t nextCodePoint(std::string_view s, std::size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  const auto cont = [&](std::size_t k) { return static_cast<char32_t>(s[i + k] & 0x3F); };
  char32_t c;
  std::size_t len;
  if (b < 0x80) c = b, len = 1;
  else if (b < 0xE0) c = ((b & 0x1Fu) << 6) | cont(1), len = 2;
  else if (b < 0xF0) c = ((b & 0x0Fu) << 12) | (cont(1) << 6) | cont(2), len = 3;
  else c = ((b & 0x07u) << 18) | (cont(1) << 12) | (cont(2) << 6) | cont(3), len = 4;
  i += len;
  return c;
}

void foldInto(std::string_view s, std::string& out) {
  out.assign(s);
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t at = i;
    const char32_t c = nextCodePoint(s, i);
    const char32_t f = fold(c);
    if (f == c) continue;
    if (f < 0x80) {
      out[at] = static_cast<char>(f);
    } else {  // two-byte letters only
      out[at] = static_cast<char>(0xC0 | (f >> 6));
      out[at + 1] = static_cast<char>(0x80 | (f & 0x3F));
    }
  }
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  std::size_t i = 0, j = 0;
  while (i < a.size())
    if (fold(nextCodePoint(a, i)) != fold(nextCodePoint(b, j))) return false;
  return true;
}

// ---- checks on what is written -------------------------------------------

bool holdsLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

[[noreturn]] void refuse() { throw RuntimeError(rt::InvalidProcedureCall); }

void checkSection(std::string_view section) {
  if (!isValidUtf8(section) || holdsLineBreakOrNul(section) || trimName(section).empty() ||
      section.find(']') != std::string_view::npos)
    refuse();
}

void checkEntry(std::string_view key, std::string_view value) {
  const std::string_view k = trimName(key);
  if (k.empty() || !isValidUtf8(key) || holdsLineBreakOrNul(key) ||
      k.find('=') != std::string_view::npos || k.front() == '[' || k.front() == ';')
    refuse();
  if (!isValidUtf8(value) || holdsLineBreakOrNul(value)) refuse();
}

// A symbolic link stays a link: the file it points to is the one rewritten.
std::string resolvedPath(const std::string& path) {
  std::error_code ec;
  if (!fs::is_symlink(path, ec)) return path;
  const fs::path target = fs::weakly_canonical(path, ec);
  return ec ? path : target.string();
}

}  // namespace

// The file as last read or written, and its keys by folded section and name
// (the first of duplicates), built on the first read after a change.
struct IniStore::Cache {
  FileStamp stamp;
  bool loaded = false;
  bool recent = false;  // changed too lately for its stamp to tell (below)
  std::string bytes;
  bool bom = false;
  bool indexed = false;
  std::unordered_map<std::string, std::string> values;

  static std::string keyOf(std::string_view foldedSection, std::string_view key) {
    std::string folded;
    foldInto(key, folded);
    return std::string(foldedSection).append("\n").append(folded);
  }

  void index() {
    values.clear();
    values.reserve(static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1);
    std::string section, scratch;
    bool inSection = false;
    forEachLine(bytes, [&](const Line& line) {
      const Parsed p = parse(line.body);
      if (p.kind == Kind::Other) return true;
      const bool codePage = !isValidUtf8(line.body);
      if (p.kind == Kind::Header) {
        foldInto(asText(p.name, codePage, scratch), section);
        inSection = true;
      } else if (inSection) {
        const auto [at, added] = values.try_emplace(keyOf(section, asText(p.name, codePage, scratch)));
        if (added) at->second.assign(asText(p.value, codePage, scratch));
      }
      return true;
    });
    indexed = true;
  }
};

IniStore::IniStore(std::string path) : path_(std::move(path)) {}
IniStore::~IniStore() = default;
IniStore::IniStore(IniStore&&) noexcept = default;
IniStore& IniStore::operator=(IniStore&&) noexcept = default;

IniStore::Cache& IniStore::current(const std::string& path) const {
  if (!cache_) cache_ = std::make_unique<Cache>();
  Cache& c = *cache_;
  // A stamp (one stat) tells whether another process replaced the file. A
  // file rewritten in place within one tick of the file system's clock keeps
  // its stamp, so one that changed in the last seconds is read again.
  if (c.loaded && !c.recent && c.stamp == fileStamp(path)) return c;
  FileStamp stamp;
  Content content = load(path, stamp);
  const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch()).count();
  c.recent = now - stamp.modified < 2'000'000'000;
  if (c.loaded && stamp.exists && content.bom == c.bom && content.bytes == c.bytes) {
    c.stamp = stamp;  // the same bytes: the keys found in them still hold
    return c;
  }
  c.bytes = std::move(content.bytes);
  c.bom = content.bom;
  c.stamp = stamp;
  c.loaded = stamp.exists;
  c.indexed = false;
  c.values.clear();
  return c;
}

std::string IniStore::read(const std::string& section, const std::string& key) const {
  const std::string_view wantSection = trimName(section);
  const std::string_view wantKey = trimName(key);
  if (wantKey.empty() || !isValidUtf8(wantSection) || !isValidUtf8(wantKey)) return {};
  Cache& c = current(path_);
  if (!c.indexed) c.index();
  std::string folded;
  foldInto(wantSection, folded);
  const auto it = c.values.find(Cache::keyOf(folded, wantKey));
  return it == c.values.end() ? std::string() : it->second;
}

int IniStore::removeStaleTempFiles() const { return kelvane::removeStaleTempFiles(resolvedPath(path_)); }

void IniStore::check(const std::string& section, const IniEntries& entries) {
  checkSection(section);
  for (const auto& [key, value] : entries) checkEntry(key, value);
}

bool IniStore::sameKey(std::string_view a, std::string_view b) { return sameName(trimName(a), trimName(b)); }

std::string_view IniStore::readBack(std::string_view value) { return trimValue(value); }

void IniStore::write(const std::string& section, const IniEntries& entries) {
  check(section, entries);
  const std::string_view wantSection = trimName(section);

  // The keys to set, each once, in the order first given; the last value wins.
  struct Want {
    std::string_view key;
    std::string_view value;
    std::size_t line = SIZE_MAX;  // first line holding the key
  };
  std::vector<Want> wants;
  std::unordered_map<std::string, std::size_t> byFolded;
  std::string folded;
  for (const auto& [key, given] : entries) {
    // Spaces before a value never read back, and the blanks after "=" are
    // kept: written too, they would add one more at every rewrite.
    std::string_view value = given;
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    foldInto(trimName(key), folded);
    const auto [it, added] = byFolded.try_emplace(folded, wants.size());
    if (added) wants.push_back({trimName(key), value});
    else wants[it->second].value = value;
  }

  // Read, change and replace under the lock, so that keys another process
  // writes meanwhile are not lost.
  const std::string target = resolvedPath(path_);
  const WriteLock lock(target, kLockWaitMs);
  Cache& cache = current(target);
  const std::string& bytes = cache.bytes;
  const bool bom = cache.bom;

  std::vector<Line> lines;
  std::size_t insertAfter = SIZE_MAX;  // last non-blank line of the first section found
  bool inSection = false, inFirst = false, seenSection = false;
  std::size_t utf8Lines = 0, codePageLines = 0;  // lines that are not plain ASCII
  std::string scratch;
  forEachLine(bytes, [&](const Line& line) {
    const std::size_t index = lines.size();
    lines.push_back(line);
    const bool codePage = !isValidUtf8(line.body);
    if (codePage) ++codePageLines;
    else if (!isAscii(line.body)) ++utf8Lines;
    const Parsed p = parse(line.body);
    if (p.kind == Kind::Header) {
      inSection = sameName(asText(p.name, codePage, scratch), wantSection);
      inFirst = inSection && !seenSection;
      if (inFirst) insertAfter = index;
      seenSection = seenSection || inSection;
      return true;
    }
    if (inFirst && !isBlankLine(line.body)) insertAfter = index;
    if (p.kind == Kind::Entry && inSection) {
      foldInto(asText(p.name, codePage, scratch), folded);
      const auto it = byFolded.find(folded);
      if (it != byFolded.end() && wants[it->second].line == SIZE_MAX)
        wants[it->second].line = index;
    }
    return true;
  });

  // New lines take the encoding most of the file's lines have (the code page,
  // as Windows writes, when nothing tells), and the line end it already uses.
  const Encoding usual = bom || utf8Lines > codePageLines ? Encoding::Utf8 : Encoding::CodePage;
  std::string_view eol = "\r\n";
  if (!lines.empty() && lines.front().eol == "\n") eol = "\n";

  std::string appended;
  for (const Want& w : wants) {
    if (w.line != SIZE_MAX) continue;
    appended.append(lineBytes(std::string(w.key).append("=").append(w.value), usual)).append(eol);
  }
  std::vector<const Want*> replaceAt(lines.size(), nullptr);
  for (const Want& w : wants)
    if (w.line != SIZE_MAX) replaceAt[w.line] = &w;

  // The line end given to a last line that has none. A CR at its end stays
  // part of the line only when a full CR LF follows it.
  const auto endFor = [&](const Line& line) -> std::string_view {
    return line.body.ends_with('\r') ? std::string_view("\r\n") : eol;
  };

  std::string out(bom ? kBom : std::string_view());
  out.reserve(bytes.size() + appended.size() + section.size() + 16);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (replaceAt[i]) {
      // Keep the key as the file spells it, the blanks around "=", and the
      // line's own encoding where the new value allows.
      const bool codePage = !isValidUtf8(line.body);
      const Encoding own = codePage ? Encoding::CodePage : isAscii(line.body) ? usual : Encoding::Utf8;
      std::string text(asText(line.body.substr(0, parse(line.body).valueStart), codePage, scratch));
      out.append(lineBytes(text.append(replaceAt[i]->value), own));
    } else {
      out.append(line.body);
    }
    if (i == insertAfter && !appended.empty()) {
      out.append(line.eol.empty() ? endFor(line) : line.eol).append(appended);
    } else {
      out.append(line.eol);
    }
  }
  if (!seenSection) {
    if (!lines.empty()) {
      if (lines.back().eol.empty()) out.append(endFor(lines.back()));
      if (!isBlankLine(lines.back().body)) out.append(eol);
    }
    out.append(lineBytes("[" + std::string(wantSection) + "]", usual)).append(eol).append(appended);
  }

  writeFileAtomic(target, out);

  // The file now holds what was written: the next read need not load it.
  cache.stamp = fileStamp(target);
  cache.loaded = cache.stamp.exists;
  cache.recent = false;  // a file of its own, not one rewritten in place
  cache.bytes.assign(std::string_view(out).substr(bom ? kBom.size() : 0));
  if (cache.indexed) {
    std::string foldedSection;
    foldInto(wantSection, foldedSection);
    for (const Want& w : wants) cache.values[Cache::keyOf(foldedSection, w.key)] = std::string(trimValue(w.value));
  }
}

void IniStore::write(const std::string& section, const std::string& key, const std::string& value) {
  write(section, IniEntries{{key, value}});
}

}  // namespace kelvane
