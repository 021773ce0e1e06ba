#include "tools/rar4/rar4_writer.h"

#include <stdexcept>

#include "binary/crc32.h"
#include "binary/little_endian.h"
#include "tools/rar4/rar4_format.h"

namespace rar4 {
namespace {

constexpr std::uint8_t kUnpackVersion = 29;
// 2024-01-01 00:00:00 in DOS format.
constexpr std::uint32_t kDosTime = ((2024u - 1980u) << 25) | (1u << 21) | (1u << 16);

void Put16(std::string& out, std::uint32_t v) {
  binary::AppendLittle(out, static_cast<std::uint16_t>(v));
}
void Put32(std::string& out, std::uint32_t v) {
  binary::AppendLittle(out, v);
}

// Prefixes a header body (from HEAD_TYPE on, with HEAD_SIZE still to fill)
// with its CRC after setting HEAD_SIZE.
std::string Block(std::string body) {
  const std::size_t size = body.size() + 2;
  if (size > 0xFFFF) throw std::length_error("RAR header too long");
  body[3] = static_cast<char>(size & 0xFF);
  body[4] = static_cast<char>(size >> 8);
  std::string block;
  Put16(block, binary::Crc32::Of(body) & 0xFFFF);
  return block + body;
}

std::string HeaderStart(std::uint8_t type, std::uint16_t flags) {
  std::string body;
  body += static_cast<char>(type);
  Put16(body, flags);
  Put16(body, 0);  // HEAD_SIZE, set by Block
  return body;
}

}  // namespace

std::string MakeArchive(const std::vector<Entry>& entries) {
  std::string out(kMarker);

  std::string main = HeaderStart(kMainHeader, 0);
  Put16(main, 0);  // RESERVED1
  Put32(main, 0);  // RESERVED2
  out += Block(main);

  for (const Entry& e : entries) {
    if (e.data.size() > 0xFFFFFFFFu) throw std::length_error("RAR 4 entry too large");
    const std::uint16_t flags = kLongBlock | (e.directory ? kDirectory : 0);
    std::uint32_t attributes = e.attributes;
    if (e.directory && e.hostOs != 3) attributes |= 0x10;  // FILE_ATTRIBUTE_DIRECTORY
    std::string header = HeaderStart(kFileHeader, flags);
    Put32(header, static_cast<std::uint32_t>(e.data.size()));  // PACK_SIZE
    Put32(header, static_cast<std::uint32_t>(e.data.size()));  // UNP_SIZE
    header += static_cast<char>(e.hostOs);
    Put32(header, binary::Crc32::Of(e.data));
    Put32(header, kDosTime);
    header += static_cast<char>(kUnpackVersion);
    header += static_cast<char>(kMethodStore);
    Put16(header, static_cast<std::uint32_t>(e.name.size()));
    Put32(header, attributes);
    header += e.name;
    out += Block(header);
    out += e.data;
  }

  out += Block(HeaderStart(kEndBlock, kEndNoData));
  return out;
}

}  // namespace rar4
