// The steps of a sound: stretches marked for removal, stored with the
// pointers as type "3" records of FRAD031 (one record per step). Only their
// deletion is here so far: a song whose sound is replaced loses the steps
// of the old sound, which point into music that is gone.
#pragma once
#include <string>

#include "data/library.h"

namespace sono::editor {

inline constexpr int kStepRecordType = 3;

// StepsSuppression: removes the step records of `code` on every station in
// one transaction. False when they could not all be removed (logged): every
// station then keeps its steps.
bool StepsSuppression(data::Library& lib, const std::string& code, const std::string& caller);

}  // namespace sono::editor
