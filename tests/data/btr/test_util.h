// Shared helpers of the record-manager tests: the station song file
// (FRAD022 keys) and records built field by field.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "btr.h"
#include "test_support.h"

namespace sono::btr::testing {

using sono::test::TempDir;

inline KeyDef key(std::initializer_list<KeySegment> segs) { return KeyDef{segs}; }
// A small file: a 4-byte unique code and a 6-byte case-insensitive title
// with duplicates, both modifiable.
inline FileDef SmallDef() {
  FileDef d;
  d.recordLength = 20;
  d.pageSize = 512;
  d.keys = {key({{1, 4, kKeyModifiable}}), key({{5, 6, kKeyModifiable | kKeyDuplicates | kKeyCaseInsensitive}})};
  return d;
}

// The song file of a station: 900-byte records, six keys.
inline FileDef songFileDef() {
  FileDef d;
  d.recordLength = 900;
  d.pageSize = 2048;
  d.keys = {key({{1, 8, 2}}),   key({{9, 5, 3}}),  key({{19, 5, 3}}),
            key({{64, 5, 3}}),  key({{69, 5, 3}}), key({{24, 20, 1027}})};
  return d;
}

// Voices, groups, categories...: a segmented case-insensitive key.
inline FileDef typeFileDef() {
  FileDef d;
  d.recordLength = 980;
  d.pageSize = 1024;
  d.keys = {key({{1, 10, 2}}), key({{1, 5, 1043}, {11, 10, 1027}})};
  return d;
}

// A record of `length` blanks with fields set by position (from 1).
class Record {
 public:
  explicit Record(std::size_t length = 900) : bytes_(length, ' ') {}
  Record& set(std::size_t position, std::string_view value) {
    std::memcpy(&bytes_[position - 1], value.data(), value.size());
    return *this;
  }
  std::string field(std::size_t position, std::size_t length) const { return bytes_.substr(position - 1, length); }
  const std::string& bytes() const { return bytes_; }
  std::string& bytes() { return bytes_; }

 private:
  std::string bytes_;
};

// Song: code (1, 8), first artist (9, 5), code (19, 5), title (24, 40),
// code (64, 5), category (69, 5).
inline Record song(std::string_view code, std::string_view artist, std::string_view title,
                   std::string_view category = "POP  ") {
  Record r;
  r.set(1, code).set(9, artist).set(19, "K2   ").set(24, title).set(64, "K3   ").set(69, category);
  return r;
}

inline std::string pad(std::string_view s, std::size_t n) {
  std::string out(s);
  out.resize(n, ' ');
  return out;
}

// Raw call helpers.
inline int call(int op, char* pb, std::string& data, std::string& keyBuf, int keyNumber) {
  std::uint32_t len = static_cast<std::uint32_t>(data.size());
  int s = BTRCALL(op, pb, data.data(), len, keyBuf.data(), static_cast<int>(keyBuf.size()), keyNumber);
  data.resize(len);
  return s;
}

}  // namespace sono::btr::testing
