// The notification targets from the settings file, as any file holds them:
// a row is used only with a host, a port is sent to only when in range; what
// the window would accept and save reads back the same after the file is
// written again.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_target.h"
#include "notify/udp_targets.h"

using namespace sono::notify;
namespace fs = std::filesystem;

namespace {

const std::string& SettingsFile() {
  static const std::string path = [] {
    const fs::path folder = fs::temp_directory_path() / ("sonoteka-fuzz-udp-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    return (folder / "Sonoteka.ini").string();
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::ofstream(SettingsFile(), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  UdpTargets loaded;
  loaded.InitSettingsUDP(SettingsFile());
  bool anyHost = false;
  for (const UdpTarget& row : loaded.rows) {
    anyHost = anyHost || !row.host().empty();
    for (int p = 0; p < kPortsPerRow; ++p)
      if (const auto port = row.port(p)) FUZZ_CHECK(*port >= 1 && *port <= kMaxPort);
    // A row with a host and a Port A other than 0 is used, even when that
    // port is out of range (the sender then skips it and sends B to D).
    if (row.used()) FUZZ_CHECK(!row.host().empty());
    if (row.port(0)) FUZZ_CHECK(row.used() == !row.host().empty());
  }
  FUZZ_CHECK(loaded.UdpActive() == anyHost);

  // Every value the window accepts, set into fresh targets, saved and read back.
  UdpTargets typed;
  for (int row = 0; row < kTargetRows; ++row)
    for (int f = 0; f < kTargetFields; ++f) {
      const auto field = static_cast<TargetField>(f);
      const std::string& value = loaded.value(field, row);
      if (CheckTargetValue(field, value).empty()) FUZZ_CHECK(typed.SetValue(field, row, value).empty());
    }
  if (!typed.SaveSettingsUDP(SettingsFile())) return 0;
  UdpTargets again;
  again.InitSettingsUDP(SettingsFile());
  for (int row = 0; row < kTargetRows; ++row)
    for (int f = 0; f < kTargetFields; ++f)
      FUZZ_CHECK(again.value(static_cast<TargetField>(f), row) == typed.value(static_cast<TargetField>(f), row));
  return 0;
}
