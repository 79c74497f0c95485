#include "support/file_helpers.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string_view>
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
#include <pwd.h>
#include <sys/file.h>
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
  // %APPDATA% names the same folder in a user's session; set for one
  // process, it moves that process's settings elsewhere (tests, a copy
  // run from a stick).
  const char* env = folderId == CSIDL_APPDATA ? std::getenv("APPDATA") : nullptr;
  if (env && *env && fs::path(env).is_absolute()) return withSeparator(env);
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
    if (!home || !*home) {
      // A service or a cron job may run without HOME: the account's home.
      const passwd* account = ::getpwuid(::getuid());
      home = account ? account->pw_dir : nullptr;
    }
    if (!home || *home != '/') return {};
    result = std::string(home) + "/.config";
  }
  // The configuration folder may not exist yet on a fresh account.
  std::error_code ec;
  fs::create_directories(result, ec);
#endif
  if (result.size() > 3) result = withSeparator(result);
  return result;
}

std::string settingsFolder(std::string& notice) {
  notice.clear();
  const std::string folder = getSpecialFolder(CSIDL_APPDATA);
  if (!folder.empty()) return folder + "Kelvane" + kPathSeparator;
  std::error_code ec;
  const std::string here = withSeparator(fs::absolute(".", ec).lexically_normal().string()) + "Kelvane" + kPathSeparator;
  notice = "This account has no home folder (neither HOME nor the password database names one): "
           "Kelvane keeps its settings in " + here;
  return here;
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

std::string readFiletoString(ErrorHandler& errors, const std::string& path) {
  std::string result;
  Trap trap(errors, "MISC", "ReadFiletoString");
  bool exists = false;
  if (!trap([&] { exists = fileExists(path); })) return result;
  std::string problem = "File does not exist: ";
  if (exists) {
    // A device, pipe or an oversized file is refused with a message naming
    // it; anything else unexpected goes to the error dialog.
    problem.clear();
    trap([&] {
      try {
        result = readRegularFile(path);
      } catch (const RuntimeError& e) {
        if (e.number() == rt::OutOfMemory)
          problem = "File is larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB: ";
        else if (e.number() == rt::PathFileAccessError && !isRegularFile(path))
          problem = "Not a regular file (a folder, device, pipe or socket): ";
        else
          throw;
      }
    });
    if (problem.empty()) return result;
  }
  problem += path;
  trap([&] { errors.host().msgBox(problem, mb::OkOnly, "ReadFiletoString Error"); });
  return result;
}

#ifndef _WIN32
// What root (a "sudo kelvane") creates in another user's folder is given to
// that user, whose own later runs could not change it otherwise. The entry
// is fd when there is one, else path.
static void giveToFolderOwner(const std::string& folder, int fd, const std::string& path = {}) {
  struct stat st {};
  if (::geteuid() != 0 || ::stat(folder.c_str(), &st) != 0 || st.st_uid == 0) return;
  if ((fd >= 0 ? ::fchown(fd, st.st_uid, st.st_gid) : ::lchown(path.c_str(), st.st_uid, st.st_gid)) != 0) {
    // not permitted here after all (a file system without owners): keep it
  }
}
#endif

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
  const bool made = fs::create_directory(path, ec);
  if (ec) throw fileError(ec.value());
  if (made) {
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    giveToFolderOwner(fs::path(folder).parent_path().string(), -1, path);
  }
#endif
}

namespace {

// The folder and the name of a path; the folder is "" for a bare name.
struct Place {
  std::string folder;
  std::string name;
};

Place placeOf(const std::string& path) {
#ifdef _WIN32
  const auto pos = path.find_last_of("\\/");
#else
  const auto pos = path.rfind('/');
#endif
  if (pos == std::string::npos) return {std::string(), path};
  return {path.substr(0, pos == 0 ? 1 : pos), path.substr(pos + 1)};
}

std::string inFolder(const Place& place, const std::string& name) {
  if (place.folder.empty()) return name;
  const char last = place.folder.back();
  return last == '/' || last == '\\' ? place.folder + name : place.folder + kPathSeparator + name;
}

std::string tempName(const std::string& name) {
  static thread_local std::mt19937 rng{std::random_device{}()};
  char digits[8];
  std::snprintf(digits, sizeof digits, "%06u", static_cast<unsigned>(rng() % 1000000));
  return "." + name + "." + digits + ".tmp";
}

// "." + name + "." + up to six digits + ".tmp": what tempName makes (and what
// earlier versions made, without the leading zeros).
bool isTempNameOf(const std::string& entry, const std::string& name) {
  const std::string head = "." + name + ".";
  const std::string_view e(entry);
  if (!e.starts_with(head) || !e.ends_with(".tmp")) return false;
  const std::string_view digits = e.substr(head.size(), e.size() - head.size() - 4);
  if (digits.empty() || digits.size() > 6) return false;
  for (const char c : digits)
    if (c < '0' || c > '9') return false;
  return true;
}

#ifdef _WIN32
// Short waits while another writer holds a lock: writes take milliseconds.
void pause(int& ms) {
  Sleep(static_cast<DWORD>(ms));
  ms = ms < 8 ? ms * 2 : 8;
}

RuntimeError windowsFileError(DWORD err) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return RuntimeError(rt::PathNotFound);
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return RuntimeError(rt::PermissionDenied);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return RuntimeError(rt::DiskFull);
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE: return RuntimeError(rt::BadFileName);
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT: return RuntimeError(rt::DeviceIOError);
    default: return RuntimeError(rt::PathFileAccessError);
  }
}
#endif

}  // namespace

#ifndef _WIN32
static FileStamp stampOf(const struct stat& st) {
  FileStamp stamp;
  stamp.exists = true;
  stamp.device = static_cast<std::uint64_t>(st.st_dev);
  stamp.inode = static_cast<std::uint64_t>(st.st_ino);
  stamp.size = static_cast<std::uint64_t>(st.st_size);
  stamp.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return stamp;
}
#else
// Nanoseconds since 1970, as the times elsewhere.
static std::int64_t fileTimeValue(const FILETIME& t) {
  const auto ticks = static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  return (ticks - 116444736000000000LL) * 100;
}
#endif

bool isRegularFile(const std::string& path) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  // Device names (CON, NUL, COM1, ...) have attributes but are no files.
  HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return true;  // a file someone holds exclusively
  const bool disk = GetFileType(h) == FILE_TYPE_DISK;
  CloseHandle(h);
  return disk;
#else
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
#endif
}

std::string fileProblemText(const std::string& headline, const std::string& path, int failure,
                            std::string why, std::string todo, const std::string& meanwhile) {
  if (why.empty()) {
    if (failure == rt::DiskFull) {
      why = "The disk is full.";
      todo = "Free some space on that disk.";
    } else if (failure == rt::DeviceIOError) {
      why = "The disk reported an error.";
      todo = "Check the disk.";
    } else {
      why = "Error " + std::to_string(failure) + ": " + runtimeDescription(failure) + ".";
    }
  }
  std::string text = headline + "\r\n" + path + "\r\n\r\n" + why + "\r\n";
  if (!todo.empty()) text += todo + " ";
  return text + meanwhile;
}

std::string notRegularFileText(const std::string& path, const std::string& use) {
  return path + "\r\nis not a regular file (a folder, a device, a pipe or a socket, or a link to one): Kelvane does "
         "not use it for " + use + ".  Move it away; Kelvane then makes the file itself.";
}

FileStamp fileStamp(const std::string& path) {
  FileStamp stamp;
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return stamp;
  stamp.exists = true;
  stamp.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stamp.modified = fileTimeValue(data.ftLastWriteTime);
  stamp.changed = fileTimeValue(data.ftCreationTime);
  stamp.inode = data.dwFileAttributes;
#else
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return stamp;
  stamp = stampOf(st);
#endif
  return stamp;
}

std::string readRegularFile(const std::string& path, FileStamp* stamp) {
  std::string content;
#ifdef _WIN32
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) throw RuntimeError(rt::FileNotFound);
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      throw RuntimeError(rt::PathFileAccessError);
    throw windowsFileError(err);
  }
  struct Closer {
    HANDLE h;
    ~Closer() { CloseHandle(h); }
  } closer{h};
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    throw RuntimeError(rt::PathFileAccessError, "Not a regular file");
  const std::uint64_t size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size > kMaxFileBytes) throw RuntimeError(rt::OutOfMemory);
  if (stamp) *stamp = fileStamp(path);  // before reading: a change meanwhile shows next time
  content.resize(static_cast<std::size_t>(size));
  std::size_t done = 0;
  for (;;) {
    if (done == content.size()) content.resize(done + 4096);  // it grew meanwhile
    DWORD n = 0;
    if (!ReadFile(h, content.data() + done, static_cast<DWORD>(content.size() - done), &n, nullptr))
      throw windowsFileError(GetLastError());
    if (n == 0) break;
    done += n;
    if (done > kMaxFileBytes) throw RuntimeError(rt::OutOfMemory);
  }
  content.resize(done);
#else
  // O_NONBLOCK: opening a pipe must not wait for a writer. A regular file
  // ignores it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR) throw RuntimeError(rt::FileNotFound);
    throw fileError(err);
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw fileError(errno);
  if (!S_ISREG(st.st_mode)) throw RuntimeError(rt::PathFileAccessError, "Not a regular file");
  if (static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes) throw RuntimeError(rt::OutOfMemory);
  content.resize(static_cast<std::size_t>(st.st_size));
  std::size_t done = 0;
  for (;;) {
    if (done == content.size()) content.resize(done + 4096);  // it grew meanwhile
    const ssize_t n = ::read(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw errno == EISDIR ? RuntimeError(rt::PathFileAccessError) : fileError(errno);
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
    if (done > kMaxFileBytes) throw RuntimeError(rt::OutOfMemory);
  }
  content.resize(done);
  if (stamp) *stamp = stampOf(st);
#endif
  return content;
}

std::string readWholeFile(const std::string& path) { return readRegularFile(path); }

void writeFileAtomic(const std::string& path, const std::string& content) {
  const Place place = placeOf(path);
#ifdef _WIN32
  const DWORD folderAttributes = GetFileAttributesA(place.folder.empty() ? "." : place.folder.c_str());
  if (folderAttributes == INVALID_FILE_ATTRIBUTES || !(folderAttributes & FILE_ATTRIBUTE_DIRECTORY))
    throw RuntimeError(rt::PathNotFound);
  // A read-only settings file is the user's way of saying "do not change";
  // not every file system refuses to replace one.
  const DWORD targetAttributes = GetFileAttributesA(path.c_str());
  if (targetAttributes != INVALID_FILE_ATTRIBUTES && (targetAttributes & FILE_ATTRIBUTE_READONLY))
    throw RuntimeError(rt::PermissionDenied);
  // ReplaceFile would move a folder aside to make room; a device is no file.
  if (targetAttributes != INVALID_FILE_ATTRIBUTES && !isRegularFile(path))
    throw RuntimeError(rt::PathFileAccessError, "Not a regular file");
  std::string temp;
  HANDLE h = INVALID_HANDLE_VALUE;
  // A name left by a crashed writer is skipped.
  for (int attempt = 0; attempt < 16 && h == INVALID_HANDLE_VALUE; ++attempt) {
    temp = inFolder(place, tempName(place.name));
    h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (h == INVALID_HANDLE_VALUE) throw windowsFileError(GetLastError());
  DWORD err = 0;
  for (std::size_t done = 0; !err && done < content.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(h, content.data() + done, chunk, &written, nullptr)) err = GetLastError();
    done += written;
  }
  if (!err && !FlushFileBuffers(h)) err = GetLastError();
  if (!CloseHandle(h) && !err) err = GetLastError();
  // ReplaceFile keeps the old file's owner, permissions and attributes; a new
  // file, or a file system without it, takes the plain rename (which also
  // finishes a ReplaceFile that removed the old file but could not rename).
  // A reader (another instance, a virus scanner) holding the old file open
  // blocks both for a moment: they are tried again for about half a second.
  for (int attempt = 0, wait = 1; !err; ++attempt) {
    if ((targetAttributes != INVALID_FILE_ATTRIBUTES &&
         ReplaceFileA(path.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) ||
        MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      break;
    const DWORD why = GetLastError();
    if ((why != ERROR_SHARING_VIOLATION && why != ERROR_ACCESS_DENIED) || attempt == 60) err = why;
    else pause(wait);
  }
  if (err) {
    DeleteFileA(temp.c_str());
    throw windowsFileError(err);
  }
#else
  const std::string folder = place.folder.empty() ? "." : place.folder;
  // Only a regular file is replaced: run as root, a rename over a device
  // node (or a pipe) would destroy it.
  struct stat old {};
  const bool replacing = ::stat(path.c_str(), &old) == 0;
  if (replacing && !S_ISREG(old.st_mode)) throw RuntimeError(rt::PathFileAccessError, "Not a regular file");
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) throw RuntimeError(rt::PathNotFound);
  // A read-only settings file is the user's way of saying "do not change".
  if (access(path.c_str(), F_OK) == 0 && access(path.c_str(), W_OK) != 0)
    throw RuntimeError(rt::PermissionDenied);
  std::string temp;
  int fd = -1;
  // A name left by a crashed writer (or taken by a concurrent one) is skipped.
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temp = inFolder(place, tempName(place.name));
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, replacing ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) throw fileError(errno);
  if (replacing) {
    // The owner first (a change of owner clears set-id bits of the mode).
    // Only root may give a file away; anyone may keep a group they are in.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
      // not permitted: the file becomes the writer's, as any new file would
    }
    ::fchmod(fd, old.st_mode & 07777);
  } else {
    giveToFolderOwner(folder, fd);
  }
  int err = 0;
  for (std::size_t done = 0; !err && done < content.size();) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n >= 0) done += static_cast<std::size_t>(n);
    else if (errno != EINTR) err = errno;
  }
  if (!err && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && !err) err = errno;
  if (!err && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err) {
    ::unlink(temp.c_str());
    throw fileError(err);
  }
  // The rename is an entry in the folder: until the folder reaches the disk,
  // a power cut can bring the old file back. File systems that cannot sync a
  // folder say EINVAL; only a failing disk is worth a report.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    const int synced = ::fsync(dir) == 0 ? 0 : errno;
    ::close(dir);
    if (synced == EIO) throw RuntimeError(rt::DeviceIOError);
  }
#endif
}

#ifndef _WIN32
// Takes the flock of fd, waiting at most waitMs; 0 or the errno
// (EWOULDBLOCK when the wait ran out). A waiter sleeps in the kernel's queue
// for the lock instead of trying again now and then: a writer that unlocks
// and locks again at once would otherwise win nearly every time, and a
// polling waiter among busy writers could wait seconds for a lock that is
// never held for more than one small write. The blocking call runs on a
// helper thread so that the wait can be given up; a helper that gets the
// lock after that drops it at once.
static int lockWithin(int fd, int waitMs) {
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK || waitMs <= 0) return errno;
    struct Wait {
      std::mutex mutex;
      std::condition_variable done;
      bool finished = false, abandoned = false;
      int error = 0;
    };
    const auto wait = std::make_shared<Wait>();
    const int own = ::dup(fd);  // the same open file, so the same lock
    if (own < 0) return errno;
    try {
      std::thread([wait, own] {
        int error = 0;
        while (::flock(own, LOCK_EX) != 0 && (error = errno) == EINTR) error = 0;
        const std::lock_guard<std::mutex> hold(wait->mutex);
        if (wait->abandoned && error == 0) ::flock(own, LOCK_UN);
        ::close(own);
        wait->error = error;
        wait->finished = true;
        wait->done.notify_all();
      }).detach();
    } catch (const std::system_error&) {  // no thread to be had: no wait either
      ::close(own);
      return EWOULDBLOCK;
    }
    std::unique_lock<std::mutex> hold(wait->mutex);
    if (wait->done.wait_for(hold, std::chrono::milliseconds(waitMs), [&] { return wait->finished; }))
      return wait->error;
    wait->abandoned = true;
    return EWOULDBLOCK;
  }
  return 0;
}
#endif

WriteLock::WriteLock(const std::string& path, int waitMs) {
  const Place place = placeOf(path);
  // Appended, not "." + name: GCC 12 reports a false overlap (-Wrestrict) there.
  std::string lockName = ".";
  lockName += place.name;
  lockName += ".lock";
  const std::string lockPath = inFolder(place, lockName);
#ifdef _WIN32
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  int wait = 1;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE h = CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_HIDDEN, nullptr);
  DWORD err = GetLastError();
  // A lock file another user made: reading is enough to lock it.
  if (h == INVALID_HANDLE_VALUE && err == ERROR_ACCESS_DENIED)
    h = CreateFileA(lockPath.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw windowsFileError(err);
  for (;;) {
    OVERLAPPED at{};
    if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) break;
    err = GetLastError();
    if (err != ERROR_LOCK_VIOLATION && err != ERROR_IO_PENDING) {
      CloseHandle(h);
      throw windowsFileError(err);
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      CloseHandle(h);
      throw RuntimeError(rt::PathFileAccessError);
    }
    pause(wait);
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
#else
  int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  const int err = errno;
  // A lock file another user made: reading is enough to lock it.
  if (fd < 0 && err == EACCES) fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) throw fileError(err);
  giveToFolderOwner(placeOf(path).folder.empty() ? "." : placeOf(path).folder, fd);
  // flock, not fcntl: its lock belongs to this descriptor, so two locks in
  // one process exclude each other and closing another descriptor of the
  // file does not drop it.
  const int why = lockWithin(fd, waitMs);
  if (why != 0) {
    ::close(fd);
    throw why == EWOULDBLOCK ? RuntimeError(rt::PathFileAccessError) : fileError(why);
  }
  handle_ = fd;
#endif
}

WriteLock::~WriteLock() {
#ifdef _WIN32
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  OVERLAPPED at{};
  UnlockFileEx(h, 0, 1, 0, &at);
  CloseHandle(h);
#else
  ::close(static_cast<int>(handle_));  // drops the lock
#endif
}

int removeStaleTempFiles(const std::string& path) {
  const Place place = placeOf(path);
  int removed = 0;
  try {
    // Every writer holds the lock while its temporary file exists.
    const WriteLock lock(path, 0);
#ifdef _WIN32
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(inFolder(place, "." + place.name + ".*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
      if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
          isTempNameOf(found.cFileName, place.name) && DeleteFileA(inFolder(place, found.cFileName).c_str()))
        ++removed;
    } while (FindNextFileA(search, &found));
    FindClose(search);
#else
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(place.folder.empty() ? "." : place.folder, ec)) {
      const std::string name = entry.path().filename().string();
      if (isTempNameOf(name, place.name) && entry.is_regular_file(ec) && !entry.is_symlink(ec) &&
          ::unlink(inFolder(place, name).c_str()) == 0)
        ++removed;
    }
#endif
  } catch (const RuntimeError&) {
    // Another writer is at work, or the folder cannot be written: next time.
  }
  return removed;
}

void stringtoFile(ErrorHandler& errors, const std::string& path, const std::string& text) {
  Trap trap(errors, "Module1", "StringtoFile");
  trap([&] { writeFileAtomic(path, text + "\r\n"); });
}

}  // namespace kelvane
