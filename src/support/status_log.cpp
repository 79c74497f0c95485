#include "support/status_log.h"

#include <ctime>

#include "support/error_handler.h"
#include "support/file_helpers.h"
#include "support/runtime_error.h"

namespace kelvane {

std::string localTimeOfDay() {
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

StatusLog::StatusLog() : clock_(localTimeOfDay) {}

void StatusLog::message(const std::string& text) {
  if (!showStatus_) return;
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
    lines_.push_back(std::move(line));
    totalSize_ += lines_.back().size();
    dirty_ = true;
  };
  if (!errors_) {
    record();
    return;
  }
  Trap trap(*errors_, "Module1", "Message");
  trap(record);
}

std::string StatusLog::logText() const {
  std::string text;
  text.reserve(totalSize_);
  for (auto it = lines_.rbegin(); it != lines_.rend(); ++it) text += *it;
  return text;
}

std::string StatusLog::viewText() const {
  std::string text;
  text.reserve(kViewLimit);
  for (auto it = lines_.rbegin(); it != lines_.rend() && text.size() < kViewLimit; ++it) {
    text.append(*it, 0, kViewLimit - text.size());
  }
  return text;
}

void StatusLog::flush() {
  if (!dirty_ || flushing_) return;
  flushing_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{flushing_};
  dirty_ = false;
  if (viewSink_) viewSink_(viewText());
  if (!filePath_.empty()) {
    if (errors_) {
      stringtoFile(*errors_, filePath_, logText());
    } else {
      try {
        writeFileAtomic(filePath_, logText() + "\r\n");
      } catch (const RuntimeError&) {
        // Nobody to tell; the lines stay in LogText for the next write.
      }
    }
  }
  // Lines recorded meanwhile are the report of a failing write. They are
  // shown now and written with the next line logged: writing them again at
  // once would fail, report and log again, and every idle pass would bring
  // up the error dialog anew.
  if (dirty_) {
    dirty_ = false;
    if (viewSink_) viewSink_(viewText());
  }
}

}  // namespace kelvane
