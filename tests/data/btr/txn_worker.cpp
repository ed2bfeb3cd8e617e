// Test helper: sets the version of every record of three files of one folder
// inside one transaction (begin on the first file, end on it too).
// Usage: btr_txn_worker FOLDER VERSION; exit 0 when the end succeeded.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "test_util.h"

using namespace sono::btr;

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string folder = argv[1];
  const int version = std::atoi(argv[2]);
  const char* names[] = {"FRADA31.bt6", "FRADB31.bt6", "FRADC31.bt6"};
  File files[3];
  for (int i = 0; i < 3; ++i)
    if (int s = files[i].open(folder + "/" + names[i])) {
      std::printf("open %d\n", s);
      return 1;
    }
  if (int s = files[0].beginTransaction()) {
    std::printf("begin %d\n", s);
    return 1;
  }
  char digits[16];
  std::snprintf(digits, sizeof digits, "%08d", version);
  for (File& f : files) {
    std::string key, rec;
    for (int s = f.get(kGetFirst, 0, key, rec); s != status::kEndOfFile; s = f.get(kGetNext, 0, key, rec)) {
      if (s != 0) {
        std::printf("read %d\n", s);
        files[0].abortTransaction();
        return 1;
      }
      rec.replace(100, 8, digits);
      if (int u = f.update(rec)) {
        std::printf("update %d\n", u);
        files[0].abortTransaction();
        return 1;
      }
    }
  }
  const int s = files[0].endTransaction();
  std::printf("end %d\n", s);
  return s == 0 ? 0 : 1;
}
