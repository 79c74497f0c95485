// The file helpers on Windows, where paths travel in the ANSI code page.
#include <windows.h>

#include <gtest/gtest.h>

#include "support/file_helpers.h"
#include "support/runtime_error.h"
#include "testkit/files.h"

namespace kelvane {
namespace {

using testkit::failureOf;

TEST(WinFileHelpers, SystemFoldersEndInABackslashAndExist) {
  for (const std::string& folder : {getSpecialFolder(CSIDL_APPDATA), getTempDir(), programFolder()}) {
    SCOPED_TRACE(folder);
    ASSERT_GT(folder.size(), 3u);
    EXPECT_EQ(folder.back(), '\\');
    EXPECT_TRUE(pathExists(folder));
    EXPECT_FALSE(fileExists(folder));
  }
  EXPECT_TRUE(fileExists(programFolder() + "kelvane_core_tests.exe"));
}

TEST(WinFileHelpers, PathsOutsideAsciiAreTakenInTheAnsiCodePage) {
  // Bytes whose meaning differs between the ANSI code page, Latin-1 and UTF-8,
  // as in a user name like "Jürgen".
  const std::string folder = getTempDir() + "kelvane-J\xFCrgen-\x80";
  const std::string file = folder + "\\Kelvane.ini";
  DeleteFileA(file.c_str());
  RemoveDirectoryA(folder.c_str());

  makeFolder(folder);
  makeFolder(folder);  // an existing folder is no failure
  writeFileAtomic(file, "old");
  writeFileAtomic(file, "[Settings]\r\n");
  EXPECT_TRUE(fileExists(file));
  EXPECT_EQ(readWholeFile(file), "[Settings]\r\n");
  wchar_t wide[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide, MAX_PATH);
  EXPECT_NE(GetFileAttributesW(wide), INVALID_FILE_ATTRIBUTES);  // the system saw the same name

  SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(failureOf([&] { writeFileAtomic(file, "changed"); }), rt::PermissionDenied);
  EXPECT_EQ(readWholeFile(file), "[Settings]\r\n");
  SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(failureOf([&] { makeFolder(folder + "\\missing\\inner"); }), rt::PathNotFound);

  EXPECT_TRUE(DeleteFileA(file.c_str()));
  EXPECT_TRUE(RemoveDirectoryA(folder.c_str()));  // no temporary file was left behind
}

}  // namespace
}  // namespace kelvane
