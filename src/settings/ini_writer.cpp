#include "settings/ini_writer.h"

#include <utility>

#include "settings/code_page.h"

namespace kelvane {

namespace {

// Sets each of entries in into: a key already there keeps its place and its
// spelling and takes the new value, as IniStore::write treats repeated keys.
void merge(IniEntries& into, const IniEntries& entries) {
  for (const auto& entry : entries) {
    bool found = false;
    for (auto& held : into) {
      if (IniStore::sameKey(held.first, entry.first)) {
        held.second = entry.second;
        found = true;
        break;
      }
    }
    if (!found) into.push_back(entry);
  }
}

const std::string* find(const IniEntries& entries, const std::string& key) {
  for (const auto& [held, value] : entries)
    if (IniStore::sameKey(held, key)) return &value;
  return nullptr;
}

}  // namespace

IniWriter::IniWriter(std::string path, std::string section)
    : path_(std::move(path)), section_(std::move(section)), store_(path_) {}

IniWriter::~IniWriter() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
    notice_ = nullptr;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  try {
    flush();
  } catch (...) {
    // Nobody left to tell.
  }
}

std::string IniWriter::read(const std::string& key) const {
  if (isValidUtf8(key)) {
    const std::lock_guard lock(mutex_);
    // The latest value first: posted since the write in progress began.
    const std::string* value = find(pending_, key);
    if (!value) value = find(writing_, key);
    if (value) return std::string(IniStore::readBack(*value));
  }
  // Not pending: the file holds the value, also while a write is at work.
  const std::lock_guard file(fileMutex_);
  return store_.read(section_, key);
}

void IniWriter::post(const IniEntries& entries) {
  IniStore::check(section_, entries);
  {
    const std::lock_guard lock(mutex_);
    merge(pending_, entries);
    posted_ = true;
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  }
  wake_.notify_one();
}

IniEntries IniWriter::takePending() {
  writing_ = std::move(pending_);
  pending_.clear();
  posted_ = false;
  return writing_;
}

void IniWriter::settle(bool failed) {
  if (failed) {
    merge(writing_, pending_);
    pending_ = std::move(writing_);
  }
  writing_.clear();
}

void IniWriter::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || posted_; });
    if (stop_) return;
    lock.unlock();
    std::unique_lock file(fileMutex_);
    lock.lock();
    if (stop_) return;
    if (!posted_) continue;  // a flush wrote them meanwhile
    const IniEntries batch = takePending();
    lock.unlock();
    std::exception_ptr failure;
    try {
      store_.write(section_, batch);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    // Settled before the file is free, so that a flush waiting for it finds
    // failed keys pending again.
    settle(failure != nullptr);
    if (!failure) ++rewrites_;
    file.unlock();
    if (failure) {
      failures_.push_back(failure);
      if (notice_) notice_();
    }
  }
}

void IniWriter::write(const IniEntries& entries) {
  IniStore::check(section_, entries);
  const std::lock_guard file(fileMutex_);
  IniEntries batch;
  {
    const std::lock_guard lock(mutex_);
    batch = takePending();
  }
  merge(batch, entries);
  try {
    if (!batch.empty()) store_.write(section_, batch);
  } catch (...) {
    const std::lock_guard lock(mutex_);
    settle(true);
    throw;
  }
  const std::lock_guard lock(mutex_);
  settle(false);
}

bool IniWriter::pending() const {
  const std::lock_guard lock(mutex_);
  return !pending_.empty() || !writing_.empty();
}

int IniWriter::rewrites() const {
  const std::lock_guard lock(mutex_);
  return rewrites_;
}

std::vector<std::exception_ptr> IniWriter::takeFailures() {
  const std::lock_guard lock(mutex_);
  return std::exchange(failures_, {});
}

void IniWriter::setFailureNotice(std::function<void()> notice) {
  const std::lock_guard lock(mutex_);
  notice_ = std::move(notice);
}

int IniWriter::removeStaleTempFiles() const {
  const std::lock_guard file(fileMutex_);
  return store_.removeStaleTempFiles();
}

}  // namespace kelvane
