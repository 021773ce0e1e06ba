#include "platform/posix/posix_file_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/fakes/temp_dir.h"

namespace {

// Regression: a writer killed between creating its temporary file and the
// rename left the temporary behind, and every such crash added another
// partial copy (up to a compiled sequence in size) to the folder.
TEST(PosixFileStoreTest, LeftoverTemporaryOfAKilledWriteGoesWithTheNextSave) {
  fakes::TempDir dir;
  const struct {
    const char* name;
    bool removed;
  } files[] = {
      {"playlist.txt.tmpAb3xYz", true},     // what a killed save of the playlist leaves
      {"playlist.txt.tmp123456", true},     //
      {"playlist.txt.tmp12345", false},     // not a name the store makes
      {"playlist.txt.tmp1234567", false},   //
      {"playlist.txt.tmp-notes", false},    //
      {"playlist.txt.bak", false},          //
      {"preferences.txt.tmpAb3xYz", true},  // another file's: goes with that file's save
  };
  for (const auto& f : files) fakes::WriteBytes(dir.File(f.name), "partial");

  platform::PosixFileStore store;
  ASSERT_TRUE(store.ReplaceFile(dir.File("playlist.txt"), "new").ok());
  EXPECT_EQ(fakes::ReadBytes(dir.File("playlist.txt")), "new");
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    const bool isOtherFiles = std::string_view(f.name).starts_with("preferences");
    EXPECT_EQ(std::filesystem::exists(dir.File(f.name)), !f.removed || isOtherFiles);
  }
  ASSERT_TRUE(store.ReplaceFile(dir.File("preferences.txt"), "new").ok());
  EXPECT_FALSE(std::filesystem::exists(dir.File("preferences.txt.tmpAb3xYz")));
}

}  // namespace
