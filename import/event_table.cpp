// Replaced by the event table.
