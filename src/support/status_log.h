#pragma once
// The program's one progress log. Lines are recorded only while the status
// view is open, newest first. Recording a line is O(1): the view and the file
// "status.log" are brought up to date in flush() (at once: before a dialog
// and at exit) and idle() (whenever the app becomes idle: the view at once,
// the file at most once a second), so a monitored move logging hundreds of
// lines a second neither rewrites the file per line nor grows without end.
// Memory keeps the newest kKeepLimit bytes of lines (more, up to twice
// that, only while lines of status.log wait to be written). On disk the log rotates
// so that a whole night stays: "status.log" holds the newest lines (at most
// kSegmentLimit bytes, newest first), and each time it is full, or a new run
// starts writing, it becomes "status.log.1" and the older ones move up to
// "status.log.<kOlderFiles>"; the oldest goes. A file that cannot be written
// costs one explanation, not a dialog per second: its lines stay in memory
// and in the view and the write is tried again every kRetryInterval.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace kelvane {

class ErrorHandler;

class StatusLog {
 public:
  using Clock = std::chrono::steady_clock;
  // Characters the view shows (the newest ones).
  static constexpr std::size_t kViewLimit = 32000;
  // Bytes of lines kept; the oldest lines beyond it are dropped (1 MiB).
  static constexpr std::size_t kKeepLimit = std::size_t{1} << 20;
  static constexpr std::chrono::milliseconds kFileInterval{1000};
  // "status.log" and its older files: 32 files of at most 1 MiB.
  static constexpr std::size_t kSegmentLimit = kKeepLimit;
  static constexpr int kOlderFiles = 31;
  static constexpr std::chrono::milliseconds kRetryInterval{10000};
  static constexpr const char* kProblemTitle = "Status Log";

  StatusLog();

  // Message(Text): records "time: Text" CR LF while showStatus() is true.
  void message(const std::string& text);

  bool showStatus() const { return showStatus_; }
  void setShowStatus(bool on) { showStatus_ = on; }

  // Where "status.log" lives (AppDataFolder + "status.log"); empty: no file.
  void setFilePath(std::string path) { filePath_ = std::move(path); }
  const std::string& filePath() const { return filePath_; }

  // Receives the first kViewLimit characters of LogText whenever it changed.
  void setViewSink(std::function<void(const std::string&)> sink) { viewSink_ = std::move(sink); }

  // Receives the text of each line as it is recorded, instead of keeping it:
  // a program with a log of its own (the INDI driver) hands the lines there
  // and keeps none, however long it runs.
  void setLineSink(std::function<void(const std::string&)> sink) { lineSink_ = std::move(sink); }

  // Supplies the local time of day in the user's format.
  void setClock(std::function<std::string()> clock) { clock_ = std::move(clock); }
  // The monotonic clock that paces the file writes.
  void setPaceClock(std::function<Clock::time_point()> now) { now_ = std::move(now); }

  // The error handler whose trap Message runs under, and whose host
  // explains a file that cannot be written.
  void setErrorHandler(ErrorHandler* errors) { errors_ = errors; }

  // Lines recorded between hold() and release() are kept aside; release
  // records them (keep) or drops them. A repeated search that finds
  // nothing new says so in one line instead of its whole log.
  void hold() {
    holding_ = true;
    held_.clear();
  }
  void release(bool keep);

  // Brings the view and the file up to date with everything recorded.
  void flush();
  // The same when idle: the view at once, the file only when its last write
  // is kFileInterval old. Returns how long until a deferred write is due
  // (zero when nothing waits); the caller comes back by then.
  std::chrono::milliseconds idle();
  bool dirty() const { return viewDirty_ || fileDirty_; }
  // The last write of the file failed; it is tried again later.
  bool writeFailing() const { return failing_ != 0; }

  // LogText: every kept line, newest first, each ended by CR LF.
  std::string logText() const;
  // The first kViewLimit characters of LogText, never half a character.
  std::string viewText() const;
  std::size_t lineCount() const { return lines_.size(); }
  std::size_t size() const { return totalSize_; }

 private:
  void trim();
  void bringUpToDate(bool file);
  void updateView();
  void writeFile();
  // status.log holds the lines of sequence numbers [from, to), newest first.
  void writeLines(std::uint64_t from, std::uint64_t to);
  // status.log becomes status.log.1, and so on up.
  void rotate();
  void writeFailed(int failure, const std::string& description);

  bool showStatus_ = false;
  bool viewDirty_ = false;
  bool fileDirty_ = false;
  bool flushing_ = false;
  std::deque<std::string> lines_;  // oldest first; each includes its CR LF
  std::size_t totalSize_ = 0;
  // Lines are numbered as recorded: the first kept one, the first one of
  // status.log on disk, the bytes since the last segment began, and where
  // later segments begin that are not rotated on disk yet.
  std::uint64_t firstSeq_ = 0;
  std::uint64_t fileFirst_ = 0;
  std::size_t segmentSize_ = 0;
  std::deque<std::uint64_t> boundaries_;
  bool rotateEarlierRun_ = true;
  bool holding_ = false;
  std::vector<std::string> held_;
  int failing_ = 0;  // the failure of the last write; 0 when it worked
  std::set<int> explained_;
  Clock::time_point lastWrite_{};
  bool written_ = false;
  std::string filePath_;
  std::function<void(const std::string&)> viewSink_;
  std::function<void(const std::string&)> lineSink_;
  std::function<std::string()> clock_;
  std::function<Clock::time_point()> now_;
  ErrorHandler* errors_ = nullptr;
};

// The local time of day in the user's format (on Windows the user's locale
// settings; elsewhere the C library's "%X" for the current locale).
std::string localTimeOfDay();

// The length in bytes of the first `limit` characters of UTF-8 text; a byte
// that starts no valid sequence counts as one character.
std::size_t utf8PrefixBytes(const std::string& text, std::size_t limit);

}  // namespace kelvane
