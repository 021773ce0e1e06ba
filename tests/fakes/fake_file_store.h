#pragma once

#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_store.h"

namespace fakes {

// The program's own files, kept in memory as they are written. With `onDisk`
// (the tests) each is also written to its path, plainly, and reads come from
// the disk by the one rule, so readers that take a path (the sequence cache)
// and files a test puts in place (a pipe, a folder, a hand-edited file) are
// seen; without it (the fuzz targets) nothing touches the disk and a file
// written or put in `files` reads back from memory. Can be told to fail every
// write, as a read-only folder would.
class FakeFileStore : public platform::FileStore {
 public:
  platform::Status ReplaceFile(const std::string& path, std::string_view bytes) override {
    if (!failWith.empty()) return platform::Status::Error(failWith);
    if (onDisk) {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      if (!out) return platform::Status::Error("cannot write " + path);
    }
    files[path] = std::string(bytes);
    written.push_back(path);
    return platform::Status::Ok();
  }
  platform::Result<std::string> ReadWholeFile(const std::string& path,
                                              std::uintmax_t limitBytes) override {
    const auto kept = files.find(path);
    if (onDisk || kept == files.end()) return platform::ReadRegularFile(path, limitBytes);
    if (kept->second.size() > limitBytes) {
      return platform::Result<std::string>::Error(platform::LargerThanMessage(limitBytes));
    }
    return kept->second;
  }

  bool onDisk = true;
  std::map<std::string, std::string> files;  // path: its bytes, as last written or put here
  std::string failWith;                      // non-empty: every write fails with this message
  std::vector<std::string> written;          // paths, in order of the writes
};

}  // namespace fakes
