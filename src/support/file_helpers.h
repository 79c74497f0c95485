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
// is the XDG configuration folder ($XDG_CONFIG_HOME, else ~/.config); on
// Windows it is %APPDATA% when that is set to an absolute path.
std::string getSpecialFolder(int folderId);

// The folder this program was started from, with its trailing separator.
std::string programFolder();

// The data folder of an installed program: "<prefix>/share/kelvane/" for a
// program in "<prefix>/bin/", with its trailing separator.
std::string installedDataFolder(const std::string& programFolder);

// The whole content of a file, one character per byte; empty (after the
// "ReadFiletoString Error" message) when it does not exist.
std::string readFiletoString(ErrorHandler& errors, const std::string& path);

// Replaces the file's content with text followed by CR LF. Failures go to the
// StringtoFile trap.
void stringtoFile(ErrorHandler& errors, const std::string& path, const std::string& text);

// Writes content to path through a temporary file in the same folder
// ("." + name + ".NNNNNN.tmp") and a rename, so a crash never leaves a
// half-written file; the data and then the folder are flushed to disk, and
// the new file keeps the old one's permissions and, where the system allows,
// its owner. Throws RuntimeError.
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

// Reads a whole file; throws RuntimeError when it cannot be read.
std::string readWholeFile(const std::string& path);

// Creates one folder; throws RuntimeError when that fails.
void makeFolder(const std::string& path);

}  // namespace kelvane
