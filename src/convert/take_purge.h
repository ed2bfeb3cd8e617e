// The daily purge of old takes (Timer30s's daily work): the workstation's
// recorded takes whose names begin with a date more than 45 days back are
// deleted from its takes folder.
//
// Decisions:
//   - The folder is the recorder's takes folder ("FichiersSon" "Dossier" of
//     the recorder's settings file), where a take that could not be handed
//     to its song is kept: 45 days are left to take it back by hand.
//   - A take is a file named "YYYY-MM-DD-hh-mm-ss" (with "_N" when that name
//     was taken) and the extension ".wav" (the suite's recorder) or ".s48"
//     (this recorder's takes). Nothing else of the folder is touched, so a
//     takes folder shared with sounds ("00001234.s48") loses no sound.
//   - "More than 45 days": the name's date (its first ten characters,
//     compared as text) is before today less 45 days; a take of exactly 45
//     days stays until tomorrow.
#pragma once
#include <string>

#include "core/datetime.h"
#include "core/tracelog.h"

namespace sono::convert {

inline constexpr int kTakeKeepDays = 45;

// True for a take's file name ("2026-01-31-09-15-00.wav", "…_2.s48").
bool IsTakeFileName(const std::string& fileName);

// Deletes the takes of `folder` older than kTakeKeepDays before `now`;
// logs "PurgeOldTakes: Start |Folder: …", one "File_Delete: …" line per
// take deleted ("Err: PurgeOldTakes: Unable to delete: …" when one cannot
// be) and "PurgeOldTakes: End |Deleted: N". Returns how many were deleted;
// -1 when the folder cannot be read (logged; a missing folder is no error).
int PurgeOldTakes(TraceLogger& log, const std::string& folder, const LocalDateTime& now);

}  // namespace sono::convert
