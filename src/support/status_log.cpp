#include "support/status_log.h"

#include <ctime>

#include "support/file_helpers.h"

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
  std::string line = clock_();
  line.reserve(line.size() + text.size() + 4);
  line += ": ";
  line += text;
  line += "\r\n";
  totalSize_ += line.size();
  lines_.push_back(std::move(line));
  dirty_ = true;
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
  // A failing file write reports itself, which logs again: that line is
  // written by the next flush rather than by recursing into this one.
  if (!dirty_ || flushing_) return;
  flushing_ = true;
  dirty_ = false;
  if (viewSink_) viewSink_(viewText());
  if (!filePath_.empty() && errors_) stringtoFile(*errors_, filePath_, logText());
  flushing_ = false;
}

}  // namespace kelvane
