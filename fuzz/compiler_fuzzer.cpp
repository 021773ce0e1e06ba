// A sequence document through the whole compiler: reader, passes, bitmask
// step, writer. What the compiler writes must read back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "import/compile_sequence.h"
#include "sequence_format/fade_timing.h"
#include "sequence_format/sequence_cache.h"
#include "tests/import/import_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const sequence_format::FadeTimingTable& fadeTimings = sequence_format::kFadeTimingTable;
  static const std::string audio = fuzz::InputFile("song.wav", nullptr, 0);
  static const std::string cache = (fuzz::ScratchFolder() / "sequence.csq").string();

  const std::string document = fuzz::InputFile("sequence", data, size);
  fakes::FakeUserInterface ui;
  ui.dialogAnswers.push_back(audio);  // a missing audio file is "located"
  // Both ways through the bitmask step, chosen by the input itself.
  import_test::RecordingWindow window(ui, size % 2 == 1);
  fakes::FakeFileStore files = fuzz::MemoryFileStore();
  std::string audioFile, title;
  importer::CompileSequence(document, cache, audioFile, title,
                            importer::CompileServices{window, ui, files, fadeTimings, ""});
  if (audioFile.empty()) return 0;

  const auto written = files.files.find(cache);
  if (written == files.files.end()) std::abort();  // accepted, yet nothing saved
  const std::string& bytes = written->second;
  const std::string copy = fuzz::InputFile(
      "written.csq", reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  if (!sequence_format::LoadSequenceCache(copy).ok()) std::abort();  // the writer's file is refused
  return 0;
}
