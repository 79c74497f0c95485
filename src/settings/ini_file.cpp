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

SettingsFile::SettingsFile(Host& host, StatusLog& log)
    : host_(host), log_(log), writer_(std::make_unique<IniWriter>(std::string(), kSettingsSection)) {}

SettingsFile::~SettingsFile() = default;

void SettingsFile::setPath(const std::string& path) {
  writer_ = std::make_unique<IniWriter>(path, kSettingsSection);
  writer_->setFailureNotice(notice_);
}

void SettingsFile::setFailureNotice(std::function<void()> notice) {
  notice_ = std::move(notice);
  writer_->setFailureNotice(notice_);
}

std::string SettingsFile::read(const std::string& key, const std::string& defaultValue) {
  poll();
  std::string text;
  try {
    text = writer_->read(key);
  } catch (const RuntimeError& e) {
    failed(e.number(), e.description(), true);
  }
  return text.empty() ? defaultValue : text;
}

bool SettingsFile::write(const IniEntries& entries, bool explain) {
  poll();
  try {
    writer_->write(entries);
    return true;
  } catch (const RuntimeError& e) {
    failed(e.number(), e.description(), explain);
    return false;
  }
}

bool SettingsFile::post(const IniEntries& entries) {
  poll();
  try {
    writer_->post(entries);
    return true;
  } catch (const RuntimeError& e) {
    failed(e.number(), e.description(), true);
    return false;
  }
}

bool SettingsFile::flush(bool explain) {
  bool written = true;
  try {
    writer_->flush();
  } catch (const RuntimeError& e) {
    failed(e.number(), e.description(), explain);
    written = false;
  }
  // A posted write that the flush waited for may have failed first.
  for (const std::exception_ptr& failure : writer_->takeFailures()) {
    try {
      std::rethrow_exception(failure);
    } catch (const RuntimeError& e) {
      failed(e.number(), e.description(), explain);
    } catch (...) {
      log_.message("Settings file " + path() + ": a write failed unexpectedly");
    }
  }
  return written;
}

void SettingsFile::poll() {
  std::exception_ptr unexpected;
  for (const std::exception_ptr& failure : writer_->takeFailures()) {
    try {
      std::rethrow_exception(failure);
    } catch (const RuntimeError& e) {
      failed(e.number(), e.description(), true);
    } catch (...) {
      if (!unexpected) unexpected = failure;
    }
  }
  if (unexpected) std::rethrow_exception(unexpected);
}

}  // namespace kelvane
