#pragma once

#include <string>
#include <vector>

#include "platform/file_store.h"
#include "platform/status.h"
#include "platform/user_interface.h"
#include "playlist/list_box.h"
#include "playlist/playlist_entry.h"

namespace playlist {

// The playlist: the records (`PlaylistEntries`), the list box that orders
// them, and the file playlist.txt that keeps them between runs.
class Playlist {
 public:
  Playlist(ListBox& list, platform::UserInterface& ui, platform::FileStore& files,
           std::string playlistFilePath);

  // Start-up: one empty record at index 0 (the list itself is emptied by the
  // caller).
  void ResetEntries();
  void LoadPlaylist();
  void AddPlaylistEntry(const PlaylistEntry& entry);
  // Rewrites playlist.txt from the list in its current order.
  platform::Status SavePlaylist();
  void MovePlaylistItem(int from, int to);

  void cmdPlayListMoveUp_Click();
  void cmdPlaylistMoveDown_Click();
  void cmdPlaylistRemove_Click();

  // For the show: rows of the list in playing order.
  int RowCount() const;
  const PlaylistEntry& EntryAtRow(int row) const;
  void SelectRow(int row);

  const std::vector<PlaylistEntry>& Entries() const { return entries_; }

 private:
  ListBox& list_;
  platform::UserInterface& ui_;
  platform::FileStore& files_;
  std::string path_;
  std::vector<PlaylistEntry> entries_;
};

}  // namespace playlist
