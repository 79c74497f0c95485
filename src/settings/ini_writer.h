#pragma once
// One section of an IniStore whose writes may be left to a thread of their
// own, so that a click does not wait for the rewrite of a large file.
//  - post() only records the keys (the last value of a key wins, the order
//    first given is kept) and wakes the writer; keys posted while it is at
//    work go out together in its next rewrite;
//  - read() sees posted keys at once, before they reach the file;
//  - the writer writes as IniStore::write does (under the file's WriteLock,
//    keeping the keys other processes write, replacing atomically);
//  - a background write that fails keeps its keys pending, behind any value
//    posted since, and leaves its failure for takeFailures(); it is tried
//    again with the next post or flush, not in a loop;
//  - write() and flush() write on the caller's thread, what is pending
//    first, and throw as IniStore::write does. They wait for a background
//    write in progress, which the file's lock wait bounds.
// Locking: fileMutex_ guards store_ for a whole read or rewrite; mutex_
// guards everything else for moments only, so post() never waits for the
// disk. When both are held, fileMutex_ is taken first.
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "settings/ini_store.h"

namespace kelvane {

class IniWriter {
 public:
  IniWriter(std::string path, std::string section);
  // Stops the writer and writes what is pending; a failure then is dropped
  // (flush first to hear of it).
  ~IniWriter();
  IniWriter(const IniWriter&) = delete;
  IniWriter& operator=(const IniWriter&) = delete;

  const std::string& path() const { return path_; }

  // The key's value as the file will hold it once what is pending is
  // written. A key not pending is read from the file (or its cache), after
  // a rewrite in progress. Throws as IniStore::read does.
  std::string read(const std::string& key) const;

  // Records the keys for the writer. Throws at once, recording nothing, for
  // a key or value the file cannot carry (as IniStore::write refuses it).
  void post(const IniEntries& entries);

  // What is pending, and then entries, in one rewrite on this thread. On a
  // failure what was pending stays pending; entries are not kept.
  void write(const IniEntries& entries);
  void flush() { write({}); }

  // Whether keys wait for the file (pending, or being written).
  bool pending() const;

  // How many rewrites the writer thread has made.
  int rewrites() const;

  // The failures of background writes since the last call, oldest first.
  std::vector<std::exception_ptr> takeFailures();

  // Called on the writer's thread after a background write failed, so the
  // owner can fetch the failure on its own thread. Not called once this
  // returns with nullptr.
  void setFailureNotice(std::function<void()> notice);

  int removeStaleTempFiles() const;

 private:
  void run();
  // Takes pending_ into writing_ (under mutex_).
  IniEntries takePending();
  // The end of writing batch: on a failure its keys go back in front of
  // those posted since (under mutex_).
  void settle(bool failed);

  const std::string path_;
  const std::string section_;

  mutable std::mutex fileMutex_;
  IniStore store_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  IniEntries pending_;  // one entry per key
  IniEntries writing_;  // taken by the write in progress
  bool posted_ = false;  // pending_ holds keys not yet tried
  bool stop_ = false;
  int rewrites_ = 0;
  std::vector<std::exception_ptr> failures_;
  std::function<void()> notice_;
  std::thread thread_;
};

}  // namespace kelvane
