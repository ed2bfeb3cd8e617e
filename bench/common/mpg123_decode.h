// The reference decode of the benchmarks: a whole house-format file through
// libmpg123 alone, in its default output format, as a decoding waveform or
// loudness tool would pay for it.
#pragma once
#include <mpg123.h>

#include <cstddef>
#include <string>
#include <vector>

namespace sono::bench {

// Bytes of decoded output (0 when the file does not open).
inline size_t DecodeWhole(const std::string& path) {
#if MPG123_API_VERSION < 46
  static const int initialised = mpg123_init();
  (void)initialised;
#endif
  mpg123_handle* h = mpg123_new(nullptr, nullptr);
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  if (mpg123_open(h, path.c_str()) != MPG123_OK) {
    mpg123_delete(h);
    return 0;
  }
  std::vector<unsigned char> out(1 << 16);
  size_t done = 0, total = 0;
  while (true) {
    const int rc = mpg123_read(h, out.data(), out.size(), &done);
    total += done;
    if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) break;  // MPG123_DONE at the end
  }
  mpg123_close(h);
  mpg123_delete(h);
  return total;
}

}  // namespace sono::bench
