// The creation block and Windows-1252 case folding.
#include <algorithm>
#include <cstring>

#include "btr.h"

namespace sono::btr {

namespace {

std::uint16_t rd16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

void wr16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v & 0xFF);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

constexpr std::size_t kHeader = 16;
constexpr std::size_t kSegment = 16;
constexpr std::size_t kMaxKeys = 119;

}  // namespace

std::size_t KeyDef::length() const {
  std::size_t n = 0;
  for (const auto& s : segments) n += s.length;
  return n;
}

std::vector<std::uint8_t> encodeFileDef(const FileDef& def) {
  std::size_t segments = 0;
  for (const auto& k : def.keys) segments += k.segments.size();
  std::vector<std::uint8_t> out(std::max(kCreationBlockSize, kHeader + kSegment * segments), 0);
  wr16(&out[0], def.recordLength);
  wr16(&out[2], def.pageSize);
  wr16(&out[4], static_cast<std::uint16_t>(def.keys.size()));
  std::size_t at = kHeader;
  for (const auto& k : def.keys) {
    for (std::size_t i = 0; i < k.segments.size(); ++i) {
      const KeySegment& s = k.segments[i];
      std::uint16_t flags = static_cast<std::uint16_t>(s.flags & ~kKeySegmented);
      if (i + 1 < k.segments.size()) flags |= kKeySegmented;
      wr16(&out[at], s.position);
      wr16(&out[at + 2], s.length);
      wr16(&out[at + 4], flags);
      at += kSegment;
    }
  }
  return out;
}

int decodeFileDef(const void* data, std::size_t length, FileDef& out) {
  if (data == nullptr || length < kHeader) return status::kDataBufferTooShort;
  const auto* p = static_cast<const std::uint8_t*>(data);
  FileDef def;
  def.recordLength = rd16(p);
  def.pageSize = rd16(p + 2);
  const std::size_t keys = rd16(p + 4);
  if (def.recordLength < 4) return status::kBadRecordLength;
  if (def.pageSize < 512 || def.pageSize > 16384 || def.pageSize % 512 != 0) return status::kBadPageSize;
  if (keys > kMaxKeys) return status::kBadNumberOfKeys;
  std::size_t at = kHeader;
  for (std::size_t k = 0; k < keys; ++k) {
    KeyDef key;
    for (;;) {
      if (at + kSegment > length) return status::kBadNumberOfKeys;
      KeySegment s;
      s.position = rd16(p + at);
      s.length = rd16(p + at + 2);
      s.flags = rd16(p + at + 4);
      at += kSegment;
      if (s.length == 0 || s.length > kMaxKeyLength) return status::kBadKeyLength;
      if (s.position == 0 || std::size_t(s.position) + s.length - 1 > def.recordLength)
        return status::kBadKeyPosition;
      key.segments.push_back(s);
      if (!(s.flags & kKeySegmented)) break;
    }
    if (key.length() > kMaxKeyLength) return status::kBadKeyLength;
    def.keys.push_back(std::move(key));
  }
  out = std::move(def);
  return status::kOk;
}

unsigned char foldCase1252(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 0x20);  // à..þ
  switch (c) {
    case 0x9A: return 0x8A;  // š
    case 0x9C: return 0x8C;  // œ
    case 0x9E: return 0x8E;  // ž
    case 0xFF: return 0x9F;  // ÿ
    default: return c;
  }
}

}  // namespace sono::btr
