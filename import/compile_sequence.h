#pragma once

#include <string>

#include "import/compile_window.h"
#include "platform/file_store.h"
#include "platform/user_interface.h"
#include "sequence_format/fade_timing.h"

namespace importer {

// What the sequence compiler reaches outside itself. LastImportFolder is the
// folder the audio file dialog opens in; the compiler never changes it.
// FadeTimings is the table its owner (the main window, or a command-line
// tool) filled once, so every import uses the same one without rebuilding it.
struct CompileServices {
  CompileWindow& window;
  platform::UserInterface& ui;
  platform::FileStore& files;
  const sequence_format::FadeTimingTable& fadeTimings;
  std::string lastImportFolder;
  // The archive the document was extracted from, when it was: messages
  // name it, the file the user picked, not the copy in Temp.
  std::string archive = {};
};

// The audio file message, shown before the user is asked to locate it; it
// names the file the sequence asked for, `wantedPath`, when there is one.
std::string MissingAudioMessage(const std::string& displayTitle, const std::string& wantedPath);
// The file name part of a path written with "/" or "\\".
std::string WantedFileName(const std::string& wantedPath);
// Shown when the user does not locate the audio file.
std::string NoAudioChosenMessage();

inline constexpr const char* kAudioFileFilter =
    "WAV Files (*.wav) | *.wav| MP3 Files (*.mp3) | *.mp3";
// The Locate Audio File dialog's filter for the file the sequence asked for
// (`wantedName`): its type first, so the dialog shows files like it, then
// the other type, then every audio file the player plays.
std::string AudioFileFilterFor(const std::string& wantedName);
inline constexpr const char* kLocateAudioTitle = "Locate Audio File";

// Compiles the sequence document `documentFile` into the SequenceCache file
// `cacheFile`, and sets `audioFile` (the document's audio file, or the one
// the user located) and `displayTitle` ("Title - Artist", UTF-8).
//
// A refused import leaves `audioFile` empty, has told the user why in one
// message, and has written no cache file (an older file of that name stays
// as it was). Refused are: a document that cannot be read or is malformed
// (the message names the element and its line), a missing audio file the
// user does not locate, and a cache file that cannot be written.
void CompileSequence(const std::string& documentFile, const std::string& cacheFile,
                     std::string& audioFile, std::string& displayTitle,
                     const CompileServices& services);

}  // namespace importer
