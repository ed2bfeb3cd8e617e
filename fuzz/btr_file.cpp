// A record-manager file from a disk or a share, as any bytes: the check reads
// it without LMDB; an open either refuses it with a status or gives a file
// whose records all have the file's length, met once along each key and once
// in physical order when the check found it whole. The creation block read
// from the file's first bytes makes a round trip when it is accepted.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "btr.h"
#include "fuzz_target.h"

using namespace sono::btr;
namespace fs = std::filesystem;

namespace {

// More than any seed holds: a walk that goes on is a loop, not a big file.
constexpr int kMaxRecords = 20000;

const std::string& Folder() {
  static const std::string folder = [] {
    const fs::path p = fs::temp_directory_path() / ("sonoteka-fuzz-btr-" + std::to_string(::getpid()));
    fs::create_directories(p);
    return p.string();
  }();
  return folder;
}

// Positions of the records met along key `keyNumber`, until a read ends or fails.
std::multiset<std::uint32_t> AlongKey(File& file, int keyNumber) {
  std::multiset<std::uint32_t> seen;
  std::string key, record;
  for (int st = file.get(kGetFirst, keyNumber, key, record); st == 0; st = file.get(kGetNext, keyNumber, key, record)) {
    FUZZ_CHECK(record.size() == file.recordLength());
    std::uint32_t at = 0;
    FUZZ_CHECK(file.position(at) == 0);
    seen.insert(at);
    FUZZ_CHECK(seen.size() <= kMaxRecords);
  }
  return seen;
}

void CheckDefinitionBlock(std::string_view bytes) {
  FileDef def;
  if (decodeFileDef(bytes.data(), bytes.size(), def) != 0) return;
  const std::vector<std::uint8_t> block = encodeFileDef(def);
  FileDef again;
  FUZZ_CHECK(decodeFileDef(block.data(), block.size(), again) == 0);
  FUZZ_CHECK(again.recordLength == def.recordLength && again.pageSize == def.pageSize &&
             again.keys.size() == def.keys.size());
  for (size_t k = 0; k < def.keys.size(); ++k) {
    FUZZ_CHECK(again.keys[k].segments.size() == def.keys[k].segments.size());
    for (size_t s = 0; s < def.keys[k].segments.size(); ++s)
      FUZZ_CHECK(again.keys[k].segments[s].position == def.keys[k].segments[s].position &&
                 again.keys[k].segments[s].length == def.keys[k].segments[s].length);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes = sono::fuzz::Bytes(data, size);
  CheckDefinitionBlock(bytes);

  const std::string path = Folder() + "/FRADA22.bt6";
  fs::remove(path + "-lock");
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(size));
  const IntegrityReport report = checkIntegrity(path);
  // The check never changes what it reads.
  {
    std::ifstream in(path, std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    FUZZ_CHECK(after == bytes);
  }
  File file;
  if (file.open(path, kModeReadOnly) != 0) return 0;
  FileDef def;
  std::uint64_t records = 0;
  if (file.stat(def, records) == 0 && report.ok()) {
    FUZZ_CHECK(def.recordLength == file.recordLength());
    std::multiset<std::uint32_t> physical;
    std::string record;
    for (int st = file.step(kStepFirst, record); st == 0; st = file.step(kStepNext, record)) {
      std::uint32_t at = 0;
      FUZZ_CHECK(file.position(at) == 0);
      physical.insert(at);
      FUZZ_CHECK(physical.size() <= kMaxRecords);
    }
    FUZZ_CHECK(physical.size() == records);
    for (size_t k = 0; k < def.keys.size(); ++k)
      FUZZ_CHECK(AlongKey(file, static_cast<int>(k)) == physical);
  } else {
    // A damaged file is still walked: statuses, never a crash or a loop.
    for (int k = 0; k < 8; ++k) AlongKey(file, k);
  }
  file.close();
  return 0;
}
