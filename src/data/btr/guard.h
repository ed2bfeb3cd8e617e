// Turning a fault inside the storage library into a status.
//
// LMDB trusts the pages of its file: a damaged page makes it fail an
// assertion (and abort), read through a wild pointer (SIGSEGV) or touch a
// page past the end of the file (SIGBUS). Every LMDB call of the engine runs
// through `guarded`, which catches those three on the calling thread and
// returns kFault instead; the engine then drops the transaction the call ran
// in and answers status 2. A fault outside a guarded call goes on to the
// handler that was installed before (the default one: the process ends).
//
// Only C code may run inside `guarded` (no C++ object is unwound by the jump).
#pragma once
#include <setjmp.h>

namespace sono::btr::guard {

// Returned by `guarded` when the call faulted; no LMDB code has this value.
constexpr int kFault = -30000;

// Installs the signal handlers (once per process).
void install();

// What the last fault on this thread was ("SIGSEGV", "SIGBUS" or LMDB's
// assertion text), for the log.
const char* lastFault();

extern thread_local sigjmp_buf* t_jump;

// For LMDB's assertion callback (mdb_env_set_assert): jumps back when guarded.
void onAssert(const char* text);

template <class F>
inline int guarded(F&& f) {
  sigjmp_buf jump;
  sigjmp_buf* const outer = t_jump;
  // The mask is not saved: the handlers run with SA_NODEFER, so nothing is
  // left blocked after the jump, and sigsetjmp stays a few instructions.
  if (sigsetjmp(jump, 0) != 0) {
    t_jump = outer;
    return kFault;
  }
  t_jump = &jump;
  const int rc = f();
  t_jump = outer;
  return rc;
}

}  // namespace sono::btr::guard
