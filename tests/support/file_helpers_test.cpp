#include "support/file_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>

#include "support/error_handler.h"
#include "support/runtime_error.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

namespace fs = std::filesystem;

struct FileHelpersTest : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  fs::path folder;

  void SetUp() override {
    folder = fs::temp_directory_path() / ("kelvane_files_" + std::to_string(std::random_device{}()));
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }

  std::string at(const std::string& name) const { return (folder / name).string(); }
  static std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST(TrimNullTest, CutsAtTheFirstNul) {
  EXPECT_EQ(trimNull("abc"), "abc");
  EXPECT_EQ(trimNull(std::string("\0abc", 4)), "");
  EXPECT_EQ(trimNull(std::string("ab\0c\0", 5)), "ab");
  EXPECT_EQ(trimNull(""), "");
}

TEST_F(FileHelpersTest, FileExistsIsFalseForFoldersPathExistsIsNot) {
  { std::ofstream(at("f")) << "x"; }
  struct Case {
    std::string path;
    bool file, path_;
  };
  for (const Case& c : {Case{folder.string(), false, true}, Case{at("f"), true, true},
                        Case{at("missing"), false, false}, Case{"", false, false}}) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(fileExists(c.path), c.file);
    EXPECT_EQ(pathExists(c.path), c.path_);
  }
}

TEST_F(FileHelpersTest, ReadingAMissingFileSaysSoAndGivesNothing) {
  EXPECT_EQ(readFiletoString(errors, at("nope.txt")), "");
  ASSERT_EQ(host.shown.size(), 1u);
  EXPECT_EQ(host.shown[0].kind, "msgBox");
  EXPECT_EQ(host.shown[0].text, "File does not exist: " + at("nope.txt"));
  EXPECT_EQ(host.shown[0].title, "ReadFiletoString Error");
  EXPECT_EQ(host.shown[0].buttons, mb::OkOnly);

  // A folder is no file either.
  EXPECT_EQ(readFiletoString(errors, folder.string()), "");
  EXPECT_EQ(host.count("msgBox"), 2);
}

TEST_F(FileHelpersTest, FilesAreReadAndWrittenByteForByte) {
  const std::string bytes("line\r\n\0\xFF\xE9 end", 13);
  stringtoFile(errors, at("a.txt"), bytes);
  EXPECT_EQ(contentOf(at("a.txt")), bytes + "\r\n");
  EXPECT_EQ(readFiletoString(errors, at("a.txt")), bytes + "\r\n");
  stringtoFile(errors, at("a.txt"), "short");
  EXPECT_EQ(readFiletoString(errors, at("a.txt")), "short\r\n");
  EXPECT_TRUE(host.shown.empty());
  EXPECT_EQ(entries(), std::vector<std::string>{"a.txt"});
}

TEST_F(FileHelpersTest, AtomicWritesLeaveNoTemporaryFileBehind) {
  writeFileAtomic(at("s.ini"), "one");
  writeFileAtomic(at("s.ini"), "two");
  EXPECT_EQ(contentOf(at("s.ini")), "two");
  EXPECT_EQ(entries(), std::vector<std::string>{"s.ini"});

  // A target that cannot be replaced (a folder of that name) fails cleanly.
  fs::create_directory(at("taken"));
  int failure = 0;
  try {
    writeFileAtomic(at("taken"), "x");
  } catch (const RuntimeError& e) {
    failure = e.number();
  }
  EXPECT_NE(failure, 0);
  EXPECT_EQ(entries(), (std::vector<std::string>{"s.ini", "taken"}));

  try {
    writeFileAtomic(at("no/such/folder.ini"), "x");
  } catch (const RuntimeError& e) {
    failure = e.number();
  }
  EXPECT_EQ(failure, rt::PathNotFound);
}

TEST_F(FileHelpersTest, StringtoFileReportsThroughItsTrap) {
  host.msgBox2Answers = {"Ignore"};
  stringtoFile(errors, at("no/folder/status.log"), "x");
  ASSERT_EQ(host.count("msgBox2"), 1);
  EXPECT_EQ(host.shown[0].title, "Error 76 in StringtoFile");
  EXPECT_NE(host.shown[0].text.find("Module: Module1"), std::string::npos);
}

TEST(TempDirTest, EndsInASeparator) {
  const std::string t = getTempDir();
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(t.back(), kPathSeparator);
}

#ifndef _WIN32
// Sets environment variables for one test and puts them back afterwards.
class EnvGuard {
 public:
  void set(const char* name, const char* value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) ::setenv(name, value, 1);
    else ::unsetenv(name);
  }
  ~EnvGuard() {
    for (const auto& [name, value] : saved_) {
      if (value) ::setenv(name.c_str(), value->c_str(), 1);
      else ::unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(FileHelpersTest, TheApplicationDataFolderEndsInASeparator) {
  EnvGuard env;
  struct Case {
    std::optional<std::string> xdg;
    std::string home;
    std::string expected;
  };
  const std::string f = folder.string();
  for (const Case& c : {Case{f + "/cfg", f, f + "/cfg/"}, Case{f + "/cfg2/", f, f + "/cfg2/"},
                        Case{"relative/cfg", f, f + "/.config/"}, Case{std::nullopt, f + "/h", f + "/h/.config/"},
                        Case{"", f, f + "/.config/"}, Case{"/", f, "/"}}) {
    SCOPED_TRACE(c.xdg.value_or("(unset)"));
    env.set("XDG_CONFIG_HOME", c.xdg ? c.xdg->c_str() : nullptr);
    env.set("HOME", c.home.c_str());
    EXPECT_EQ(getSpecialFolder(CSIDL_APPDATA), c.expected);
    EXPECT_TRUE(fs::is_directory(c.expected));  // made on a fresh account
  }
  EXPECT_EQ(getSpecialFolder(5), "");
}
#endif

}  // namespace
}  // namespace kelvane
