// The file helpers on Windows, where paths travel in the ANSI code page.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/file_helpers.h"
#include "support/runtime_error.h"

namespace kelvane {
namespace {

std::wstring wide(const std::string& ansi) {
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, out.data(), n);
  out.resize(static_cast<std::size_t>(n > 0 ? n - 1 : 0));
  return out;
}

TEST(WinFileHelpers, SystemFoldersEndInABackslashAndExist) {
  const std::string appData = getSpecialFolder(CSIDL_APPDATA);
  const std::string temp = getTempDir();
  const std::string program = programFolder();
  for (const std::string& folder : {appData, temp, program}) {
    SCOPED_TRACE(folder);
    ASSERT_GT(folder.size(), 3u);
    EXPECT_EQ(folder.back(), '\\');
    EXPECT_EQ(folder.find('\0'), std::string::npos);
    EXPECT_TRUE(pathExists(folder));
    EXPECT_FALSE(fileExists(folder));
  }
  char exe[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  EXPECT_EQ(std::string(exe).rfind(program, 0), 0u);
  EXPECT_TRUE(fileExists(exe));
  EXPECT_EQ(getSpecialFolder(-1), "");
}

TEST(WinFileHelpers, PathsOutsideAsciiAreReadAsTheAnsiCodePage) {
  // Letters a user name may well hold; each has a different code in the ANSI
  // code page, in Latin-1 and in UTF-8.
  const std::string folder = getTempDir() + "kelvane-J\xFCrgen-\x80";
  const std::string file = folder + "\\Kelvane.ini";
  RemoveDirectoryA(folder.c_str());
  DeleteFileA(file.c_str());

  makeFolder(folder);
  makeFolder(folder);  // an existing folder is no failure
  writeFileAtomic(file, "[Settings]\r\n");
  writeFileAtomic(file, "[Settings]\r\nBrightness=500\r\n");

  EXPECT_TRUE(pathExists(folder));
  EXPECT_FALSE(fileExists(folder));
  EXPECT_TRUE(fileExists(file));
  EXPECT_EQ(readWholeFile(file), "[Settings]\r\nBrightness=500\r\n");
  // The system saw the same name: the wide call finds it under the letters
  // the code page gives those bytes.
  EXPECT_NE(GetFileAttributesW(wide(file).c_str()), INVALID_FILE_ATTRIBUTES);

  SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
  try {
    writeFileAtomic(file, "changed");
    ADD_FAILURE() << "a read-only file was replaced";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), rt::PermissionDenied);
  }
  EXPECT_EQ(readWholeFile(file), "[Settings]\r\nBrightness=500\r\n");
  SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);

  EXPECT_TRUE(DeleteFileA(file.c_str()));
  EXPECT_TRUE(RemoveDirectoryA(folder.c_str()));  // no temporary file left behind
  try {
    makeFolder(folder + "\\missing\\inner");
    ADD_FAILURE() << "a folder inside a missing one was made";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), rt::PathNotFound);
  }
}

}  // namespace
}  // namespace kelvane
