#include "settings/presets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <strings.h>

namespace kelvane {
namespace {

using namespace std::string_literals;

TEST(Presets, AddEntriesKeysAndStoredLists) {
  EXPECT_EQ(addEntryText(3), "** Add Binning Level **");
  for (int n = 1; n <= kSelectorCount; ++n) EXPECT_TRUE(isAddEntry(addEntryText(n)));
  for (const char* text : {"** Add", "** Addendum"}) EXPECT_TRUE(isAddEntry(text)) << text;
  for (const char* text : {"** add Camera **", "**Add", "** Ad", " ** Add"}) EXPECT_FALSE(isAddEntry(text)) << text;

  EXPECT_EQ(durationKey(presetKey({"Refractor", "Mono", "2x2", "Red"})), "Refractor|Mono|2x2|Red|Duration");
  EXPECT_EQ(presetKey({"Refractor", "", "2x2", "Red"}), "Refractor||2x2|Red|");
  using Names = std::vector<std::string>;
  const std::pair<std::string, Names> lists[] = {
      {"1x1\t2x2\t3x3", {"1x1", "2x2", "3x3"}}, {"\tA", {"", "A"}}, {"A\t\tB\t", {"A", "", "B", ""}}, {"", {}}};
  for (const auto& [stored, names] : lists) {
    EXPECT_EQ(splitPresetList(stored), names) << stored;
    EXPECT_EQ(joinPresetList(names), stored);
  }
}

TEST(Presets, NamesTheFileCannotCarryAreRefused) {
  for (const std::string& name : {"Refractor"s, "  Mono  "s, "T\xC3\xA9lescope"s, "a[b]"s, "x;y"s, "** Add x"s})
    EXPECT_EQ(nameProblem(name), "") << name;
  for (const std::string& name : {"a\tb"s, "a|b"s, "a=b"s, "a\rb"s, "a\nb"s, "a\0b"s, "[S]"s, ";c"s, " [x"s})
    EXPECT_NE(nameProblem(name), "") << name;
}

// Against inserting the names one by one as the add prompt does; "**" sorts
// below letters, as in the usual collations.
TEST(Presets, SortedDistinctGivesWhatInsertingOneByOneGives) {
  const auto compare = [](const std::string& a, const std::string& b) { return ::strcasecmp(a.c_str(), b.c_str()); };
  const std::vector<std::string> pool = {"b", "B", "a", "C", "", "** add x **", "** ADD X **", "zz", "** a"};
  std::mt19937 rng(3);
  for (int round = 0; round < 500; ++round) {
    std::vector<std::string> names(rng() % 8), box{"** Add X **"};
    for (auto& name : names) name = pool[rng() % pool.size()];
    for (const auto& name : names) {
      auto at = std::find_if(box.begin(), box.end(), [&](const std::string& e) { return compare(e, name) >= 0; });
      if (at == box.end() || compare(*at, name) > 0) box.insert(at == box.end() ? at - 1 : at, name);
    }
    box.pop_back();
    EXPECT_EQ(sortedDistinct(names, std::string("** Add X **"), compare), box) << joinPresetList(names);
  }
}

}  // namespace
}  // namespace kelvane
