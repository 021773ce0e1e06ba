// The playlist loader on any playlist.txt. What it accepts is saved and
// loaded again to the same list.
#include <cstdint>
#include <cstdlib>
#include <memory>
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
  fakes::FakeUserInterface ui;
  fakes::FakeFileStore files = fuzz::MemoryFileStore();
  playlist::Playlist playlist(list, ui, files, path);
  playlist.ResetEntries();
  playlist.LoadPlaylist();
  if (list.items.empty()) return 0;

  // Saving blanks control characters in the texts, so the first save may
  // change them; from then on a save reads back exactly as it was written.
  const auto saveAndReload = [&](playlist::Playlist& from, const std::string& name,
                                 fakes::FakeListBox& into) {
    if (!from.SavePlaylist().ok()) std::abort();
    const std::string saved = files.files[from.FilePath()];
    const std::string next =
        fuzz::InputFile(name, reinterpret_cast<const std::uint8_t*>(saved.data()), saved.size());
    auto reloaded = std::make_unique<playlist::Playlist>(into, ui, files, next);
    reloaded->ResetEntries();
    reloaded->LoadPlaylist();
    return reloaded;
  };
  fakes::FakeListBox list2, list3;
  auto once = saveAndReload(playlist, "again.txt", list2);
  if (list2.items.size() != list.items.size()) std::abort();
  saveAndReload(*once, "third.txt", list3);
  if (Texts(list3) != Texts(list2)) std::abort();
  return 0;
}
