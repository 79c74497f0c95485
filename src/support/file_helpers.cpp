#include "support/file_helpers.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "support/error_handler.h"
#include "support/host.h"
#include "support/runtime_error.h"

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvane {

namespace fs = std::filesystem;

std::string trimNull(const std::string& text) {
  const auto pos = text.find('\0');
  return pos == std::string::npos ? text : text.substr(0, pos);
}

static std::string withSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += kPathSeparator;
  return folder;
}

std::string getTempDir() {
#ifdef _WIN32
  std::string buffer(260, ' ');
  GetTempPathA(260, buffer.data());
  return trimNull(buffer);
#else
  const char* tmp = std::getenv("TMPDIR");
  return withSeparator(tmp && *tmp ? tmp : "/tmp");
#endif
}

#ifdef _WIN32
// Paths are in the system's ANSI code page. std::filesystem would read them
// as such but hand them back as UTF-8, so the Windows branches stay with the
// ANSI calls throughout.
bool fileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool pathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static std::string parentFolder(const std::string& path) {
  const auto pos = path.find_last_of("\\/");
  return pos == std::string::npos ? std::string() : path.substr(0, pos);
}
#else
bool fileExists(const std::string& path) {
  std::error_code ec;
  const auto st = fs::status(path, ec);
  return !ec && fs::exists(st) && !fs::is_directory(st);
}

bool pathExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::status(path, ec));
}
#endif

std::string getSpecialFolder(int folderId) {
  std::string result;
#ifdef _WIN32
  LPITEMIDLIST list = nullptr;
  if (SHGetSpecialFolderLocation(nullptr, folderId, &list) != 0) return {};
  std::string buffer(260, ' ');
  if (SHGetPathFromIDListA(list, buffer.data())) result = trimNull(buffer);
  CoTaskMemFree(list);
#else
  if (folderId != CSIDL_APPDATA) return {};
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') {
    result = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return {};
    result = std::string(home) + "/.config";
  }
  // The configuration folder may not exist yet on a fresh account.
  std::error_code ec;
  fs::create_directories(result, ec);
#endif
  if (result.size() > 3) result = withSeparator(result);
  return result;
}

std::string programFolder() {
#ifdef _WIN32
  std::string buffer(MAX_PATH, '\0');
  const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), MAX_PATH);
  buffer.resize(n);
  return withSeparator(parentFolder(buffer));
#else
  std::error_code ec;
  std::string buffer = fs::read_symlink("/proc/self/exe", ec).string();
  if (ec) return withSeparator(fs::current_path(ec).string());
  return withSeparator(fs::path(buffer).parent_path().string());
#endif
}

std::string installedDataFolder(const std::string& programFolder) {
  fs::path folder(programFolder);
  if (!folder.has_filename()) folder = folder.parent_path();  // the trailing separator
  return withSeparator((folder.parent_path() / "share" / "kelvane").string());
}

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (!pathExists(path)) throw RuntimeError(rt::FileNotFound);
    throw RuntimeError(rt::PathFileAccessError);
  }
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw RuntimeError(rt::DeviceIOError);
  return content;
}

std::string readFiletoString(ErrorHandler& errors, const std::string& path) {
  std::string result;
  Trap trap(errors, "MISC", "ReadFiletoString");
  bool exists = false;
  if (!trap([&] { exists = fileExists(path); })) return result;
  if (exists) {
    trap([&] { result = readWholeFile(path); });
    return result;
  }
  trap([&] { errors.host().msgBox("File does not exist: " + path, mb::OkOnly, "ReadFiletoString Error"); });
  return result;
}

void makeFolder(const std::string& path) {
#ifdef _WIN32
  if (!CreateDirectoryA(path.c_str(), nullptr)) {
    const DWORD err = GetLastError();
    if (err == ERROR_ALREADY_EXISTS && !fileExists(path)) return;
    throw RuntimeError(err == ERROR_PATH_NOT_FOUND ? rt::PathNotFound
                       : err == ERROR_ACCESS_DENIED ? rt::PermissionDenied
                                                    : rt::PathFileAccessError);
  }
#else
  std::error_code ec;
  fs::create_directory(path, ec);
  if (ec) throw fileError(ec.value());
#endif
}

void writeFileAtomic(const std::string& path, const std::string& content) {
  static thread_local std::mt19937 rng{std::random_device{}()};
#ifdef _WIN32
  const std::string folder = parentFolder(path);
  const std::string name = folder.empty() ? path : path.substr(folder.size() + 1);
  const DWORD folderAttributes = GetFileAttributesA(folder.empty() ? "." : folder.c_str());
  if (folderAttributes == INVALID_FILE_ATTRIBUTES || !(folderAttributes & FILE_ATTRIBUTE_DIRECTORY))
    throw RuntimeError(rt::PathNotFound);
  // A read-only settings file is the user's way of saying "do not change";
  // not every file system refuses to replace one.
  const DWORD targetAttributes = GetFileAttributesA(path.c_str());
  if (targetAttributes != INVALID_FILE_ATTRIBUTES && (targetAttributes & FILE_ATTRIBUTE_READONLY))
    throw RuntimeError(rt::PermissionDenied);
  const std::string temp = (folder.empty() ? std::string() : folder + kPathSeparator) + "." + name + "." +
                           std::to_string(rng() % 1000000) + ".tmp";
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) throw fileError(errno);
  const bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  const int writeErr = errno;
  const bool closed = std::fclose(f) == 0;
  if (!ok || !closed) {
    DeleteFileA(temp.c_str());
    throw fileError(ok ? errno : writeErr);
  }
  if (!MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const DWORD err = GetLastError();
    DeleteFileA(temp.c_str());
    throw RuntimeError(err == ERROR_ACCESS_DENIED ? rt::PermissionDenied : rt::PathFileAccessError);
  }
#else
  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) throw RuntimeError(rt::PathNotFound);
  const auto tempName = [&] {
    std::string name(1, '.');
    name += target.filename().string();
    name += '.';
    name += std::to_string(rng() % 1000000);
    name += ".tmp";
    return folder / name;
  };
  fs::path temp = tempName();
  // A read-only settings file is the user's way of saying "do not change".
  if (access(path.c_str(), F_OK) == 0 && access(path.c_str(), W_OK) != 0)
    throw RuntimeError(rt::PermissionDenied);
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  // A name left by a crashed writer (or taken by a concurrent one) is skipped.
  for (int attempt = 0; fd < 0 && errno == EEXIST && attempt < 16; ++attempt) {
    temp = tempName();
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  }
  if (fd < 0) throw fileError(errno);
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      throw fileError(err);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    throw fileError(err);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    throw fileError(err);
  }
#endif
}

void stringtoFile(ErrorHandler& errors, const std::string& path, const std::string& text) {
  Trap trap(errors, "Module1", "StringtoFile");
  trap([&] { writeFileAtomic(path, text + "\r\n"); });
}

}  // namespace kelvane
