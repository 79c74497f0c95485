#include "support/help_launcher.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <system_error>

#include "support/error_handler.h"
#include "support/file_helpers.h"
#include "support/host.h"
#include "support/number_text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace kelvane {

namespace fs = std::filesystem;

namespace {

constexpr const char* kModule = "Module1";

constexpr const char* kHelpErrorText =
    "Unable to display help.  This is because the program is installed to a network folder and "
    "your temporary windows folder is also a network folder.  You may download the printable "
    "help file from our website instead.";

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// The help file beside the program; a folder given as a root ("/", "C:\")
// gets no second separator.
std::string helpFileBeside(std::string folder) {
  char sep = kPathSeparator;
  if (!folder.empty() && isSeparator(folder.back()))
    sep = folder.back();
  else
    folder += sep;
  return folder + "help" + sep + kHelpFileName;
}

std::string trimBlanks(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

#ifndef _WIN32
// Reads the octal escapes mountinfo uses for blanks and the like.
std::string unescapeMountField(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string digits = field.substr(i + 1, 3);
      if (digits.find_first_not_of("01234567") == std::string::npos) {
        out += static_cast<char>(std::stoi(digits, nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

bool isNetworkMagic(unsigned long magic) {
  switch (magic) {
    case 0x6969:      // NFS
    case 0x517B:      // SMB
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2
    case 0x5346414F:  // AFS
    case 0x6B414653:  // kAFS
    case 0x00C36400:  // Ceph
    case 0x01021997:  // 9p
    case 0x73757245:  // Coda
    case 0x564C:      // NCP
    case 0x0BD00BD0:  // Lustre
    case 0x47504653:  // GPFS
    case 0x20030528:  // OrangeFS
      return true;
    default:
      return false;
  }
}

constexpr unsigned long kFuseMagic = 0x65735546;
#endif

}  // namespace

std::string mountTypeFor(const std::string& mountInfo, const std::string& path) {
  std::istringstream lines(mountInfo);
  std::string line, best, bestType;
  bool found = false;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string id, parent, devices, root, mountPoint;
    if (!(fields >> id >> parent >> devices >> root >> mountPoint)) continue;
    std::string field;
    while (fields >> field && field != "-") {
    }
    std::string type;
    if (field != "-" || !(fields >> type)) continue;
#ifndef _WIN32
    mountPoint = unescapeMountField(mountPoint);
#endif
    const bool contains =
        mountPoint == "/" || path == mountPoint ||
        (path.size() > mountPoint.size() && path.compare(0, mountPoint.size(), mountPoint) == 0 &&
         path[mountPoint.size()] == '/');
    // Later mounts on the same point hide earlier ones.
    if (contains && (!found || mountPoint.size() >= best.size())) {
      best = mountPoint;
      bestType = type;
      found = true;
    }
  }
  return bestType;
}

bool isNetworkFsType(const std::string& fsType) {
  static const std::set<std::string> network = {
      "nfs",   "nfs4",    "cifs",     "smb3",      "smbfs",  "smb2", "ncpfs",  "sshfs",
      "afs",   "ceph",    "9p",       "coda",      "lustre", "gpfs", "davfs",  "glusterfs",
      "s3fs",  "rclone",  "curlftpfs", "gcsfuse", "beegfs", "orangefs", "pvfs2", "moosefs",
      "mfs",   "lizardfs", "cephfs",  "afpfs",     "ftpfs",  "httpfs", "juicefs", "seaweedfs"};
  std::string type = fsType;
  // FUSE mounts name their kind after the dot ("fuse.sshfs").
  for (const char* prefix : {"fuse.", "fuseblk."})
    if (type.rfind(prefix, 0) == 0) type = type.substr(std::string(prefix).size());
  return network.count(type) > 0;
}

bool isLocalFileSystemPath(const std::string& path) {
  if (path.empty()) return false;
#ifdef _WIN32
  const UINT type = GetDriveTypeA(path.substr(0, 3).c_str());
  return type != DRIVE_UNKNOWN && type != DRIVE_NO_ROOT_DIR && type != DRIVE_REMOTE;
#else
  std::error_code ec;
  fs::path p = fs::absolute(fs::path(path), ec);
  if (ec) return false;
  p = p.lexically_normal();
  // The file need not exist yet; its nearest existing folder decides.
  while (!fs::exists(p, ec)) {
    if (!p.has_parent_path() || p.parent_path() == p) return false;
    p = p.parent_path();
  }
  struct statfs info {};
  if (::statfs(p.c_str(), &info) != 0) return false;
  const auto magic = static_cast<unsigned long>(info.f_type) & 0xFFFFFFFFul;
  if (isNetworkMagic(magic)) return false;
  if (magic == kFuseMagic) {
    std::ifstream in("/proc/self/mountinfo");
    std::stringstream text;
    text << in.rdbuf();
    const fs::path real = fs::canonical(p, ec);
    if (!ec && isNetworkFsType(mountTypeFor(text.str(), real.string()))) return false;
  }
  return true;
#endif
}

std::string copyHelpToTemp(const std::string& source, const std::string& tempFolder) {
  try {
#ifdef _WIN32
    // The temporary folder on Windows is the user's own.
    const std::string target = tempFolder + kHelpFileName;
    CopyFileA(source.c_str(), target.c_str(), FALSE);
    return target;
#else
    std::string folder = tempFolder;
    if (folder.empty()) folder.assign(1, '/');
    if (folder.back() != '/') folder += '/';
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return folder + kHelpFileName;
    // A folder others may write to (like /tmp) is no place for a file we
    // later open: use a private folder of our own inside it.
    const bool shared = (st.st_mode & (S_IWOTH | S_IWGRP)) != 0;
    std::string opened = folder;
    if (shared) {
      opened = folder + "kelvane-" + std::to_string(::geteuid());
      ::mkdir(opened.c_str(), 0700);
      folder = opened + '/';
    }
    const std::string target = folder + kHelpFileName;
    // O_NOFOLLOW: a link planted in place of the private folder is refused
    // (the name must not end in "/", which would follow it after all).
    const int dir = ::open(opened.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) return shared ? std::string() : target;
    if (shared) {
      struct stat ds {};
      if (::fstat(dir, &ds) != 0 || ds.st_uid != ::geteuid()) {
        ::close(dir);
        return {};
      }
      if ((ds.st_mode & 077) != 0) ::fchmod(dir, 0700);
    }

    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
      ::close(dir);
      return target;
    }
    static thread_local std::mt19937 rng{std::random_device{}()};
    std::string temp(1, '.');
    temp += kHelpFileName;
    temp += '.';
    temp += std::to_string(rng());
    temp += ".tmp";
    const int out = ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    bool ok = out >= 0;
    char buffer[65536];
    while (ok) {
      const ssize_t n = ::read(in, buffer, sizeof buffer);
      if (n == 0) break;
      if (n < 0) {
        ok = errno == EINTR;
        continue;
      }
      for (ssize_t done = 0; ok && done < n;) {
        const ssize_t w = ::write(out, buffer + done, static_cast<std::size_t>(n - done));
        if (w < 0 && errno == EINTR) continue;
        ok = w > 0;
        if (ok) done += w;
      }
    }
    ::close(in);
    if (out >= 0 && ::close(out) != 0) ok = false;
    // rename replaces whatever stands at the target, a link included, and
    // never writes through it.
    if (ok) ok = ::renameat(dir, temp.c_str(), dir, kHelpFileName) == 0;
    if (!ok && out >= 0) ::unlinkat(dir, temp.c_str(), 0);
    ::close(dir);
    return target;
#endif
  } catch (...) {
    return {};
  }
}

HelpEnvironment HelpEnvironment::system() {
  return {[] { return kelvane::programFolder(); }, [] { return getTempDir(); },
          [](const std::string& path) { return isLocalFileSystemPath(path); },
          [] { return installedDataFolder(kelvane::programFolder()); }};
}

HelpLauncher::HelpLauncher(ErrorHandler& errors, Host& host, HelpEnvironment env)
    : errors_(errors), host_(host), env_(std::move(env)) {}

std::string HelpLauncher::locateHelp(const std::string& programFolder) const {
  std::string beside = helpFileBeside(programFolder);
  if (!env_.dataFolder || fileExists(beside)) return beside;
  const std::string data = env_.dataFolder();
  if (data.empty()) return beside;
  std::string installed = helpFileBeside(data);
  return fileExists(installed) ? installed : beside;
}

void HelpLauncher::setStartupPath() { helpPath_ = locateHelp(env_.programFolder()); }

bool HelpLauncher::validCHMPath(std::string& path) {
  bool result = false;
  Trap trap(errors_, kModule, "ValidCHMPath");
  if (!trap([&] { path = trimBlanks(path); })) return result;
  if (path.rfind("\\\\", 0) == 0) return false;  // \\server\share
  trap([&] { result = env_.isLocalPath(path); });
  return result;
}

void HelpLauncher::setHelpPath() {
  Trap trap(errors_, kModule, "SetHelpPath");
  std::string folder;
  if (!trap([&] { folder = env_.programFolder(); })) return;
  if (!trap([&] { helpPath_ = locateHelp(folder); })) return;
  bool valid = true;
  if (!trap([&] { valid = validCHMPath(helpPath_); })) return;
  if (!valid) {
    std::string temp;
    if (!trap([&] { temp = env_.tempFolder(); })) return;
    // Failures of the copy are not reported; the viewer will say what it can.
    const std::string copy = copyHelpToTemp(helpPath_, temp);
    // No safe temporary place: keep the path beside the program rather than
    // point the viewer at a folder someone else controls.
    if (!copy.empty()) helpPath_ = copy;
  }
  appHelpFile_ = helpPath_;
}

int HelpLauncher::topicOf(const std::string& contextId) {
  return toWholeNumber(valueOfText(contextId));
}

void HelpLauncher::showHelp(const std::string& contextId) {
  Trap trap(errors_, kModule, "ShowHelp");
  int topic = 0;
  if (!trap([&] { setHelpPath(); })) return;
  if (!trap([&] { host_.doEvents(); })) return;
  if (!trap([&] { topic = topicOf(contextId); })) return;
  trap([&] { host_.showHelp(helpPath_, topic); });
}

void HelpLauncher::windowShowHelp(const std::string& contextId) {
  Trap trap(errors_, kModule, "ShowHelp");
  bool valid = false;
  if (!trap([&] { valid = validCHMPath(helpPath_); })) return;
  if (!valid) {
    trap([&] { host_.msgBox(kHelpErrorText, mb::OkOnly, "Help Error"); });
    return;
  }
  int topic = 0;
  if (!trap([&] {
        if (!fileExists(helpPath_)) setHelpPath();
      }))
    return;
  if (!trap([&] { host_.doEvents(); })) return;
  if (!trap([&] { topic = topicOf(contextId); })) return;
  trap([&] { host_.showHelp(helpPath_, topic); });
}

}  // namespace kelvane
