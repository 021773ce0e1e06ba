// The console programs' output on Windows: a reader that takes nothing
// costs lines, never the show's time, and the next line that gets through
// says how many went missing.
#include "platform/win/line_output.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

// Reads from `pipe` until `bytes` more have arrived.
std::string ReadExactly(HANDLE pipe, std::size_t bytes) {
  std::string got;
  char buffer[65536];
  while (got.size() < bytes) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, bytes - got.size()));
    if (!ReadFile(pipe, buffer, want, &n, nullptr) || n == 0) break;
    got.append(buffer, n);
  }
  return got;
}

TEST(WinLineOutput, AReaderThatTakesNothingCostsLinesNotTime) {
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 4096));
  const HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, writer);
  {
    platform::LineOutput out(1);
    SetStdHandle(STD_OUTPUT_HANDLE, saved);
    const std::string line(1000, 'x');
    // Far more than the pipe and the queue hold: every call still returns.
    constexpr int kLines = 400;
    for (int i = 0; i < kLines; ++i) out.Write(line);
    const long dropped = out.Dropped();
    EXPECT_GT(dropped, 0);

    // What was taken arrives whole and in order...
    const std::size_t taken = static_cast<std::size_t>(kLines - dropped);
    const std::string got = ReadExactly(reader, taken * (line.size() + 1));
    EXPECT_EQ(got, [&] {
      std::string all;
      for (std::size_t i = 0; i < taken; ++i) all += line + "\n";
      return all;
    }());
    // ...and the next line says what did not.
    out.Write("last");
    const std::string marker =
        "(" + std::to_string(dropped) + " line(s) not shown: output was full)\n";
    EXPECT_EQ(ReadExactly(reader, marker.size() + 5), marker + "last\n");
    EXPECT_EQ(out.Dropped(), dropped);
  }
  CloseHandle(reader);
  CloseHandle(writer);
}

TEST(WinLineOutput, ALongLineIsCutAndStillEnds) {
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 1 << 16));
  const HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, writer);
  {
    platform::LineOutput out(1);
    SetStdHandle(STD_OUTPUT_HANDLE, saved);
    out.Write(std::string(10000, 'y'));
    const std::string got = ReadExactly(reader, 3996 + 4);
    EXPECT_EQ(got, std::string(3996, 'y') + "...\n");
  }
  CloseHandle(reader);
  CloseHandle(writer);
}

}  // namespace
