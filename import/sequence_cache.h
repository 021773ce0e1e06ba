#pragma once

#include <string>

#include "import/event_table.h"
#include "platform/file_store.h"
#include "platform/status.h"

namespace importer {

// Writes the rows of `table` not deleted, in its current order, to a
// SequenceCache file at `path`, replacing any file there atomically.
platform::Status SaveSequenceCache(const EventTable& table, const std::string& path,
                                   platform::FileStore& files);

// Reads a SequenceCache file into a new table whose rows are in stored order,
// cursor at the first row. Damaged or foreign files give an error that says
// what is wrong with the file ("not a Glimmerfield cache file", "unknown cache
// format version 7 ...", "truncated: ...", "checksum mismatch: ...",
// "impossible row count ..."). The message does not name the file: callers put
// the path in front of it.
//
// The stored name is the archive's base name with ".csq", in the Cache folder.
platform::Result<EventTable> LoadSequenceCache(const std::string& path);

}  // namespace importer
