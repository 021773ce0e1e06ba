// The SequenceCache reader on any bytes. A file it accepts walks to its end,
// and the same rows written again read back the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "sequence_format/event_table.h"
#include "sequence_format/sequence_cache.h"
#include "tests/import/import_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::InputFile("input.csq", data, size);
  auto loaded = sequence_format::LoadSequenceCache(path);
  if (!loaded.ok()) {
    if (loaded.message().empty()) std::abort();  // a refusal must say why
    return 0;
  }
  sequence_format::EventTable& table = loaded.value();
  const std::vector<import_test::Values> rows = import_test::ReadAll(table);
  if (rows.size() != table.RowCount()) std::abort();

  fakes::FakeFileStore files = fuzz::MemoryFileStore();
  if (!sequence_format::SaveSequenceCache(table, "again.csq", files).ok()) std::abort();
  const std::string& bytes = files.files["again.csq"];
  const std::string again = fuzz::InputFile(
      "again.csq", reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  auto reloaded = sequence_format::LoadSequenceCache(again);
  if (!reloaded.ok() || import_test::ReadAll(reloaded.value()) != rows) std::abort();
  return 0;
}
