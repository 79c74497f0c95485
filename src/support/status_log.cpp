#include "support/status_log.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "support/error_handler.h"
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
    totalSize_ += line.size();
    lines_.push_back(std::move(line));
    // A long night with the view open must not fill the memory or the disk:
    // the oldest lines go (the newest line always stays).
    while (totalSize_ > kKeepLimit && lines_.size() > 1) {
      totalSize_ -= lines_.front().size();
      lines_.pop_front();
    }
    viewDirty_ = fileDirty_ = true;
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
void StatusLog::writeFile() {
  fileDirty_ = false;
  lastWrite_ = now_();
  written_ = true;
  if (filePath_.empty()) return;
  const auto write = [&] {
    std::FILE* f = std::fopen(filePath_.c_str(), "wb");
    if (!f) throw fileError(errno);
    // Line by line, newest first: no copy of the whole log each second.
    bool ok = true;
    for (auto it = lines_.rbegin(); ok && it != lines_.rend(); ++it)
      ok = std::fwrite(it->data(), 1, it->size(), f) == it->size();
    ok = ok && std::fwrite("\r\n", 1, 2, f) == 2;
    const int err = errno;
    if (std::fclose(f) != 0 || !ok) throw fileError(ok ? errno : err);
  };
  if (errors_) {
    Trap trap(*errors_, "Module1", "StringtoFile");
    trap(write);
  } else {
    try {
      write();
    } catch (const RuntimeError&) {
      // Nobody to tell; the lines stay for the next write.
    }
  }
  // Lines recorded meanwhile are the report of a failing write. They are
  // shown now and written with the next line logged: writing them again at
  // once would fail, report and log again, and every idle pass would bring
  // up the error dialog anew.
  fileDirty_ = false;
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
    if (since < kFileInterval) wait = kFileInterval - since;
  }
  bringUpToDate(wait.count() == 0);
  return wait;
}

}  // namespace kelvane
