#include "settings/ini_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "settings/code_page.h"
#include "support/file_helpers.h"
#include "testkit/files.h"

namespace kelvane {
namespace {

using namespace std::string_literals;
using testkit::failureOf;
using testkit::getBytes;
using testkit::putBytes;

const std::string kSec = "Initialization";
const std::set<std::string> kOnlyTheFile{"Kelvane.ini", ".Kelvane.ini.lock"};

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
      {"; \xA7\r\n[Initialization]\r\nA=T\xC3\xA9l\r\n", "A", "T\xC3\xA9l"},  // a stray byte elsewhere
      {"[Initialization]\r\nA=x\0y\r\n"s, "A", "x\0y"s},
      {"[Initialization]\r\nKey=" + longValue + "\r\n", "Key", longValue},
  };
  for (const auto& [bytes, key, want] : cases) {
    putBytes(file, bytes);
    EXPECT_EQ(store.read(kSec, key), want) << bytes.substr(0, 80);
  }
}

// Only the lines of the keys written change. Encodings go by line: a changed
// line keeps its own unless the value needs UTF-8; new lines take what most
// lines have, else the code page.
TEST_F(IniStoreTest, WritesChangeOnlyTheLinesOfTheirKeys) {
  const std::string kept = "; note\r\n[Initialization]\r\nA = 1 \r\nB=2\r\n\r\n[Other]\r\nA=9\r\n";
  const std::string mixed = "; \xA7\r\n[Initialization]\r\nA=T\xE9l\r\nB=T\xC3\xA9l\r\n";
  const std::string init = "[Initialization]\r\n";
  const std::tuple<std::string, IniEntries, std::string> cases[] = {  // before, set, after
      {"", {{"Key", "v"}}, "[Initialization]\r\nKey=v\r\n"},
      {kept, {{"a", "  5"}}, "; note\r\n[Initialization]\r\nA = 5\r\nB=2\r\n\r\n[Other]\r\nA=9\r\n"},
      {kept, {{"C", "3"}}, "; note\r\n[Initialization]\r\nA = 1 \r\nB=2\r\nC=3\r\n\r\n[Other]\r\nA=9\r\n"},
      {"[Other]\r\nA=1", {{"K", "v"}}, "[Other]\r\nA=1\r\n\r\n[Initialization]\r\nK=v\r\n"},
      {"[Initialization]\nA=1", {{"B", "2"}}, "[Initialization]\nA=1\nB=2\n"},
      {"[Initialization]\nA=1\r", {{"B", "2"}}, "[Initialization]\nA=1\r\r\nB=2\n"},  // "1\r" stays
      {"[Initialization]\r\nA=1\r\na=2\r\n", {{"A", ""}}, "[Initialization]\r\nA=\r\na=2\r\n"},
      {init, {{"X", "1"}, {"Y", "2"}, {"x", "3"}}, "[Initialization]\r\nX=3\r\nY=2\r\n"},
      {"", {{"V", "\xC3\xA9"}}, init + "V=\xE9\r\n"},
      {"", {{"V", "\xE2\x98\x85"}}, init + "V=\xE2\x98\x85\r\n"},
      {"", {{"V", "\xC3\xA9\xE2\x82\xAC\xE2\x82\xAC"}}, init + "V=\xC3\xA9\xE2\x82\xAC\xE2\x82\xAC\r\n"},  // not E9 80 80
      {init + "A=\xC3\xA9\r\n", {{"V", "\xC3\xBC"}}, init + "A=\xC3\xA9\r\nV=\xC3\xBC\r\n"},
      {"\xEF\xBB\xBF" + init, {{"V", "\xC3\xBC"}}, "\xEF\xBB\xBF" + init + "V=\xC3\xBC\r\n"},
      {mixed, {{"a", "\xC3\xBC"}}, "; \xA7\r\n[Initialization]\r\nA=\xFC\r\nB=T\xC3\xA9l\r\n"},
      {mixed, {{"b", "\xC3\xBC"}}, "; \xA7\r\n[Initialization]\r\nA=T\xE9l\r\nB=\xC3\xBC\r\n"},
      {mixed, {{"B", "T\xC3\xA9l\tH\xCE\xB1"}}, "; \xA7\r\n[Initialization]\r\nA=T\xE9l\r\nB=T\xC3\xA9l\tH\xCE\xB1\r\n"},
      {mixed, {{"V", "\xC3\xBC"}}, mixed + "V=\xFC\r\n"},
      {init + "T\xE9l=1\r\n", {{"t\xC3\xA9L", "H\xCE\xB1"}}, init + "T\xC3\xA9l=H\xCE\xB1\r\n"},
  };
  for (const auto& [before, set, after] : cases) {
    setFile(before);
    store.write(kSec, set);
    EXPECT_EQ(getBytes(file), after) << before;
    EXPECT_EQ(store.read(kSec, set.back().first), IniStore::readBack(set.back().second));
    store.write(kSec, set);  // the same again changes no byte
    EXPECT_EQ(getBytes(file), after) << before;
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

TEST_F(IniStoreTest, GarbageIsKeptAndStillTakesAKey) {
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

}

// Writers in processes of their own (threads where there is no fork), each
// adding its own keys one write at a time, none waiting long for its turn
// (a polling waiter could lose to the others for seconds), and a reader
// that sees each change.
TEST_F(IniStoreTest, ConcurrentWritersLoseNoKeyAndWaitOnlyTheirTurn) {
  [[maybe_unused]] constexpr int kWriters = 8;
  constexpr int kKeys = 40;
  // Appended: GCC 12 -O3 warns falsely (-Wrestrict) on "W" + a temporary.
  const auto key = [](int w, int k) { return (std::string("W") += std::to_string(w)) + "K" + std::to_string(k); };
  const auto writer = [&](int w) noexcept {
    auto worst = std::chrono::steady_clock::duration::zero();
    for (int k = 0; k < kKeys; ++k) {
      const auto start = std::chrono::steady_clock::now();
      IniStore(file).write(kSec, key(w, k), "1");
      worst = std::max(worst, std::chrono::steady_clock::now() - start);
    }
    return worst < std::chrono::seconds(1);
  };
#ifdef _WIN32
  std::thread a(writer, 0), b(writer, 1), c(writer, 2);
  a.join(), b.join(), c.join();
  constexpr int kStarted = 3;
#else
  constexpr int kStarted = kWriters;
  for (int w = 0; w < kWriters; ++w)
    if (::fork() == 0) ::_exit(writer(w) ? 0 : 1);
  for (int status = 0; ::wait(&status) > 0;) EXPECT_EQ(status, 0);
#endif
  const std::string all = getBytes(file);
  int lost = 0;
  for (int w = 0; w < kStarted; ++w)
    for (int k = 0; k < kKeys; ++k) lost += all.find(key(w, k) + "=") == std::string::npos || store.read(kSec, key(w, k)) != "1";
  EXPECT_EQ(lost, 0);
}

// A writer killed at any moment (where there are signals) leaves the old or
// the new file, whole; the sweep at start-up takes its temporary files, but
// no one else's and none while a writer is at work. KELVANE_KILLS sets the
// number of kills.
TEST_F(IniStoreTest, KilledWritersLeaveAWholeFileAndTheirLeftoversAreSwept) {
  std::string filler;
  for (int i = 0; i < 20000; ++i) filler += "Filler" + std::to_string(i) + "=some value\r\n";
  putBytes(file, "[Initialization]\r\nFirst=1\r\n" + filler + "Last=1\r\n");
  const int kills = std::getenv("KELVANE_KILLS") ? std::atoi(std::getenv("KELVANE_KILLS")) : 30;
  int broken = 0;
#ifndef _WIN32
  for (int round = 0; round < kills; ++round) {
    const pid_t pid = ::fork();
    if (pid == 0) [&]() noexcept { for (int n = 0;; ++n) store.write(kSec, "Counter", std::to_string(n)); }();
    ::usleep(static_cast<useconds_t>(1000 + round * 7919 % 30000));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    broken += store.read(kSec, "First") != "1" || store.read(kSec, "Last") != "1";
  }
#endif
  EXPECT_EQ(broken, 0);
  std::set<std::string> left{".Kelvane.ini.x1.tmp", ".Other.ini.123456.tmp", "Kelvane.ini.123456.tmp"};
  for (const auto& name : left) putBytes(folder.path(name), "not ours");
  putBytes(folder.path(".Kelvane.ini.42.tmp"), "");  // as earlier versions named them
  putBytes(folder.path(".Kelvane.ini.000007.tmp"), "");
  {
    const WriteLock writing(file, 0);
    EXPECT_EQ(store.removeStaleTempFiles(), 0);
  }
  std::printf("%d kills: %d broken files, %d temporary files swept\n", kills, broken, store.removeStaleTempFiles());
  left.insert(kOnlyTheFile.begin(), kOnlyTheFile.end());
  EXPECT_EQ(folder.names(), left);
}

}  // namespace
}  // namespace kelvane
