// The engine's table layout, shared by the engine, the checker and the
// repair: format tags, key entries, the record header and its check value.
#pragma once
#include <lmdb.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "btr.h"

namespace sono::btr::layout {

// Format 1 records carry no check value; format 2 records end their header
// with one. A file keeps its format; new and repaired files are format 2.
constexpr char kFormatTag1[] = "sonoteka-btr 1";
constexpr char kFormatTag2[] = "sonoteka-btr 2";
constexpr std::size_t kSeqBytes = 8;
constexpr std::size_t kMaxEntry = kMaxKeyLength + kSeqBytes;
constexpr std::size_t kMaxKeys = 119;
constexpr unsigned kMaxTables = kMaxKeys + 2;
constexpr std::size_t kCheckBytes = 8;  // CRC-32C (low 4 bytes), then 4 zero bytes

inline void putBE64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 7; i >= 0; --i) {
    p[i] = static_cast<std::uint8_t>(v & 0xFF);
    v >>= 8;
  }
}

inline std::uint64_t getBE64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

inline std::uint64_t getU64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

inline void putU64(std::uint8_t* p, std::uint64_t v) { std::memcpy(p, &v, 8); }

struct KeyInfo {
  std::vector<KeySegment> segs;
  std::size_t len = 0;
  bool dup = false;
  bool mod = false;
  MDB_dbi dbi = 0;
};

std::vector<KeyInfo> KeysOf(const FileDef& def);
std::string KeyTableName(std::size_t key);

// The key bytes of a record, segments one after the other.
void RawKey(const KeyInfo& k, const std::uint8_t* rec, std::uint8_t* out);
// Folds a key value laid out as its segments one after the other.
void FoldKey(const KeyInfo& k, const std::uint8_t* in, std::uint8_t* out);
// Entry of key k for a record: folded key, then the sequence for duplicates.
std::size_t MakeEntry(const KeyInfo& k, const std::uint8_t* rec, std::uint64_t seq, std::uint8_t* out);

// The record header: version stamp, one sequence per key, then (format 2)
// the check value: the CRC-32C of the position and the header, combined with
// three CRC-32C of the thirds of the record (computed side by side).
inline std::size_t HeaderLength(std::size_t keys, bool checked) {
  return 8 + 8 * keys + (checked ? kCheckBytes : 0);
}
std::uint32_t CheckValue(std::uint64_t pos, const std::uint8_t* value, std::size_t headerLength,
                         std::size_t recordLength);
inline void SealRecord(std::uint64_t pos, std::uint8_t* value, std::size_t headerLength, std::size_t recordLength) {
  const std::uint32_t c = CheckValue(pos, value, headerLength, recordLength);
  std::memcpy(value + headerLength - kCheckBytes, &c, 4);
  std::memset(value + headerLength - kCheckBytes + 4, 0, 4);
}
inline bool RecordSealed(std::uint64_t pos, const std::uint8_t* value, std::size_t headerLength,
                         std::size_t recordLength) {
  std::uint32_t stored, zero;
  std::memcpy(&stored, value + headerLength - kCheckBytes, 4);
  std::memcpy(&zero, value + headerLength - kCheckBytes + 4, 4);
  return zero == 0 && stored == CheckValue(pos, value, headerLength, recordLength);
}

// CRC-32C (Castagnoli), with the processor's instruction when it has one.
std::uint32_t Crc32c(std::uint32_t crc, const void* data, std::size_t length);

}  // namespace sono::btr::layout
