#pragma once
// Opens the compiled help file "Kelvane.chm" at a numbered topic. A help file
// in a network folder is copied to the temporary folder first, since the help
// viewer will not show one from there.
#include <functional>
#include <string>

namespace kelvane {

class ErrorHandler;
class Host;

inline constexpr const char* kHelpFileName = "Kelvane.chm";

// Where the launcher looks; replaceable in tests.
struct HelpEnvironment {
  std::function<std::string()> programFolder;
  std::function<std::string()> tempFolder;  // GetTempDir: ends in a separator
  // True when a path lies on a local drive that the viewer can read from.
  std::function<bool(const std::string&)> isLocalPath;
  // The installed data folder, where the help is looked for when the
  // program's folder has none; may be unset.
  std::function<std::string()> dataFolder;

  static HelpEnvironment system();
};

// True when path lies on a local file system: on Windows by the type of its
// drive, elsewhere by the file system of its nearest existing ancestor.
bool isLocalFileSystemPath(const std::string& path);

// The file-system type /proc/self/mountinfo gives for the mount holding path
// (an absolute path without symbolic links); "" when none matches.
std::string mountTypeFor(const std::string& mountInfo, const std::string& path);

// True for file-system type names that are network or remote file systems.
bool isNetworkFsType(const std::string& fsType);

// Copies the help file into the temporary folder and gives the copy's path,
// also when the copy failed. On a shared temporary folder (writable by
// others, like /tmp) the copy goes into a private per-user folder; the copy is written
// under a fresh name and renamed into place, so a link planted by someone
// else is never followed. Empty when no safe place could be had.
std::string copyHelpToTemp(const std::string& source, const std::string& tempFolder);

class HelpLauncher {
 public:
  HelpLauncher(ErrorHandler& errors, Host& host, HelpEnvironment env = HelpEnvironment::system());

  // HelpPath as start-up sets it: program folder + "help" + separator + file
  // (the installed data folder's instead when only that one exists).
  void setStartupPath();

  // ValidCHMPath: trims blanks off path in place; false for a network path.
  bool validCHMPath(std::string& path);

  // SetHelpPath: the help file beside the program, or its temporary copy
  // when the program lies in a network folder.
  void setHelpPath();

  // ShowHelp of the main window: always re-checks the path first.
  void showHelp(const std::string& contextId);

  // ShowHelp of the message box window: tests the path held now and refuses
  // with "Help Error" when it lies in a network folder.
  void windowShowHelp(const std::string& contextId);

  const std::string& helpPath() const { return helpPath_; }
  void setHelpPathText(std::string path) { helpPath_ = std::move(path); }
  // The application's help file, set by setHelpPath.
  const std::string& applicationHelpFile() const { return appHelpFile_; }

 private:
  int topicOf(const std::string& contextId);
  std::string locateHelp(const std::string& programFolder) const;

  ErrorHandler& errors_;
  Host& host_;
  HelpEnvironment env_;
  std::string helpPath_;
  std::string appHelpFile_;
};

}  // namespace kelvane
