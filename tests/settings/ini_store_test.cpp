#include "settings/ini_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "settings/code_page.h"
#include "testkit/files.h"

namespace kelvane {
namespace {

using namespace std::string_literals;
using testkit::failureOf;
using testkit::getBytes;
using testkit::putBytes;

const std::string kSec = "Initialization";
const std::set<std::string> kOnlyTheFile{"Kelvane.ini"};

struct IniStoreTest : ::testing::Test {
  testkit::ScratchFolder folder;
  std::string file = folder.path("Kelvane.ini");
  IniStore store{file};
  void setFile(const std::string& bytes) {
    if (bytes.empty()) std::filesystem::remove(file);
    else putBytes(file, bytes);
  }
};

TEST_F(IniStoreTest, ReadsAsThePrivateProfileFunctionsDo) {
  const std::string longValue(300000, 'x');
  const std::tuple<std::string, std::string, std::string> cases[] = {  // file, key, value
      {"[Initialization]\r\nKey=Value\r\n", "Key", "Value"},
      {"[Initialization]\r\n  Key =  Value  \r\n", "Key", "Value"},
      {"[ initialization ]\r\nkEY=v\r\n", " KEY ", "v"},
      {"[Initialization]\r\nKey=1\r\nkey=2\r\n", "KEY", "1"},
      {"[Other]\r\nKey=v\r\n", "Key", ""},
      {"Key=early\r\n[Other]\r\nKey=x\r\n[Initialization]\r\nKey=y", "Key", "y"},
      {"[Initialization]\r\n;Key=c\r\nKey\r\nKey=w\r\n", "Key", "w"},
      {"[Initialization]\r\nKey=\r\nKey=later\r\n", "Key", ""},
      {"[Initialization]\r\nKey=a=b ; c\r\n", "Key", "a=b ; c"},
      {"[Initialization]\nList=\tA\t\n", "List", "\tA\t"},
      {"[Initialization]\r\nA=1\r\n[Other]\r\n[Initialization]\r\nB=2\r\n", "B", "2"},
      {"[Initialization]\r\nKey=\"q\"\r\n", "Key", "\"q\""},
      {"[Initialization]\r\nT\xC9LESCOPE|=7\r\n", "t\xC3\xA9lescope|", "7"},
      {"[Initialization]\r\nA=x\0y\r\n"s, "A", "x\0y"s},
      {"[Initialization]\r\nKey=" + longValue + "\r\n", "Key", longValue},
  };
  for (const auto& [bytes, key, want] : cases) {
    putBytes(file, bytes);
    EXPECT_EQ(store.read(kSec, key), want) << bytes.substr(0, 80);
  }
}

TEST_F(IniStoreTest, WritesChangeOnlyTheLinesOfTheirKeys) {
  const std::string kept = "; note\r\n[Initialization]\r\nA = 1 \r\nB=2\r\n\r\n[Other]\r\nA=9\r\n";
  const std::tuple<std::string, IniEntries, std::string> cases[] = {  // before, set, after
      {"", {{"Key", "v"}}, "[Initialization]\r\nKey=v\r\n"},
      {kept, {{"a", "5"}}, "; note\r\n[Initialization]\r\nA = 5\r\nB=2\r\n\r\n[Other]\r\nA=9\r\n"},
      {kept, {{"C", "3"}}, "; note\r\n[Initialization]\r\nA = 1 \r\nB=2\r\nC=3\r\n\r\n[Other]\r\nA=9\r\n"},
      {"[Other]\r\nA=1", {{"K", "v"}}, "[Other]\r\nA=1\r\n\r\n[Initialization]\r\nK=v\r\n"},
      {"[Initialization]\nA=1", {{"B", "2"}}, "[Initialization]\nA=1\nB=2\n"},
      {"[Initialization]\nA=1\r", {{"B", "2"}}, "[Initialization]\nA=1\r\r\nB=2\n"},  // "1\r" stays
      {"[Initialization]\r\nA=1\r\na=2\r\n", {{"A", ""}}, "[Initialization]\r\nA=\r\na=2\r\n"},
      {"[Initialization]\r\n", {{"X", "1"}, {"Y", "2"}, {"x", "3"}}, "[Initialization]\r\nX=3\r\nY=2\r\n"},
  };
  for (const auto& [before, set, after] : cases) {
    setFile(before);
    store.write(kSec, set);
    EXPECT_EQ(getBytes(file), after) << before;
  }
}

TEST_F(IniStoreTest, AFileWrittenOnWindowsLoadsWholeAndKeepsItsUnknownLines) {
  const std::string windowsFile =
      "[Initialization]\r\nLastBrightness = 250\r\nPresetList1=T\xE9lescope\tRefractor\r\n"
      "Custom=keep me\r\n; comment \xA7\r\nno equals here\r\n"
      "T\xE9lescope|Mono|2x2|Red|=300\r\n\r\n[Window]\r\nLeft=5\r\n";
  putBytes(file, windowsFile);
  EXPECT_EQ(store.read(kSec, "LastBrightness"), "250");
  EXPECT_EQ(store.read(kSec, "PresetList1"), "T\xC3\xA9lescope\tRefractor");
  EXPECT_EQ(store.read(kSec, "T\xC3\xA9lescope|Mono|2x2|Red|"), "300");

  store.write(kSec, {{"LastBrightness", "251"}, {"PresetList1", "T\xC3\xA9lescope\tRefractor"}, {"TurnOff", "1"}});
  std::string expected = windowsFile;
  expected.replace(expected.find("250"), 3, "251");
  expected.insert(expected.find("\r\n\r\n[Window]") + 2, "TurnOff=1\r\n");
  EXPECT_EQ(getBytes(file), expected);

  // A character the code page lacks turns the whole file into UTF-8, losing nothing.
  store.write(kSec, "Filter", "H\xCE\xB1");
  EXPECT_EQ(store.read(kSec, "Filter"), "H\xCE\xB1");
  EXPECT_EQ(store.read(kSec, "T\xC3\xA9lescope|Mono|2x2|Red|"), "300");
  EXPECT_NE(getBytes(file).find("; comment \xC2\xA7\r\n"), std::string::npos);
  EXPECT_EQ(store.read("Window", "Left"), "5");
}

TEST_F(IniStoreTest, EncodingIsKeptAndEveryValueReadsBack) {
  const std::tuple<std::string, std::string, std::string> cases[] = {  // before, value, its bytes
      {"", "\xC3\xA9", "\xE9"},                                        // new file: code page
      {"", "\xE2\x98\x85", "\xE2\x98\x85"},                            // new file: UTF-8
      {"[Initialization]\r\nA=\xC3\xA9\r\n", "\xC3\xBC", "\xC3\xBC"},  // UTF-8 stays UTF-8
      {"\xEF\xBB\xBF[Initialization]\r\n", "\xC3\xBC", "\xC3\xBC"},    // BOM kept
      {"", "\xC3\xA9\xE2\x82\xAC\xE2\x82\xAC", "\xC3\xA9\xE2\x82\xAC\xE2\x82\xAC"},  // E9 80 80 would read as UTF-8
  };
  for (const auto& [before, value, bytesOfValue] : cases) {
    setFile(before);
    store.write(kSec, "V", value);
    EXPECT_EQ(store.read(kSec, "V"), value);
    const std::string bytes = getBytes(file);
    EXPECT_NE(bytes.find("V=" + bytesOfValue + "\r\n"), std::string::npos) << value;
    EXPECT_EQ(bytes.starts_with("\xEF\xBB\xBF"), before.starts_with("\xEF\xBB\xBF"));
  }
  for (const char* good : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF"})
    EXPECT_TRUE(isValidUtf8(good)) << good;
  for (const char* bad : {"\xE9t\xE9", "\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80"})
    EXPECT_FALSE(isValidUtf8(bad)) << bad;
}

TEST_F(IniStoreTest, RefusedAndFailedWritesThrowAndLeaveTheFileAsItWas) {
  const std::string before = "[Initialization]\r\nA=1\r\n";
  const IniEntries bad[] = {
      {{"", "v"}},    {{" \t", "v"}},       {{"a=b", "v"}},       {{"[x", "v"}},  {{" ;x", "v"}},
      {{"a\nb", "v"}}, {{"A", "2\r\nB=3"}}, {{"A", "x\0y"s}},     {{"A", "\xFF"}},
      {{"A", "2"}, {"B", "ok"}, {"C", "\n"}},  // all or nothing
  };
  putBytes(file, before);
  for (const auto& entries : bad) {
    EXPECT_EQ(failureOf([&] { store.write(kSec, entries); }), rt::InvalidProcedureCall);
    EXPECT_EQ(getBytes(file), before);
  }
  EXPECT_EQ(failureOf([&] { store.write("a]b", "A", "2"); }), rt::InvalidProcedureCall);

  // Tests run as root, where permission bits bind nobody; a folder in the
  // file's place and a missing folder are failures root meets too.
  std::filesystem::remove(file);
  std::filesystem::create_directory(file);
  EXPECT_EQ(failureOf([&] { (void)store.read(kSec, "A"); }), rt::PathFileAccessError);
  EXPECT_EQ(failureOf([&] { store.write(kSec, "A", "1"); }), rt::PathFileAccessError);
  EXPECT_TRUE(std::filesystem::is_directory(file));
  IniStore lost(folder.path("missing/Kelvane.ini"));
  EXPECT_EQ(lost.read(kSec, "A"), "");
  EXPECT_EQ(failureOf([&] { lost.write(kSec, "A", "1"); }), rt::PathNotFound);
  EXPECT_EQ(folder.names(), kOnlyTheFile);  // no temporary file left behind
}

TEST_F(IniStoreTest, GarbageAndHugeFilesAreKeptAndStillTakeAKey) {
  std::mt19937 rng(7);
  std::string garbage(1 << 16, '\0');
  for (char& c : garbage) c = static_cast<char>(rng());
  garbage += std::string(1 << 20, 'L') + "\n[Initialization" + "\r\nNUL\0=1"s;  // long line, open header
  putBytes(file, garbage);
  (void)store.read(kSec, "A");
  store.write(kSec, "Added", "yes");
  EXPECT_TRUE(getBytes(file).starts_with(garbage));
  EXPECT_EQ(store.read(kSec, "Added"), "yes");
  EXPECT_EQ(store.read(kSec, "NUL\0"s), "1");

  std::string big = "[Initialization]\r\n";
  for (int i = 0; big.size() < 10'000'000; ++i) big += "Key" + std::to_string(i) + "=some value of the key\r\n";
  putBytes(file, big);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(store.read(kSec, "Missing"), "");
  store.write(kSec, {{"Key0", "changed"}, {"New", "1"}});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));  // minutes if quadratic
  EXPECT_EQ(store.read(kSec, "New"), "1");
}

}  // namespace
}  // namespace kelvane
