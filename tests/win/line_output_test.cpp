// The console programs' output on Windows: a reader that takes nothing
// costs lines, never the show's time, and the next line that gets through
// says how many went missing.
#include "platform/win/line_output.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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

// The count a "(N line(s) not shown: output was full)" line gives, or -1.
long MissingCount(const std::string& line) {
  const std::string tail = " line(s) not shown: output was full)";
  if (line.size() <= tail.size() + 1 || line.front() != '(' ||
      line.compare(line.size() - tail.size(), tail.size(), tail) != 0) {
    return -1;
  }
  return std::stol(line.substr(1));
}

// Reads whole lines from `pipe` until `wanted` lines other than the missing
// counts have arrived; adds those counts to `missing`.
std::vector<std::string> ReadLines(HANDLE pipe, std::size_t wanted, long& missing) {
  std::vector<std::string> lines;
  std::string partial;
  while (lines.size() < wanted) {
    char c = 0;
    DWORD n = 0;
    if (!ReadFile(pipe, &c, 1, &n, nullptr) || n == 0) break;
    if (c != '\n') {
      partial += c;
      continue;
    }
    const long count = MissingCount(partial);
    if (count >= 0) {
      missing += count;
    } else {
      lines.push_back(partial);
    }
    partial.clear();
  }
  return lines;
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
    // Far more than the pipe and the queue hold: every call still returns.
    // The writing thread may make room meanwhile, so taken and dropped lines
    // can alternate; each taken line after a gap says how many went missing.
    constexpr int kLines = 400;
    for (int i = 0; i < kLines; ++i) out.Write(std::to_string(i) + std::string(1000, 'x'));
    const long dropped = out.Dropped();
    EXPECT_GT(dropped, 0);

    // What was taken arrives whole and in order...
    long missing = 0;
    const std::vector<std::string> got =
        ReadLines(reader, static_cast<std::size_t>(kLines - dropped), missing);
    ASSERT_EQ(got.size(), static_cast<std::size_t>(kLines - dropped));
    int previous = -1;
    for (const std::string& line : got) {
      const int number = std::stoi(line);
      EXPECT_GT(number, previous);
      EXPECT_EQ(line, std::to_string(number) + std::string(1000, 'x'));
      previous = number;
    }
    // ...and the next line says what did not, so every loss is told.
    out.Write("last");
    EXPECT_EQ(ReadLines(reader, 1, missing), std::vector<std::string>{"last"});
    EXPECT_EQ(missing, dropped);
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
