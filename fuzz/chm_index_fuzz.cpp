// The help window parses objects of a help file that may be damaged or
// replaced: #SYSTEM, #IVB with #STRINGS, and the contents sitemap must never
// read out of bounds, and a found topic must name an object that exists.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/chm_index.h"

using namespace kelvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const std::size_t third = size / 3;
  const std::string_view ivb = all.substr(0, third), strings = all.substr(third, third);
  parseChmSystem(all);
  for (const ChmContentsEntry& entry : parseChmSitemap(all))
    if (entry.level < 0) std::abort();
  const std::string topic = chmContextTopic(ivb, strings, size > 4 ? data[4] : 0);
  const std::string path = chmObjectPath(topic, [](const std::string& p) { return p.size() % 2 == 0; });
  if (!path.empty() && (path.front() != '/' || path.size() % 2 != 0)) std::abort();
  return 0;
}
