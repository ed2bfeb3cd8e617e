// Envelope values straight from a sound file, without decoding: the file is
// read in large blocks with pread (not mapped: a sound cut short by another
// program meanwhile must give an error, not a bus error) and the five level
// bytes at the end of each frame are picked at the frame stride.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sono::editor {

struct PickResult {
  bool ok = false;
  std::string error;            // why the file could not be read
  std::vector<uint8_t> values;  // one per frame, index 0 = frame 1
};

// Values of frames 1..`frames` of `frameBytes` bytes. Level bytes that lie
// past the end of the file (a last frame cut short) count as 0. A file that
// gets shorter while it is read gives `ok` false ("sound file cut short while
// it was read").
PickResult PickEnergyValues(const std::string& path, int frameBytes, long long frames);

}  // namespace sono::editor
