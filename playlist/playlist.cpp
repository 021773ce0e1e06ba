// Replaced by the playlist.
