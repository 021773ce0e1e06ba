#include "platform/win/line_output.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace platform {

// Shared with the writing thread, which may outlive the LineOutput when the
// reader never takes its last lines.
struct LineOutput::Queue {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> lines;
  bool writing = false;
  bool closing = false;
};

namespace {

constexpr std::size_t kQueuedLines = 256;
constexpr std::size_t kLongest = 4096 - 100;
constexpr auto kLastLinesWait = std::chrono::seconds(1);

bool WriteAll(HANDLE handle, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                   nullptr) ||
        written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

LineOutput::LineOutput(int fd)
    : handle_(GetStdHandle(fd == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE)) {
  if (handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) return;
  regular_ = GetFileType(handle_) == FILE_TYPE_DISK;
  if (regular_) return;
  queue_ = std::make_shared<Queue>();
  std::thread([queue = queue_, handle = handle_] {
    std::unique_lock lock(queue->mutex);
    for (;;) {
      queue->changed.wait(lock, [&] { return !queue->lines.empty() || queue->closing; });
      if (queue->lines.empty()) return;
      const std::string line = std::move(queue->lines.front());
      queue->lines.pop_front();
      queue->writing = true;
      lock.unlock();
      // A reader gone (a broken pipe) loses the line, as it would on Linux.
      (void)WriteAll(static_cast<HANDLE>(handle), line);
      lock.lock();
      queue->writing = false;
      queue->changed.notify_all();
    }
  }).detach();
}

LineOutput::~LineOutput() {
  if (!queue_) return;
  std::unique_lock lock(queue_->mutex);
  queue_->closing = true;
  queue_->changed.notify_all();
  // The last lines (why the show ended) get a moment to reach a slow
  // reader; a reader that takes nothing does not hold up the end.
  queue_->changed.wait_for(lock, kLastLinesWait,
                           [&] { return queue_->lines.empty() && !queue_->writing; });
}

long LineOutput::Dropped() const {
  return dropped_;
}

void LineOutput::Write(const std::string& line) {
  if (handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) return;
  std::string bytes;
  if (dropped_ > reported_) {
    bytes = "(" + std::to_string(dropped_ - reported_) + " line(s) not shown: output was full)\n";
  }
  bytes += line.size() > kLongest ? line.substr(0, kLongest) + "..." : line;
  bytes += '\n';
  bool taken = true;
  if (regular_) {
    taken = WriteAll(static_cast<HANDLE>(handle_), bytes);
  } else {
    std::lock_guard lock(queue_->mutex);
    taken = queue_->lines.size() < kQueuedLines;
    if (taken) {
      queue_->lines.push_back(std::move(bytes));
      queue_->changed.notify_all();
    }
  }
  if (taken) {
    reported_ = dropped_;
  } else {
    ++dropped_;
  }
}

}  // namespace platform
