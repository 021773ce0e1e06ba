#include "binary/wav_writer.h"

#include <limits>
#include <stdexcept>

#include "binary/little_endian.h"

namespace binary {
namespace {

constexpr std::uint16_t kPcm = 1;
constexpr std::uint16_t kBitsPerSample = 16;
constexpr std::uint32_t kHeaderAfterSize = 36;  // "WAVE", the format chunk, the data chunk's head

std::string Header(std::uint32_t rate, std::uint16_t channels, std::uint64_t dataBytes) {
  // Past this the RIFF size field wraps and a player reads a short file.
  if (dataBytes > std::numeric_limits<std::uint32_t>::max() - kHeaderAfterSize) {
    throw std::length_error("a WAV file holds less than 4 GiB of samples");
  }
  const std::uint16_t blockAlign = static_cast<std::uint16_t>(channels * kBitsPerSample / 8);
  std::string wav = "RIFF";
  AppendLittle(wav, static_cast<std::uint32_t>(kHeaderAfterSize + dataBytes));
  wav += "WAVEfmt ";
  AppendLittle(wav, std::uint32_t{16});  // format chunk size
  AppendLittle(wav, kPcm);
  AppendLittle(wav, channels);
  AppendLittle(wav, rate);
  AppendLittle(wav, rate * blockAlign);  // bytes a second
  AppendLittle(wav, blockAlign);
  AppendLittle(wav, kBitsPerSample);
  wav += "data";
  AppendLittle(wav, static_cast<std::uint32_t>(dataBytes));
  return wav;
}

}  // namespace

std::string PcmWav(std::uint32_t rate, std::uint16_t channels,
                   std::span<const std::int16_t> samples) {
  std::string wav = Header(rate, channels, std::uint64_t{samples.size()} * 2);
  wav.reserve(wav.size() + samples.size() * 2);
  for (std::int16_t s : samples) AppendLittle(wav, static_cast<std::uint16_t>(s));
  return wav;
}

std::string SilentWav(std::uint32_t rate, std::uint16_t channels, std::uint32_t frames) {
  const std::uint64_t dataBytes = std::uint64_t{frames} * channels * 2;
  std::string wav = Header(rate, channels, dataBytes);
  wav.append(static_cast<std::size_t>(dataBytes), '\0');
  return wav;
}

}  // namespace binary
