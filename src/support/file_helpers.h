#pragma once
// Small file and folder procedures. Paths end in the platform separator where
// the callers expect a folder ("AppDataFolder always ends in a separator").
#include <cstdint>
#include <string>

namespace kelvane {

class ErrorHandler;

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Shell folder identifier of the per-user application-data folder.
inline constexpr int CSIDL_APPDATA = 26;

// The part of text before its first NUL; all of it when it holds none.
std::string trimNull(const std::string& text);

// The system's temporary folder, with its trailing separator.
std::string getTempDir();

// True when path names an existing entry that is not a folder.
bool fileExists(const std::string& path);

// True when path names an existing file or folder.
bool pathExists(const std::string& path);

// The folder of a shell folder identifier, ending in a separator unless it is
// a root of 3 characters or fewer; empty when unknown. On Linux CSIDL_APPDATA
// is the XDG configuration folder ($XDG_CONFIG_HOME, else ~/.config, the home
// being $HOME or else the account's home in the password database); on
// Windows it is %APPDATA% when that is set to an absolute path.
std::string getSpecialFolder(int folderId);

// The folder of Kelvane's settings and status log, with its trailing
// separator: "Kelvane" under CSIDL_APPDATA. When the system names no such
// folder, "Kelvane" under the working folder, and notice then says so.
std::string settingsFolder(std::string& notice);

// The largest file this program reads or rewrites (settings, product ID):
// 32 MiB, far beyond what it writes itself. A larger one is refused with
// failure 7 rather than read into memory.
inline constexpr std::uint64_t kMaxFileBytes = 32u << 20;

// True when path, after following links, is a regular file (not a folder,
// device, pipe or socket).
bool isRegularFile(const std::string& path);

// "<path> is not a regular file ...: Kelvane does not use it for <use>."
std::string notRegularFileText(const std::string& path, const std::string& use);

// The explanation a dialog gives for a file this program cannot use: the
// headline, the file, why, what to do, and what happens meanwhile. A why left
// empty is worded from the failure's number (disk full, disk error, else its
// run-time description), for the causes every file meets alike.
std::string fileProblemText(const std::string& headline, const std::string& path, int failure,
                            std::string why, std::string todo, const std::string& meanwhile);

// What tells one version of a file from another without reading it: the
// file's identity, size and times (nanoseconds since 1970; after following
// links). A rewrite through writeFileAtomic always changes it (a new file
// takes the old one's place); a rewrite in place may not within the file
// system's clock tick.
struct FileStamp {
  bool exists = false;
  std::uint64_t device = 0, inode = 0, size = 0;
  std::int64_t modified = 0, changed = 0;
  bool operator==(const FileStamp&) const = default;
};
FileStamp fileStamp(const std::string& path);

// The whole content of a regular file of at most kMaxFileBytes, and its
// stamp as read. Throws RuntimeError: 53 when it does not exist, 75 when it
// is not a regular file (a pipe is never waited on), 7 when it is larger.
std::string readRegularFile(const std::string& path, FileStamp* stamp = nullptr);

// The folder this program was started from, with its trailing separator.
std::string programFolder();

// The data folder of an installed program: "<prefix>/share/kelvane/" for a
// program in "<prefix>/bin/", with its trailing separator.
std::string installedDataFolder(const std::string& programFolder);

// The whole content of a file, one character per byte; empty (after the
// "ReadFiletoString Error" message naming the file) when it does not exist,
// is not a regular file or is larger than kMaxFileBytes.
std::string readFiletoString(ErrorHandler& errors, const std::string& path);

// Replaces the file's content with text followed by CR LF. Failures go to the
// StringtoFile trap.
void stringtoFile(ErrorHandler& errors, const std::string& path, const std::string& text);

// Writes content to path through a temporary file in the same folder
// ("." + name + ".NNNNNN.tmp") and a rename, so a crash never leaves a
// half-written file; the data and then the folder are flushed to disk, and
// the new file keeps the old one's permissions and, where the system allows,
// its owner. An existing path that is not a regular file (a folder, or a
// device a link points to) is never replaced: failure 75. Throws RuntimeError.
void writeFileAtomic(const std::string& path, const std::string& content);

// Serialises the writers of one file across processes (and across locks in
// one process): an advisory lock on the companion file "." + name + ".lock"
// beside it, held from construction to destruction. Waits at most waitMs for
// another holder; throws RuntimeError when the lock file cannot be opened or
// the wait runs out.
class WriteLock {
 public:
  WriteLock(const std::string& path, int waitMs);
  ~WriteLock();
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

 private:
  std::intptr_t handle_ = -1;  // a HANDLE on Windows, a descriptor elsewhere
};

// Removes the temporary files that writes of path left behind when their
// process died, provided no writer holds path's WriteLock (else nothing is
// touched). Returns how many were removed.
int removeStaleTempFiles(const std::string& path);

// readRegularFile without the stamp.
std::string readWholeFile(const std::string& path);

// Creates one folder; throws RuntimeError when that fails.
void makeFolder(const std::string& path);

}  // namespace kelvane
