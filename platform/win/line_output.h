#pragma once

#include <memory>
#include <string>

namespace platform {

// Whole lines to standard output or error (1 or 2) that never wait for the
// reader: a show that prints its status must not stop because a pipe is
// full, a console is held by a selection (QuickEdit) or the reader went
// away. Windows has no non-blocking writes to a pipe or console, so a thread
// of its own writes them, from a queue of bounded length; a line there is no
// room for is dropped and counted, and the next line that gets through says
// how many went missing. A regular file is written as usual.
class LineOutput {
 public:
  explicit LineOutput(int fd);
  ~LineOutput();
  LineOutput(const LineOutput&) = delete;
  LineOutput& operator=(const LineOutput&) = delete;

  void Write(const std::string& line);
  long Dropped() const;

 private:
  struct Queue;
  std::shared_ptr<Queue> queue_;
  void* handle_ = nullptr;
  bool regular_ = false;
  long dropped_ = 0;
  long reported_ = 0;
};

}  // namespace platform
