#pragma once

#include <string>

#include "platform/posix/unique_fd.h"

namespace platform {

// Whole lines to a descriptor (standard output) that never wait for the
// reader: a show that prints its status must not stop because a pipe is full,
// a terminal is held with Ctrl+S or the reader went away. A line there is no
// room for is dropped and counted; the next line that gets through says how
// many went missing. A regular file is written as usual.
class LineOutput {
 public:
  explicit LineOutput(int fd);

  void Write(const std::string& line);
  long Dropped() const { return dropped_; }

 private:
  bool Put(const std::string& bytes);

  int fd_;
  // The same pipe or terminal opened again without blocking, so the flag
  // does not change the descriptor the shell shares with us.
  UniqueFd own_;
  bool regular_ = false;
  long dropped_ = 0;
  long reported_ = 0;
};

}  // namespace platform
