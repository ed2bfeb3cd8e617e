// A realistic demonstration library for the demo site: artists, "CATEG" and
// "CAT_2" categories (some inactive on a station), songs of every kind with
// French and English titles, durations, some forced durations, companion
// records, and pointers for part of the songs. The same seed gives the same
// library.
#pragma once
#include <cstdint>
#include <string>

#include "data/library.h"

namespace sono::data {

struct DemoLibraryOptions {
  int songs = 2000;
  uint32_t seed = 20261206;
  bool withPointers = true;
};

struct DemoLibraryResult {
  int songs = 0, artists = 0, categories = 0, pointerSets = 0;
  bool ok = true;
};

// Fills every station of the current base in transactions of a few hundred
// songs over every station and file; existing records are left alone, and
// missing companions and pointers of songs already there are added, so a
// build that was stopped is completed by running it again. `ok` is false
// (and the build stops, logged "Err: Demo library: …") when a batch could
// not be written.
DemoLibraryResult BuildDemoLibrary(Library& lib, const DemoLibraryOptions& options);

}  // namespace sono::data
