// House-format sounds whose frames carry where they came from (a mark for
// the file and the frame's number there), so that an edit's result can be
// read back frame by frame.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/house_format.h"

namespace sono::test {

struct Origin {
  uint32_t file = 0, frame = 0;
  bool operator==(const Origin&) const = default;
};
constexpr size_t kStampAt = 8;  // inside the audio data, after the header

// Stamps every frame of `file` with `mark` and its number (from 1).
inline void StampFrames(const std::string& file, uint32_t mark) {
  std::string bytes = ReadWholeFile(file).value();
  ASSERT_EQ(bytes.size() % kHouseFrameBytes, 0u);
  for (uint32_t k = 0; k < bytes.size() / kHouseFrameBytes; ++k) {
    const uint32_t number = k + 1;
    std::memcpy(&bytes[k * kHouseFrameBytes + kStampAt], &mark, 4);
    std::memcpy(&bytes[k * kHouseFrameBytes + kStampAt + 4], &number, 4);
  }
  ASSERT_TRUE(WriteFileAtomic(file, bytes));
}

inline std::vector<Origin> Origins(const std::string& file) {
  const std::string bytes = ReadWholeFile(file).value_or("");
  EXPECT_EQ(bytes.size() % kHouseFrameBytes, 0u) << file;
  std::vector<Origin> out;
  for (size_t at = 0; at + kHouseFrameBytes <= bytes.size(); at += kHouseFrameBytes) {
    Origin o;
    std::memcpy(&o.file, &bytes[at + kStampAt], 4);
    std::memcpy(&o.frame, &bytes[at + kStampAt + 4], 4);
    out.push_back(o);
  }
  return out;
}

// Frames `first` to `last` of the file marked `file`.
inline std::vector<Origin> Frames(uint32_t file, uint32_t first, uint32_t last) {
  std::vector<Origin> out;
  for (uint32_t f = first; f <= last; ++f) out.push_back({file, f});
  return out;
}
inline std::vector<Origin> operator+(std::vector<Origin> a, const std::vector<Origin>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace sono::test
