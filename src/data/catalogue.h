// The catalogue of the suite's database files FRAD000 to FRAD060: description,
// per-station flag, record length, page size, number of keys and, for the
// files this program uses, the key segments.
#pragma once
#include <array>
#include <string>
#include <vector>

#include "data/btr/btr.h"

namespace sono::data {

inline constexpr int kCatalogueSize = 61;

struct CatalogueSegment {
  int position = 1;  // from 1
  int length = 0;
  int flags = 0;     // 2 modifiable, 3 + duplicates, 19 + segmented, 1027/1043 + case-insensitive
  bool continues() const { return (flags & btr::kKeySegmented) != 0; }
};

struct CatalogueEntry {
  std::string description;  // empty for a number the suite does not use
  std::string name;         // "FRAD" and the three-digit number
  char perStation = 'N';    // "O": one physical file per station
  char secondOption = 'N';  // "O" only for FRAD047
  int recordLength = 0;
  int pageSize = 0;
  int keyCount = 0;
  std::vector<CatalogueSegment> segments;  // empty when the suite does not document them
  bool used() const { return !description.empty(); }
};

// InitGeneralData: the catalogue, filled once.
const std::array<CatalogueEntry, kCatalogueSize>& Catalogue();

// Length of key `keyNumber` of `file` (sum of its segments); 0 when unknown.
int KeyLength(int file, int keyNumber);

// The creation definition of a file. A file whose keys the suite does not
// document gets one modifiable key with duplicates on its first 8 bytes.
btr::FileDef FileDefinition(int file);

// The files this program opens, in opening order.
inline constexpr std::array<int, 10> kProgramFiles = {20, 21, 22, 24, 26, 29, 31, 37, 46, 48};

// Files created empty when they are missing.
bool CreatedWhenMissing(int file);

}  // namespace sono::data
