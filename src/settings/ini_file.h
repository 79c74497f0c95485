#pragma once
// ReadINIFile and WriteINIFile: the program's keys in the one section of the
// settings file. A settings file that cannot be read or written does not
// stop the program: a read gives the default, a write made at once is
// dropped, and posted keys stay pending for the next write. Each
// failure goes to the status log, and the first of each cause in a run is
// explained to the user (which file, what is wrong, what to do) in one
// message box; later ones are not, so a broken file costs one dialog, not
// one per click.
//
// The window's frequent writes are posted: a writer thread rewrites the file
// while the window goes on, reads see the posted keys at once, and a failure
// is reported on the window's thread by the next call (or by poll()) the
// same way as a failure of a write made at once.
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "settings/ini_writer.h"

namespace kelvane {

class Host;
class StatusLog;

inline constexpr const char* kSettingsSection = "Initialization";
inline constexpr const char* kSettingsProblemTitle = "Settings File";

// What a failure (a run-time failure number) of the settings file at path
// means and what the user can do about it, in words for the user.
std::string settingsProblem(const std::string& path, int failure);

class SettingsFile {
 public:
  SettingsFile(Host& host, StatusLog& log);
  ~SettingsFile();

  void setPath(const std::string& path);
  const std::string& path() const { return writer_->path(); }

  // The key's value, or defaultValue when it is missing or empty, or when
  // the file cannot be read.
  std::string read(const std::string& key, const std::string& defaultValue);

  // Sets the keys in one rewrite of the file, with what is posted before
  // them; true only when it was written. With explain false the caller
  // tells the user itself, with lastProblem().
  bool write(const IniEntries& entries, bool explain = true);

  // Sets the keys for reads at once and leaves their write to the writer
  // thread. False, with the failure reported, for keys the file cannot carry.
  bool post(const IniEntries& entries);

  // Writes what is posted, now; true when nothing is left pending.
  bool flush(bool explain = true);

  // Reports the failures of posted writes found since the last call. A
  // failure that is no failure of the file (out of memory) is thrown.
  void poll();

  // Called on the writer thread when a posted write failed, for the owner
  // to poll() on its own thread. Not called once this returns with nullptr.
  void setFailureNotice(std::function<void()> notice);

  // A failure of the file found elsewhere (its folder cannot be made):
  // logged, and explained unless its cause already was.
  void report(int failure, const std::string& description) { failed(failure, description, true); }

  // settingsProblem of the last failure.
  const std::string& lastProblem() const { return lastProblem_; }

  // Removes what writes killed midway left beside the file.
  void removeStaleTempFiles() const { (void)writer_->removeStaleTempFiles(); }

 private:
  void failed(int failure, const std::string& description, bool explain);

  Host& host_;
  StatusLog& log_;
  std::unique_ptr<IniWriter> writer_;
  std::function<void()> notice_;
  std::set<int> explained_;
  std::string lastProblem_;
};

}  // namespace kelvane
