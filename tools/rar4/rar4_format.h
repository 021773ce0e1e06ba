#pragma once

#include <cstdint>
#include <string_view>

// The layout of RAR 4.x archives, as the writer makes them and the extractor
// checks them. Every block starts HEAD_CRC(2) HEAD_TYPE(1) HEAD_FLAGS(2)
// HEAD_SIZE(2), then ADD_SIZE(4) when kLongBlock is set; the block's data
// follows its header. Numbers are little-endian.
namespace rar4 {

inline constexpr std::string_view kMarker{"Rar!\x1A\x07\x00", 7};

// HEAD_TYPE
inline constexpr std::uint8_t kMainHeader = 0x73;
inline constexpr std::uint8_t kFileHeader = 0x74;
inline constexpr std::uint8_t kEndBlock = 0x7B;

// HEAD_FLAGS
inline constexpr std::uint16_t kLongBlock = 0x8000;  // ADD_SIZE (PACK_SIZE) follows
inline constexpr std::uint16_t kEndNoData = 0x4000;  // end block
// File headers:
inline constexpr std::uint16_t kSplit = 0x01 | 0x02;  // continued from or in another volume
inline constexpr std::uint16_t kEncrypted = 0x04;
inline constexpr std::uint16_t kLargeSizes = 0x100;  // HIGH_PACK_SIZE and HIGH_UNP_SIZE follow
inline constexpr std::uint16_t kDirectory = 0xE0;    // dictionary bits all set

// METHOD
inline constexpr std::uint8_t kMethodStore = 0x30;

// Where a file header's fields are, from the block's start.
inline constexpr int kFileCrcAt = 16;
inline constexpr int kFileMethodAt = 25;
inline constexpr int kFileNameSizeAt = 26;
inline constexpr int kFileHighPackSizeAt = 32;
inline constexpr int kFileNameAt = 32;       // without kLargeSizes
inline constexpr int kFileNameAtLarge = 40;  // with kLargeSizes

}  // namespace rar4
