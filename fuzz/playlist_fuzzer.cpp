// The playlist loader on any playlist.txt. What it accepts is saved and
// loaded again to the same list.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "playlist/playlist.h"
#include "tests/fakes/fake_list_box.h"

namespace {

std::vector<std::string> Texts(const fakes::FakeListBox& list) {
  std::vector<std::string> texts;
  for (const auto& item : list.items) texts.push_back(item.text);
  return texts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::InputFile("playlist.txt", data, size);
  fakes::FakeListBox list;
  fuzz::QuietUserInterface ui;
  fuzz::MemoryFileStore files;
  playlist::Playlist playlist(list, ui, files, path);
  playlist.ResetEntries();
  playlist.LoadPlaylist();
  if (list.items.empty()) return 0;

  if (!playlist.SavePlaylist().ok()) std::abort();
  const std::string& saved = files.files[path];
  const std::string again = fuzz::InputFile(
      "again.txt", reinterpret_cast<const std::uint8_t*>(saved.data()), saved.size());
  fakes::FakeListBox list2;
  playlist::Playlist reloaded(list2, ui, files, again);
  reloaded.ResetEntries();
  reloaded.LoadPlaylist();
  if (Texts(list2) != Texts(list)) std::abort();
  return 0;
}
