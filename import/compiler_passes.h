#pragma once

#include <cstdint>
#include <string>

#include "import/compile_window.h"
#include "platform/file_store.h"
#include "platform/status.h"
#include "platform/user_interface.h"
#include "sequence_format/event_table.h"
#include "sequence_format/fade_timing.h"

// The second half of the sequence compiler: from the rows the document gave to
// the SequenceCache file. The import driver calls
//
//   platform::Status FinishCompile(EventTable& events, const FadeTimingTable& fadeTimings,
//                                  const std::string& cacheFile, CompileWindow& window,
//                                  platform::UserInterface& ui, platform::FileStore& files);
//
// once the document has been read. It runs fade timings, redundant-command
// removal, the bitmask phase (MergeIdenticalCommands when
// window.PerformBitmask()), sorts into playback order and replaces the cache
// file atomically. When the file cannot be written the error says why (from
// the FileStore, which names the path) and the old file, if any, is left
// whole.
//
// A channel is identified by controller, bank and channel bit: Channel alone
// is only the bit within a bank, so channel 1 (bank 1) and channel 9 (bank 2)
// carry the same Channel value and must not be taken for one channel. The bank
// follows from Command.

namespace importer {

inline constexpr const char* kDurationsSort = "Device, Channel, SampleNumber desc";
inline constexpr const char* kRedundantSort = "Device asc, Channel asc, SampleNumber asc";
inline constexpr const char* kPlaybackSort = "SampleNumber asc, Device asc, Channel asc";

// 2 for the bank 2 command codes (23, 24, 26, 27 and -10, the bank 1 codes less
// 10), 1 for every other code.
int BankOfCommand(std::int32_t command);

// "Generating event durations": gives every fade (Command 34 or 24) that has a
// later event on the same controller, bank and channel the codes for the span
// up to that event. The last event of a channel keeps null codes; other
// commands are left as they are. Rows at the same moment on one channel count
// in the order they were added (the order the player sends them): each but
// the last is followed after a span of 0. Leaves the table sorted
// kDurationsSort.
platform::Status GenerateEventDurations(sequence_format::EventTable& events,
                                        const sequence_format::FadeTimingTable& fadeTimings,
                                        CompileWindow& window, platform::UserInterface& ui);

// "Optimization - Removing Redundant Commands": deletes every non-fade row
// whose Device, Channel, Command and intensities equal those of the previous
// row of the same controller, bank and channel. Every 100th position shows
// "... (P% completed) Optimization Level: L%" and lets window events run.
// Leaves the table sorted kRedundantSort.
platform::Status RemoveRedundantCommands(sequence_format::EventTable& events, CompileWindow& window,
                                         platform::UserInterface& ui);

// The whole second half, with the fade timings the main window holds.
platform::Status FinishCompile(sequence_format::EventTable& events,
                               const sequence_format::FadeTimingTable& fadeTimings,
                               const std::string& cacheFile, CompileWindow& window,
                               platform::UserInterface& ui, platform::FileStore& files);

}  // namespace importer
