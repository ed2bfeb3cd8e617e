#include "editor/steps.h"

#include <fmt/format.h>

#include "core/text.h"
#include "data/pervasive.h"
#include "data/ptx.h"

namespace sono::editor {

bool StepsSuppression(data::Library& lib, const std::string& code, const std::string& caller) {
  data::BaseTransaction txn(lib.db(), lib.base(), data::kPointers, caller);
  int failedStation = txn.begun() ? 0 : 1;
  for (int station = 1; failedStation == 0 && station <= lib.stationCount(); ++station)
    if (data::PtxDetruirePointeur(lib, station, code, kStepRecordType) != 0) failedStation = station;
  if (failedStation == 0 && txn.commit() == 0) {
    lib.log().TraceLog("StepsSuppression: Ok |Code: " + Trim(code) + " |Sub: " + caller);
    return true;
  }
  txn.abort();
  lib.log().TraceLog(fmt::format("Err: StepsSuppression: steps not deleted |Code: {} |Station: {} |Sub: {}", Trim(code),
                                 failedStation ? std::to_string(failedStation) : std::string("all"), caller));
  return false;
}

}  // namespace sono::editor
