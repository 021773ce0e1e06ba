#pragma once

#include "import/compile_window.h"
#include "platform/user_interface.h"
#include "sequence_format/event_table.h"

namespace importer {

// Folds rows that send the same command at the same moment to several
// channels of one controller and bank into one row whose Channel is the sum
// of their channel bits.
//
// Rows are grouped by the seven columns other than Channel (a null interval
// equals only a null interval), so different controllers, banks (the bank is
// part of Command), intensities or fade timings never merge. The result is a
// new table with one row per group, in the order in which the groups first
// appear in playback order.
//
// Every 100th input row (by position in playback order) shows
// "Optimization - Bitmask Of Identical Commands (P% completed) - Optimized
// Output: K", K being the output rows made before that row, and lets window
// events run.
//
// Leaves `events` sorted "SampleNumber asc, Device asc, Channel asc" with its
// cursor past the last row; its rows are not changed.
sequence_format::EventTable MergeIdenticalCommands(sequence_format::EventTable& events,
                                                   CompileWindow& window,
                                                   platform::UserInterface& ui);

}  // namespace importer
