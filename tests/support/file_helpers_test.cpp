#include "support/file_helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>

#ifndef _WIN32
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// fsync as the system has it, unless a test watches it or makes it fail.
static std::function<int(int)> fsyncHook;
extern "C" int fsync(int fd) { return fsyncHook ? fsyncHook(fd) : static_cast<int>(::syscall(SYS_fsync, fd)); }
#endif

#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/files.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

struct FileHelpersTest : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  testkit::ScratchFolder folder;
};

TEST_F(FileHelpersTest, TrimNullAndWhatExists) {
  EXPECT_EQ(trimNull("abc"), "abc");
  EXPECT_EQ(trimNull(std::string("\0abc", 4)), "");
  EXPECT_EQ(trimNull(std::string("ab\0c\0", 5)), "ab");
  testkit::putBytes(folder.path("f"), "x");
  for (const auto& [path, file, any] : {std::tuple{folder.dir.string(), false, true}, {folder.path("f"), true, true},
                                        {folder.path("missing"), false, false}, {std::string(), false, false}}) {
    EXPECT_EQ(fileExists(path), file) << path;
    EXPECT_EQ(pathExists(path), any) << path;
  }
}

TEST_F(FileHelpersTest, FilesAreReadAndWrittenByteForByteAndAMissingOneIsSaid) {
  const std::string bytes("line\r\n\0\xFF\xE9 end", 13);
  stringtoFile(errors, folder.path("a.txt"), bytes);
  EXPECT_EQ(readFiletoString(errors, folder.path("a.txt")), bytes + "\r\n");
  stringtoFile(errors, folder.path("a.txt"), "short");
  EXPECT_EQ(testkit::getBytes(folder.path("a.txt")), "short\r\n");
  EXPECT_TRUE(host.shown.empty());

  for (const std::string& path : {folder.path("nope.txt"), folder.dir.string()})  // a folder is no file either
    EXPECT_EQ(readFiletoString(errors, path), "");
  ASSERT_EQ(host.count("msgBox"), 2);
  EXPECT_EQ(std::tuple(host.shown[0].text, host.shown[0].title, host.shown[0].buttons),
            std::tuple("File does not exist: " + folder.path("nope.txt"), "ReadFiletoString Error", mb::OkOnly));
}

TEST_F(FileHelpersTest, AtomicWritesLeaveNoTemporaryFileBehind) {
  writeFileAtomic(folder.path("s.ini"), "one");
  writeFileAtomic(folder.path("s.ini"), "two");
  EXPECT_EQ(testkit::getBytes(folder.path("s.ini")), "two");
  fs::create_directory(folder.path("taken"));  // a target that cannot be replaced fails cleanly
  EXPECT_NE(testkit::failureOf([&] { writeFileAtomic(folder.path("taken"), "x"); }), 0);
  EXPECT_EQ(testkit::failureOf([&] { writeFileAtomic(folder.path("no/such/folder.ini"), "x"); }), rt::PathNotFound);
  EXPECT_EQ(folder.names(), (Names{"s.ini", "taken"}));
}

#ifndef _WIN32
// A pipe is neither waited on nor replaced, an oversized file never read
// into memory; each is refused naming the file.
TEST_F(FileHelpersTest, OnlyRegularFilesWithinTheBoundAreReadOrReplaced) {
  ASSERT_EQ(::mkfifo(folder.path("pipe").c_str(), 0600), 0);
  fs::create_symlink(folder.path("pipe"), folder.path("link"));
  testkit::putBytes(folder.path("big"), "");
  fs::resize_file(folder.path("big"), kMaxFileBytes + 1);  // sparse: costs no disk
  for (const char* name : {"pipe", "link", "big"}) {
    EXPECT_EQ(readFiletoString(errors, folder.path(name)), "");
    EXPECT_NE(host.shown.back().text.find(folder.path(name)), std::string::npos);
  }
  EXPECT_EQ(testkit::failureOf([&] { writeFileAtomic(folder.path("link"), "x"); }), rt::PathFileAccessError);
  EXPECT_TRUE(fs::is_fifo(folder.path("pipe")) && fs::is_symlink(folder.path("link")));
  EXPECT_EQ(host.shown[0].text, "Not a regular file (a folder, device, pipe or socket): " + folder.path("pipe"));
  EXPECT_EQ(host.shown[2].text, "File is larger than 32 MiB: " + folder.path("big"));
}
#endif

#ifndef _WIN32
TEST_F(FileHelpersTest, AReplacementReachesTheDiskWithItsFolderAndKeepsModeAndOwner) {
  const std::string path = folder.path("s.ini");
  testkit::putBytes(path, "old");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;  // only root may give a file away
  if (root) {
    ASSERT_EQ(::chown(path.c_str(), 1234, 5678), 0);
  }
  std::vector<std::string> synced;  // the file, then the folder once the new file is in place
  fsyncHook = [&](int fd) {
    struct stat st {};
    ::fstat(fd, &st);
    synced.push_back(S_ISDIR(st.st_mode) ? "folder with " + testkit::getBytes(path) : "file");
    return static_cast<int>(::syscall(SYS_fsync, fd));
  };
  writeFileAtomic(path, "new");
  EXPECT_EQ(synced, (std::vector<std::string>{"file", "folder with new"}));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(std::pair(st.st_uid, st.st_gid), std::pair(1234u, 5678u));
    // What root makes in another user's folder becomes that user's.
    ASSERT_EQ(::chown(folder.dir.c_str(), 1234, 5678), 0);
    makeFolder(folder.path("new") + "/");
    writeFileAtomic(folder.path("new.ini"), "x");
    for (const char* made : {"new", "new.ini"}) {
      ASSERT_EQ(::stat(folder.path(made).c_str(), &st), 0);
      EXPECT_EQ(std::pair(st.st_uid, st.st_gid), std::pair(1234u, 5678u)) << made;
    }
    fs::remove(folder.path("new"));
    fs::remove(folder.path("new.ini"));
  }

  const auto openFiles = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
  const auto before = openFiles();
  fsyncHook = [](int) { return errno = EIO, -1; };
  EXPECT_EQ(testkit::failureOf([&] { writeFileAtomic(path, "lost"); }), rt::DeviceIOError);
  fsyncHook = nullptr;
  EXPECT_EQ(openFiles(), before);  // the temporary file's descriptor was closed
  EXPECT_EQ(testkit::getBytes(path), "new");
  EXPECT_EQ(folder.names(), Names{"s.ini"});
}
#endif

TEST_F(FileHelpersTest, FoldersEndInASeparator) {
  EXPECT_EQ(getTempDir().back(), kPathSeparator);
#ifndef _WIN32
  std::optional<std::string> saved[2];
  const char* names[2] = {"XDG_CONFIG_HOME", "HOME"};
  for (int k = 0; k < 2; ++k)
    if (const char* v = std::getenv(names[k])) saved[k] = v;
  const std::string f = folder.dir.string();
  for (const auto& [xdg, home, expected] :  // XDG_CONFIG_HOME "-": unset
       {std::tuple{f + "/cfg", f, f + "/cfg/"}, {"relative/cfg", f, f + "/.config/"}, {"", f, f + "/.config/"},
        {"-", f + "/h", f + "/h/.config/"}, {"/", f, "/"},
       {"-", "-", std::string(::getpwuid(::getuid())->pw_dir) + "/.config/"}}) {  // the password database's
    if (xdg != "-") ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
    else ::unsetenv("XDG_CONFIG_HOME");
    if (home != "-") ::setenv("HOME", home.c_str(), 1);
    else ::unsetenv("HOME");
    EXPECT_EQ(getSpecialFolder(CSIDL_APPDATA), expected);
    EXPECT_TRUE(fs::is_directory(expected));  // made on a fresh account
  }
  for (int k = 0; k < 2; ++k) saved[k] ? ::setenv(names[k], saved[k]->c_str(), 1) : ::unsetenv(names[k]);
  EXPECT_EQ(getSpecialFolder(5), "");
#endif
}

}  // namespace
}  // namespace kelvane
