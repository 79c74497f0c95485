#include "support/status_log.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "support/error_handler.h"
#include "support/file_helpers.h"
#include "support/host.h"
#include "support/runtime_error.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kelvane {

std::string localTimeOfDay() {
#ifdef _WIN32
  // The user's own time format (Control Panel, Region), as the system
  // formats it; the C library would only know the "C" locale.
  wchar_t wide[128];
  const int length = GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, wide, 128);
  if (length > 1) {
    char utf8[512];
    const int m = WideCharToMultiByte(CP_UTF8, 0, wide, length - 1, utf8, sizeof utf8, nullptr, nullptr);
    if (m > 0) return std::string(utf8, static_cast<std::size_t>(m));
  }
#endif
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char buffer[64];
  const std::size_t n = std::strftime(buffer, sizeof buffer, "%X", &local);
  return std::string(buffer, n);
}

std::size_t utf8PrefixBytes(const std::string& text, std::size_t limit) {
  std::size_t pos = 0;
  for (std::size_t count = 0; count < limit && pos < text.size(); ++count) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    const std::size_t length = lead >= 0xF0 && lead < 0xF8 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::size_t k = 1;
    while (k < length && pos + k < text.size() && (static_cast<unsigned char>(text[pos + k]) & 0xC0) == 0x80) ++k;
    pos += k == length ? length : 1;
  }
  return pos;
}

StatusLog::StatusLog() : clock_(localTimeOfDay), now_([] { return Clock::now(); }) {}

void StatusLog::message(const std::string& text) {
  if (!showStatus_) return;
  if (holding_) {
    held_.push_back(text);
    return;
  }
  if (lineSink_) {
    lineSink_(text);
    return;
  }
  const auto record = [&] {
    std::string line = clock_();
    line.reserve(line.size() + text.size() + 4);
    line += ": ";
    line += text;
    line += "\r\n";
    // A full status.log is closed before this line; it starts the next one.
    if (segmentSize_ > 0 && segmentSize_ + line.size() > kSegmentLimit) {
      boundaries_.push_back(firstSeq_ + lines_.size());
      segmentSize_ = 0;
    }
    segmentSize_ += line.size();
    totalSize_ += line.size();
    lines_.push_back(std::move(line));
    trim();
    viewDirty_ = fileDirty_ = true;
  };
  if (!errors_) {
    record();
    return;
  }
  Trap trap(*errors_, "Module1", "Message");
  trap(record);
}

void StatusLog::trim() {
  // A long night with the view open must not fill the memory: the oldest
  // lines go (the newest line always stays). Lines of status.log are
  // rewritten from memory, so they stay until rotated (up to twice the
  // bound, when the file cannot be written).
  while (totalSize_ > kKeepLimit && lines_.size() > 1 &&
         (firstSeq_ < fileFirst_ || totalSize_ > 2 * kKeepLimit)) {
    totalSize_ -= lines_.front().size();
    lines_.pop_front();
    ++firstSeq_;
  }
}

void StatusLog::release(bool keep) {
  holding_ = false;
  std::vector<std::string> lines = std::move(held_);
  held_.clear();
  if (keep)
    for (const std::string& line : lines) message(line);
}

std::string StatusLog::logText() const {
  std::string text;
  text.reserve(totalSize_);
  for (auto it = lines_.rbegin(); it != lines_.rend(); ++it) text += *it;
  return text;
}

std::string StatusLog::viewText() const {
  // Enough lines for kViewLimit characters (a character is at most 4 bytes).
  std::string text;
  for (auto it = lines_.rbegin(); it != lines_.rend() && text.size() < 4 * kViewLimit; ++it) text += *it;
  text.resize(utf8PrefixBytes(text, kViewLimit));
  return text;
}

void StatusLog::updateView() {
  viewDirty_ = false;
  if (viewSink_) viewSink_(viewText());
}

// StringtoFile for a diagnostic file: truncated and rewritten in place, with
// no temporary file and no sync, since it is rewritten every second anyway.
void StatusLog::writeLines(std::uint64_t from, std::uint64_t to) {
  std::FILE* f = std::fopen(filePath_.c_str(), "wb");
  if (!f) throw fileError(errno);
  // Line by line, newest first: no copy of the whole log each second.
  const std::uint64_t first = std::max(from, firstSeq_);
  bool ok = true;
  for (std::uint64_t seq = to; ok && seq > first; --seq) {
    const std::string& line = lines_[static_cast<std::size_t>(seq - 1 - firstSeq_)];
    ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
  }
  ok = ok && std::fwrite("\r\n", 1, 2, f) == 2;
  const int err = errno;
  if (std::fclose(f) != 0 || !ok) throw fileError(ok ? errno : err);
}

void StatusLog::rotate() {
  const auto older = [this](int k) { return filePath_ + "." + std::to_string(k); };
  std::remove(older(kOlderFiles).c_str());
  for (int k = kOlderFiles - 1; k >= 1; --k)
    if (std::rename(older(k).c_str(), older(k + 1).c_str()) != 0 && errno != ENOENT) throw fileError(errno);
  if (std::rename(filePath_.c_str(), older(1).c_str()) != 0 && errno != ENOENT) throw fileError(errno);
}

namespace {
std::string writeProblem(const std::string& path, int failure) {
  std::string why, todo;
  switch (failure) {
    case rt::PermissionDenied:
      why = "The file or its folder is read-only, or belongs to another user.";
      todo = "Give your account permission to write both.";
      break;
    case rt::PathNotFound:
      why = "Its folder does not exist.";
      todo = "Create the folder, or start Kelvane again, which creates it.";
      break;
    default:
      break;
  }
  return fileProblemText("Kelvane cannot write its status log", path, failure, why, todo,
                         "Until then the lines stay in the status view, and Kelvane tries again every " +
                             std::to_string(StatusLog::kRetryInterval.count() / 1000) + " seconds.");
}
}  // namespace

void StatusLog::writeFailed(int failure, const std::string& description) {
  // The status log is a diagnostic file: its failure is logged once per
  // cause in a row, explained once per cause and run, and never stops the
  // program.
  if (failure != failing_)
    message("Status log " + filePath_ + ": Error " + std::to_string(failure) + " " + description);
  failing_ = failure;
  if (errors_ && explained_.insert(failure).second)
    errors_->host().msgBox(writeProblem(filePath_, failure), mb::OkOnly, kProblemTitle);
}

void StatusLog::writeFile() {
  fileDirty_ = false;
  lastWrite_ = now_();
  written_ = true;
  if (filePath_.empty()) return;
  try {
    // An earlier run's lines stay, as the first older file.
    if (rotateEarlierRun_) {
      if (std::FILE* earlier = std::fopen(filePath_.c_str(), "rb")) {
        std::fclose(earlier);
        rotate();
      }
      rotateEarlierRun_ = false;
    }
    while (!boundaries_.empty()) {
      writeLines(fileFirst_, boundaries_.front());
      rotate();
      fileFirst_ = boundaries_.front();
      boundaries_.pop_front();
    }
    writeLines(fileFirst_, firstSeq_ + lines_.size());
    trim();
    if (failing_ != 0) {
      failing_ = 0;
      message("Status log " + filePath_ + " written again");
      writeLines(fileFirst_, firstSeq_ + lines_.size());
    }
    fileDirty_ = false;
  } catch (const RuntimeError& e) {
    fileDirty_ = true;  // tried again after kRetryInterval
    writeFailed(e.number(), e.description());
  }
}

void StatusLog::bringUpToDate(bool file) {
  if (flushing_) return;
  flushing_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{flushing_};
  if (viewDirty_) updateView();
  if (file && fileDirty_) {
    writeFile();
    if (viewDirty_) updateView();
  }
}

void StatusLog::flush() { bringUpToDate(true); }

std::chrono::milliseconds StatusLog::idle() {
  using std::chrono::milliseconds;
  milliseconds wait(0);
  if (fileDirty_ && written_) {
    const auto since = std::chrono::duration_cast<milliseconds>(now_() - lastWrite_);
    const milliseconds pace = failing_ != 0 ? kRetryInterval : kFileInterval;
    if (since < pace) wait = pace - since;
  }
  bringUpToDate(wait.count() == 0);
  return wait;
}

}  // namespace kelvane
