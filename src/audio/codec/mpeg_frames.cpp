#include "audio/codec/mpeg_frames.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "audio/codec/house_format.h"

namespace sono::audio {

namespace {

// Bit rates in kbit/s by [row][index]; rows: V1 L1, V1 L2, V1 L3, V2 L1, V2 L2/L3.
constexpr int kBitrates[5][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
};
constexpr int kRates[3] = {44100, 48000, 32000};

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

}  // namespace

EnergyLevels ReadEnergyLevels(const uint8_t* frame, size_t frameBytes) {
  EnergyLevels e;
  if (frameBytes < 5) return e;
  const uint8_t* t = frame + frameBytes - 5;
  e.right = (t[0] << 8) | t[1];
  e.left = (t[3] << 8) | t[4];
  return e;
}

std::optional<MpegHeader> ParseMpegHeader(const uint8_t* p) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return std::nullopt;
  const int versionBits = (p[1] >> 3) & 3;
  const int layerBits = (p[1] >> 1) & 3;
  const int bitrateIndex = (p[2] >> 4) & 15;
  const int rateIndex = (p[2] >> 2) & 3;
  if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 ||
      rateIndex == 3)
    return std::nullopt;
  MpegHeader h;
  h.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
  h.layer = 4 - layerBits;
  const int row = h.version == 1 ? h.layer - 1 : (h.layer == 1 ? 3 : 4);
  h.bitrateKbps = kBitrates[row][bitrateIndex];
  h.sampleRate = kRates[rateIndex] / (h.version == 1 ? 1 : h.version == 2 ? 2 : 4);
  h.padding = (p[2] >> 1) & 1;
  h.channels = ((p[3] >> 6) & 3) == 3 ? 1 : 2;
  if (h.layer == 1) {
    h.samplesPerFrame = 384;
    h.frameBytes = (12 * h.bitrateKbps * 1000 / h.sampleRate + (h.padding ? 1 : 0)) * 4;
  } else {
    h.samplesPerFrame = (h.layer == 3 && h.version != 1) ? 576 : 1152;
    const int factor = h.samplesPerFrame / 8;
    h.frameBytes = factor * h.bitrateKbps * 1000 / h.sampleRate + (h.padding ? 1 : 0);
  }
  return h;
}

FrameScan ScanMpegFile(const std::string& path) {
  FrameScan scan;
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return scan;
  std::fseek(file.get(), 0, SEEK_END);
  scan.fileBytes = std::ftell(file.get());
  std::fseek(file.get(), 0, SEEK_SET);
  if (scan.fileBytes <= 0) {
    scan.status = ScanStatus::TooSmall;
    return scan;
  }

  // The file is read in large blocks; frames are located inside the block.
  constexpr size_t kBlock = 1 << 20;
  std::vector<uint8_t> buf(kBlock);
  int64_t bufStart = 0;
  size_t bufLen = std::fread(buf.data(), 1, kBlock, file.get());
  // Makes bytes [pos, pos+need) available in the buffer; false at end of file.
  auto ensure = [&](int64_t pos, size_t need) -> bool {
    if (pos >= bufStart && pos + static_cast<int64_t>(need) <= bufStart + static_cast<int64_t>(bufLen))
      return true;
    if (pos + static_cast<int64_t>(need) > scan.fileBytes) return false;
    std::fseek(file.get(), static_cast<long>(pos), SEEK_SET);
    bufStart = pos;
    bufLen = std::fread(buf.data(), 1, kBlock, file.get());
    return pos + static_cast<int64_t>(need) <= bufStart + static_cast<int64_t>(bufLen);
  };
  auto at = [&](int64_t pos) { return buf.data() + (pos - bufStart); };

  int64_t pos = 0;
  // An ID3v2 tag may precede the first frame.
  if (ensure(0, 10) && std::memcmp(at(0), "ID3", 3) == 0) {
    const uint8_t* t = at(0);
    const int64_t size = (int64_t(t[6] & 0x7F) << 21) | (int64_t(t[7] & 0x7F) << 14) |
                         (int64_t(t[8] & 0x7F) << 7) | int64_t(t[9] & 0x7F);
    pos = 10 + size + ((t[5] & 0x10) ? 10 : 0);
  }
  scan.dataOffset = pos;

  std::optional<MpegHeader> first;
  if (ensure(pos, 4)) first = ParseMpegHeader(at(pos));
  if (!first) {
    // Shorter than a header: nothing to judge but the size.
    scan.status = scan.fileBytes - pos < 4 ? ScanStatus::TooSmall : ScanStatus::Invalid;
    return scan;
  }
  scan.first = *first;
  while (true) {
    if (!ensure(pos, 4)) break;
    const auto h = ParseMpegHeader(at(pos));
    if (!h) break;
    if (h->layer != first->layer || h->sampleRate != first->sampleRate ||
        h->version != first->version) {
      scan.uniform = false;
      break;
    }
    if (h->channels != first->channels) scan.uniform = false;
    if (pos + h->frameBytes > scan.fileBytes) {
      scan.truncated = true;
      break;
    }
    ++scan.frames;
    scan.samples += h->samplesPerFrame;
    pos += h->frameBytes;
  }
  scan.trailingBytes = scan.fileBytes - pos;
  // An ID3v1 tag at the end is not junk.
  if (scan.trailingBytes == 128 && ensure(pos, 3) && std::memcmp(at(pos), "TAG", 3) == 0)
    scan.trailingBytes = 0;
  if (scan.frames == 0) {
    scan.status = scan.truncated ? ScanStatus::TooSmall : ScanStatus::Invalid;
    return scan;
  }
  // One frame followed by bytes that are no frame is chance, not a stream.
  if (scan.frames == 1 && scan.trailingBytes > 0 && !scan.truncated) {
    scan.status = ScanStatus::Invalid;
    return scan;
  }
  scan.durationMs = scan.samples * 1000 / first->sampleRate;
  scan.status = ScanStatus::Ok;
  return scan;
}

}  // namespace sono::audio
