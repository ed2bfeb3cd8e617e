// Copying every file of a base into another base of the site, whatever the
// engine of each ("sonoteka-cli db copy --from 01 --to 02"): a base on LMDB
// brought to PostgreSQL for a station network, or back.
//
// Decisions:
//   - Every file of the catalogue the source base holds is copied (every
//     station's for the per-station files). A destination file missing is
//     created from the catalogue's definition; a source file whose own
//     definition differs from the catalogue's (an older file) keeps its own,
//     and the report says so.
//   - Nothing is written before every file was looked at: a destination file
//     that already holds records refuses the whole copy unless `replace` is
//     given (its records are then deleted inside the file's transaction).
//   - One transaction per destination file: its records are deleted (with
//     `replace`), every source record inserted in physical order, and the
//     copy verified before the commit: the record count, and along every
//     key the same key values in the same order with the same records under
//     each. A file that fails goes back as it was (a file created for the
//     copy is removed again); the files copied before it stay copied and
//     are named; the copy stops there.
//   - Positions are not kept (each engine gives its own); records under one
//     value of a key with duplicates come in the source's physical order,
//     which is the source's own order unless a record's key was changed after
//     a later record took that value: the verification takes the records
//     under one value as a set.
//   - Two bases holding the same files (the same data folder, or the same
//     PostgreSQL database) are refused: a copy onto itself would empty them.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/tracelog.h"
#include "data/db_tools.h"
#include "data/pervasive.h"

namespace sono::data {

struct CopyProgress {
  int fileIndex = 0;  // from 1
  int fileCount = 0;
  const BaseFile* file = nullptr;  // the source file
  std::uint64_t done = 0;          // records copied so far in this file
  std::uint64_t total = 0;         // records of the source file
};

struct CopyOptions {
  bool replace = false;  // destination files holding records are emptied first
  // Called at each file's start and end and every `progressEvery` records.
  std::function<void(const CopyProgress&)> progress;
  std::uint64_t progressEvery = 1000;
};

struct CopyResult {
  bool ok = false;
  std::vector<std::string> lines;   // the report, French: one line per file, then the outcome
  std::vector<std::string> copied;  // destination names of the files copied ("FRADA22.bt6")
  // Destination files refused because they hold records: "FRAD020.bt6 (12 enregistrement(s))".
  std::vector<std::string> holdingRecords;
};

// Copies base `from` into base `to` (indexes of the site's bases).
CopyResult CopyBase(const PervasiveLayer& layer, const SiteConfig& config, int from, int to,
                    const CopyOptions& options, TraceLogger& log);

}  // namespace sono::data
