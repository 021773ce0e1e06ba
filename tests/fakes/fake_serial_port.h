#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/serial_port.h"

namespace fakes {

// Keeps every write, in order, and every open and close.
class FakeSerialPort : public platform::SerialPort {
 public:
  void SetPortNumber(int number) override { portNumber = number; }
  void SetSettings(const std::string& s) override { settings = s; }

  platform::Status Open() override {
    ++openCount;
    if (!openError.empty()) return platform::Status::Error(openError);
    open = true;
    return platform::Status::Ok();
  }
  bool IsOpen() const override { return open; }
  void Close() override {
    if (open) ++closeCount;
    open = false;
  }
  platform::Status Write(std::string_view bytes) override {
    if (!open) return platform::Status::Error("write on a closed port");
    if (!writeError.empty()) {
      open = false;
      return platform::Status::Error(writeError);
    }
    writes.emplace_back(bytes);
    return platform::Status::Ok();
  }

  int portNumber = 0;
  std::string settings;
  bool open = false;
  int openCount = 0;
  int closeCount = 0;
  std::string openError;   // non-empty: Open fails with it
  std::string writeError;  // non-empty: Write fails with it and closes the port
  std::vector<std::string> writes;
};

}  // namespace fakes
