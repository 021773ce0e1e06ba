#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "binary/wav_writer.h"

namespace {

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

// The header players read: sizes, rate, bytes a second and block size follow
// from the channels, and the samples follow as little-endian pairs of bytes.
TEST(WavWriter, HeaderAndSamplesAsPlayersReadThem) {
  const std::vector<std::int16_t> stereo = {1, -1, 0x1234, -32768};
  const std::string wav = binary::PcmWav(44100, 2, stereo);
  EXPECT_EQ(Hex(wav),
            "52 49 46 46 2C 00 00 00 57 41 56 45 66 6D 74 20 "  // RIFF, 36 + 8, WAVEfmt
            "10 00 00 00 01 00 02 00 44 AC 00 00 10 B1 02 00 "  // 16, PCM, 2, 44100, 176400
            "04 00 10 00 64 61 74 61 08 00 00 00 "              // 4, 16 bits, data, 8
            "01 00 FF FF 34 12 00 80");

  const std::string silent = binary::SilentWav(8000, 1, 4000);
  ASSERT_EQ(silent.size(), 44u + 8000u);
  EXPECT_EQ(Hex(silent.substr(0, 44)),
            "52 49 46 46 64 1F 00 00 57 41 56 45 66 6D 74 20 "
            "10 00 00 00 01 00 01 00 40 1F 00 00 80 3E 00 00 "
            "02 00 10 00 64 61 74 61 40 1F 00 00");
  EXPECT_EQ(silent.find_first_not_of('\0', 44), std::string::npos);
}

}  // namespace
