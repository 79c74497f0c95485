#include "support/chm_index.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

namespace kelvane {
namespace {

std::string dwords(std::initializer_list<std::uint32_t> values) {
  std::string out;
  for (std::uint32_t v : values)
    for (int k = 0; k < 4; ++k) out += static_cast<char>((v >> (8 * k)) & 0xFF);
  return out;
}

TEST(ChmIndex, ContextNumbersMapThroughStringsAndDamageGivesNothing) {
  const std::string strings = std::string("\0/src/help/main.htm\0faq.htm\0", 29);
  const std::string ivb = dwords({16, 2100, 1, 2200, 20});
  EXPECT_EQ(chmContextTopic(ivb, strings, 2100), "/src/help/main.htm");
  EXPECT_EQ(chmContextTopic(ivb, strings, 2200), "faq.htm");
  EXPECT_EQ(chmContextTopic(ivb, strings, 7), "");
  EXPECT_EQ(chmContextTopic(dwords({8, 2100, 999}), strings, 2100), "");  // offset past the end
  EXPECT_EQ(chmContextTopic(dwords({800, 2100}), strings, 2100), "");     // count past the end
  EXPECT_EQ(chmContextTopic(ivb.substr(0, 3), strings, 2100), "");

  const std::set<std::string> objects = {"/main.htm", "/sub/page.htm"};
  const auto exists = [&](const std::string& p) { return objects.count(p) > 0; };
  for (const auto& [topic, path] : {std::pair<std::string, std::string>{"/src/help/main.htm", "/main.htm"},
                                    {"main.htm#top", "/main.htm"}, {"sub\\page.htm", "/sub/page.htm"},
                                    {"/x/sub/page.htm?q", "/sub/page.htm"}, {"gone.htm", ""}, {"", ""}})
    EXPECT_EQ(chmObjectPath(topic, exists), path) << topic;
}

TEST(ChmIndex, SystemRecordsAndSitemapLevels) {
  std::string system = dwords({3});
  for (const auto& [code, text] : {std::pair<std::uint16_t, std::string>{0, "toc.hhc"}, {9, "chmcmd"},
                                   {2, "index.htm"}, {3, "Kelvane Help"}}) {
    const std::size_t length = text.size() + 1;
    system += std::string{static_cast<char>(code), 0, static_cast<char>(length), 0} + text + '\0';
  }
  system += std::string{3, 0, 50, 0} + "cut";  // a record longer than the data
  const ChmSystemInfo info = parseChmSystem(system);
  EXPECT_EQ(info.contentsFile + "|" + info.defaultTopic + "|" + info.title, "toc.hhc|index.htm|cut");

  const auto entries = parseChmSitemap(
      "<OBJECT type=\"text/site properties\"><param name=\"Name\" value=\"no\"></OBJECT>"
      "<UL><LI><OBJECT type=\"text/sitemap\"><PARAM NAME=\"Name\" VALUE=\"A &amp; B\">"
      "<param name=Local value=a.htm></OBJECT>"
      "<ul><li><object type='text/sitemap'><param name='Local' value='b.htm'><param name='Name' value='B'></object>"
      "</ul><li><object type=\"text/sitemap\"><param name=\"Name\" value=\"C\"></object></ul>");
  std::vector<std::tuple<std::string, std::string, int>> got;
  for (const auto& e : entries) got.emplace_back(e.name, e.local, e.level);
  EXPECT_EQ(got, (decltype(got){{"A & B", "a.htm", 0}, {"B", "b.htm", 1}, {"C", "", 0}}));
}

}  // namespace
}  // namespace kelvane
