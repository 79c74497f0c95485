#pragma once
// The program's one progress log. Lines are recorded only while the status
// view is open, newest first. Recording a line is O(1): the view and the file
// "status.log" are brought up to date in flush(), which the app runs whenever
// it becomes idle, before any modal dialog and at exit, so a monitored move
// logging hundreds of lines a second does not rewrite the file per line.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace kelvane {

class ErrorHandler;

class StatusLog {
 public:
  static constexpr std::size_t kViewLimit = 32000;

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

  // Supplies the local time of day in the system's format.
  void setClock(std::function<std::string()> clock) { clock_ = std::move(clock); }

  // The error handler whose trap StringtoFile runs under.
  void setErrorHandler(ErrorHandler* errors) { errors_ = errors; }

  // Brings the view and the file up to date with everything recorded.
  void flush();
  bool dirty() const { return dirty_; }

  // LogText: every recorded line, newest first, each ended by CR LF.
  std::string logText() const;
  // The first kViewLimit characters of LogText.
  std::string viewText() const;
  std::size_t lineCount() const { return lines_.size(); }

 private:
  bool showStatus_ = false;
  bool dirty_ = false;
  bool flushing_ = false;
  std::vector<std::string> lines_;  // oldest first; each includes its CR LF
  std::size_t totalSize_ = 0;
  std::string filePath_;
  std::function<void(const std::string&)> viewSink_;
  std::function<void(const std::string&)> lineSink_;
  std::function<std::string()> clock_;
  ErrorHandler* errors_ = nullptr;
};

// The local time of day as the C library formats it for the current locale.
std::string localTimeOfDay();

}  // namespace kelvane
