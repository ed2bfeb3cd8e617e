#include "core/house_format.h"

#include <sys/stat.h>

namespace sono {

std::optional<long long> HouseFormatDurationMs(const std::string& path) {
  struct stat st{};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  if (st.st_size == 0 || st.st_size % kHouseFrameBytes != 0) return std::nullopt;
  return static_cast<long long>(st.st_size / kHouseFrameBytes) * kHouseFrameMs;
}

}  // namespace sono
