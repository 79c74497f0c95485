#include "settings/ini_file.h"

#include "support/file_helpers.h"
#include "support/host.h"
#include "support/runtime_error.h"
#include "support/status_log.h"

namespace kelvane {

std::string settingsProblem(const std::string& path, int failure) {
  std::string why, todo;
  switch (failure) {
    case rt::PermissionDenied:
      why = "The file or its folder is read-only, or belongs to another user.";
      todo = "Give your account permission to read and write both.";
      break;
    case rt::PathFileAccessError:
      if (pathExists(path) && !fileExists(path)) {
        why = "A folder of that name stands where the file should be.";
        todo = "Move or rename that folder.";
      } else if (pathExists(path) && !isRegularFile(path)) {
        why = "It is not a regular file (a device, a pipe or a socket, or a link to one).";
        todo = "Move it away; Kelvane then makes a new settings file.";
      } else {
        why = "The file cannot be opened or replaced; another program may be holding it.";
        todo = "Close the programs that use it, then try again.";
      }
      break;
    case rt::PathNotFound:
      why = "Its folder does not exist.";
      todo = "Create the folder, or start Kelvane again, which creates it.";
      // A file where one of the folders should be (XDG_CONFIG_HOME naming
      // a file, say): no start creates that folder.
      for (std::string up = path; !up.empty();) {
        const auto cut = up.find_last_of("/\\", up.size() > 1 ? up.size() - 2 : std::string::npos);
        up = cut == std::string::npos || cut == 0 ? std::string() : up.substr(0, cut);
        if (!up.empty() && fileExists(up)) {
          why = "A file, " + up + ", stands where one of its folders should be.";
          todo = "Move or rename that file.";
          break;
        }
      }
      break;
    case rt::OutOfMemory:
      why = "It is larger than " + std::to_string(kMaxFileBytes >> 20) +
            " MiB, far more than Kelvane's settings take, and is not read.";
      todo = "Move it away (Kelvane then starts a new one) or remove what does not belong in it.";
      break;
    default:
      break;
  }
  return fileProblemText("Kelvane cannot use its settings file", path, failure, why, todo,
                         "Until then Kelvane goes on working, but changes to its settings are not saved.");
}

void SettingsFile::failed(int failure, const std::string& description, bool explain) {
  log_.message("Settings file " + path() + ": Error " + std::to_string(failure) + " " + description);
  lastProblem_ = settingsProblem(path(), failure);
  // One explanation per cause and run: a broken file must not cost a dialog
  // on every click.
  if (explained_.insert(failure).second && explain) host_.msgBox(lastProblem_, mb::OkOnly, kSettingsProblemTitle);
}

std::string SettingsFile::read(const std::string& key, const std::string& defaultValue) {
  std::string text;
  try {
    text = store_.read(kSettingsSection, key);
  } catch (const RuntimeError& e) {
    failed(e.number(), e.description(), true);
  }
  return text.empty() ? defaultValue : text;
}

bool SettingsFile::write(const IniEntries& entries, bool explain) {
  try {
    store_.write(kSettingsSection, entries);
    return true;
  } catch (const RuntimeError& e) {
    failed(e.number(), e.description(), explain);
    return false;
  }
}

}  // namespace kelvane
