#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace importer {

// Sequence documents come from a Windows product and are often written in an
// 8-bit code page; the rest of the program holds text as UTF-8 (the window
// shows byte strings as UTF-8). A whole document is turned into UTF-8 before
// it is parsed, so titles, artists and paths arrive readable, and character
// references (&#233;) and raw bytes end up in the same encoding.

// Bytes with room to grow that are not zero-filled first: documents run to
// tens of megabytes, and every extra pass over them shows in import time.
class ByteBuffer {
 public:
  ByteBuffer() = default;
  explicit ByteBuffer(std::size_t capacity)
      : data_(new char[capacity > 0 ? capacity : 1]), capacity_(capacity) {}

  char* data() { return data_.get(); }
  const char* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  // `size` must not exceed the capacity; bytes beyond the old size are
  // whatever the caller wrote there.
  void SetSize(std::size_t size) { size_ = size; }
  std::string_view view() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// The value of the encoding="..." pseudo-attribute of the XML declaration at
// the start of `bytes`, as written; empty when there is no declaration or it
// names no encoding.
std::string DeclaredXmlEncoding(std::string_view bytes);

// Turns the document in `buffer` into UTF-8 without a byte order mark, in
// place when the capacity allows. The encoding comes from the byte order
// mark, the byte pattern of "<?" (UTF-16, UTF-32), or the declaration.
// Understood 8-bit encodings: windows-1252, ISO-8859-1 (read as windows-1252,
// as browsers do: documents labelled Latin-1 in practice hold windows-1252
// punctuation), ISO-8859-15 and US-ASCII. A document that declares another
// encoding is accepted only when it is plain ASCII; otherwise the error names
// the encoding.
platform::Status XmlDocumentToUtf8(ByteBuffer& buffer);

// The forms in which a document can be read byte by byte as it stands: the
// markup is ASCII, and only the text taken from it needs converting.
enum class ByteForm { kUtf8, kWindows1252, kLatin9 };
struct DirectForm {
  ByteForm form;
  std::size_t markSize;  // bytes of a UTF-8 byte order mark to skip
};
// How `bytes` can be read without converting the whole document first;
// nothing for UTF-16 and UTF-32 documents and for declared encodings this
// program does not know (XmlDocumentToUtf8 handles or refuses those).
std::optional<DirectForm> DirectlyReadableForm(std::string_view bytes);

// `raw`, text of a document in `form`, as UTF-8.
std::string ToUtf8(std::string_view raw, ByteForm form);

}  // namespace importer
