#include "audio/codec/mpeg_frames.h"

#include <algorithm>
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

namespace {

// How far from the start of the data the first frame is looked for when the
// file does not begin with one, and how far a resynchronisation looks while
// the stream is not yet established (two frames in a row).
constexpr int64_t kSyncWindow = 64 * 1024;
// Containers whose content is never taken for an MPEG stream.
constexpr const char* kContainerMagics[] = {"RIFF", "RIFX", "RF64", "FORM", "fLaC", "OggS", "caff"};
constexpr size_t kDescribedStretches = 5;

bool SameStream(const MpegHeader& a, const MpegHeader& b) {
  return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate;
}

// A Xing/Info frame (MP3 encoders write one first, with no audio in it) and
// the delay and padding of its LAME extension.
bool ReadInfoFrame(const uint8_t* frame, const MpegHeader& h, int& delay, int& padding) {
  if (h.layer != 3) return false;
  const int side = h.version == 1 ? (h.channels == 1 ? 17 : 32) : (h.channels == 1 ? 9 : 17);
  const int tag = 4 + side;
  if (tag + 8 > h.frameBytes) return false;
  const uint8_t* t = frame + tag;
  if (std::memcmp(t, "Xing", 4) != 0 && std::memcmp(t, "Info", 4) != 0) return false;
  const uint32_t flags = (uint32_t(t[4]) << 24) | (uint32_t(t[5]) << 16) | (uint32_t(t[6]) << 8) | t[7];
  int lame = tag + 8 + ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) +
             ((flags & 8) ? 4 : 0);
  delay = padding = 0;
  // The extension starts with the encoder's name ("LAME3.100", "Lavc60.3").
  if (lame + 24 <= h.frameBytes && frame[lame] >= 'A' && frame[lame] <= 'Z') {
    const uint8_t* d = frame + lame + 21;
    delay = (d[0] << 4) | (d[1] >> 4);
    padding = ((d[1] & 0x0F) << 8) | d[2];
  }
  return true;
}

}  // namespace

int64_t FrameScan::damagedMs() const {
  return first.sampleRate > 0 ? damagedFrames * first.samplesPerFrame * 1000 / first.sampleRate : 0;
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
    if (pos < 0 || pos + static_cast<int64_t>(need) > scan.fileBytes) return false;
    std::fseek(file.get(), static_cast<long>(pos), SEEK_SET);
    bufStart = pos;
    bufLen = std::fread(buf.data(), 1, kBlock, file.get());
    return pos + static_cast<int64_t>(need) <= bufStart + static_cast<int64_t>(bufLen);
  };
  auto at = [&](int64_t pos) { return buf.data() + (pos - bufStart); };
  auto headerAt = [&](int64_t pos) -> std::optional<MpegHeader> {
    if (!ensure(pos, 4)) return std::nullopt;
    return ParseMpegHeader(at(pos));
  };
  // A tag that ends the stream: ID3v1 in the last 128 bytes, or APEv2.
  auto tagAt = [&](int64_t pos) {
    if (pos == scan.fileBytes - 128 && ensure(pos, 3) && std::memcmp(at(pos), "TAG", 3) == 0)
      return true;
    return ensure(pos, 8) && std::memcmp(at(pos), "APETAGEX", 8) == 0;
  };

  int64_t pos = 0;
  // An ID3v2 tag may precede the first frame.
  if (ensure(0, 10) && std::memcmp(at(0), "ID3", 3) == 0) {
    const uint8_t* t = at(0);
    const int64_t size = (int64_t(t[6] & 0x7F) << 21) | (int64_t(t[7] & 0x7F) << 14) |
                         (int64_t(t[8] & 0x7F) << 7) | int64_t(t[9] & 0x7F);
    pos = 10 + size + ((t[5] & 0x10) ? 10 : 0);
  }
  scan.dataOffset = pos;
  bool container = false;
  if (ensure(0, 4))
    for (const char* magic : kContainerMagics) container = container || std::memcmp(at(0), magic, 4) == 0;

  // A frame at `p` of the stream so far, confirmed by the next header where
  // its length says, by the end of the file, or by a closing tag.
  std::optional<MpegHeader> first;
  auto confirmed = [&](int64_t p) -> bool {
    const auto h = headerAt(p);
    if (!h || (first && !SameStream(*first, *h))) return false;
    const int64_t next = p + h->frameBytes;
    if (next == scan.fileBytes || (next < scan.fileBytes && tagAt(next))) return true;
    const auto n = headerAt(next);
    return n && SameStream(*h, *n);
  };

  int64_t accepted = 0;      // frames taken, the info frame included
  bool established = false;  // two frames in a row
  bool lastWasFrame = false;
  while (pos < scan.fileBytes) {
    const auto h = headerAt(pos);
    if (h && (!first || SameStream(*first, *h))) {
      if (pos + h->frameBytes > scan.fileBytes) {
        scan.truncated = true;
        break;
      }
      if (!first) {
        first = *h;
        scan.first = *h;
        if (ensure(pos, static_cast<size_t>(h->frameBytes)) &&
            ReadInfoFrame(at(pos), *h, scan.encoderDelay, scan.encoderPadding))
          scan.infoFrame = true;
      }
      if (h->channels != first->channels) scan.uniform = false;
      if (accepted > 0 || !scan.infoFrame) {
        ++scan.frames;
        scan.samples += h->samplesPerFrame;
      }
      ++accepted;
      established = established || lastWasFrame;
      lastWasFrame = true;
      pos += h->frameBytes;
      continue;
    }
    if (container || tagAt(pos)) break;
    // Damage: the next frame that is confirmed by the one after it.
    const int64_t limit = established ? scan.fileBytes : std::min(scan.fileBytes, pos + kSyncWindow);
    int64_t found = -1;
    for (int64_t p = pos + 1; p + 4 <= limit && found < 0; ++p) {
      if (!ensure(p, 2)) break;
      const uint8_t* b = at(p);
      if (b[0] == 0xFF && (b[1] & 0xE0) == 0xE0 && confirmed(p)) found = p;
    }
    if (found < 0) break;
    // Zeros between an ID3v2 tag and the first frame are the tag's padding.
    bool padding = accepted == 0 && scan.dataOffset > 0 && pos == scan.dataOffset;
    for (int64_t p = pos; padding && p < found; ++p) padding = ensure(p, 1) && *at(p) == 0;
    if (!padding) scan.damage.push_back({pos, found - pos});
    pos = found;
    lastWasFrame = false;
  }
  scan.dataEnd = pos;
  scan.trailingBytes = scan.fileBytes - pos;
  if (accepted == 0) {
    scan.damage.clear();
    scan.status = scan.truncated || scan.fileBytes - scan.dataOffset < 4 ? ScanStatus::TooSmall
                                                                         : ScanStatus::Invalid;
    return scan;
  }
  // One lone frame among bytes that are no frames is chance, not a stream.
  if (!established && (scan.trailingBytes > 0 || !scan.damage.empty()) && !scan.truncated) {
    scan.damage.clear();
    scan.status = ScanStatus::Invalid;
    return scan;
  }
  // Junk after the last frame is damage too; a cut frame or a tag is not.
  if (scan.trailingBytes > 0 && !scan.truncated) {
    if (tagAt(pos)) scan.trailingBytes = 0;
    else scan.damage.push_back({pos, scan.trailingBytes});
  }
  const int64_t frameBytes = std::max(1, first->frameBytes);
  for (const DamagedStretch& d : scan.damage) {
    scan.damagedBytes += d.bytes;
    scan.damagedFrames += std::max<int64_t>(1, (d.bytes + frameBytes - 1) / frameBytes);
  }
  if (scan.infoFrame)
    scan.samples = std::max<int64_t>(0, scan.samples - scan.encoderDelay - scan.encoderPadding);
  scan.durationMs = scan.samples * 1000 / first->sampleRate;
  scan.status = ScanStatus::Ok;
  return scan;
}

std::string DescribeDamage(const FrameScan& scan) {
  if (scan.damage.empty()) return {};
  std::string text = "Damaged frames: " + std::to_string(scan.damagedFrames) +
                     " |Bytes skipped: " + std::to_string(scan.damagedBytes) + " |At bytes:";
  for (size_t i = 0; i < scan.damage.size() && i < kDescribedStretches; ++i)
    text += (i ? ", " : " ") + std::to_string(scan.damage[i].offset) + " (" +
            std::to_string(scan.damage[i].bytes) + ")";
  if (scan.damage.size() > kDescribedStretches)
    text += " and " + std::to_string(scan.damage.size() - kDescribedStretches) + " more";
  return text;
}

}  // namespace sono::audio
