#pragma once
// What a help window needs from a compiled help file (CHM) besides its pages:
// the start page and title (#SYSTEM), the topic numbers (#IVB with the texts
// of #STRINGS) and the table of contents (the .hhc sitemap). Pure functions
// over the bytes of those archive objects; reading the archive is the
// viewer's business.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

struct ChmSystemInfo {
  std::string contentsFile;  // the .hhc, as the compiler names it
  std::string defaultTopic;
  std::string title;
};

// The #SYSTEM object: a version word, then records of code, length, data.
ChmSystemInfo parseChmSystem(std::string_view data);

// The topic #IVB maps a context number to; "" when the number is not mapped
// or the objects are damaged.
std::string chmContextTopic(std::string_view ivb, std::string_view strings, std::uint32_t context);

struct ChmContentsEntry {
  std::string name;
  std::string local;  // the page, as written in the sitemap ("main.htm")
  int level = 0;      // 0 for the top list
};

// The entries of a sitemap (.hhc) in document order.
std::vector<ChmContentsEntry> parseChmSitemap(std::string_view hhc);

// The archive path ("/main.htm") of a topic text. Some compilers record the
// absolute source path of a mapped page (chmcmd 3.2.2 writes
// "/home/me/help/main.htm"); leading folders are dropped until the path
// names an object that exists. "" when none does.
std::string chmObjectPath(std::string topic, const std::function<bool(const std::string&)>& exists);

}  // namespace kelvane
