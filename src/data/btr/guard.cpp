#include "guard.h"

#include <signal.h>

#include <cstring>
#include <mutex>

namespace sono::btr::guard {

thread_local sigjmp_buf* t_jump = nullptr;

namespace {

thread_local char t_fault[160] = "";
struct sigaction g_previousSegv, g_previousBus;

void remember(const char* text) {
  std::strncpy(t_fault, text, sizeof t_fault - 1);
  t_fault[sizeof t_fault - 1] = '\0';
}

void onSignal(int sig, siginfo_t* info, void* context) {
  if (sigjmp_buf* jump = t_jump) {
    remember(sig == SIGBUS ? "SIGBUS" : "SIGSEGV");
    t_jump = nullptr;
    siglongjmp(*jump, 1);
  }
  // Not a fault of a guarded call: the handler that was there before.
  const struct sigaction& previous = sig == SIGBUS ? g_previousBus : g_previousSegv;
  if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) {
    previous.sa_sigaction(sig, info, context);
    return;
  }
  if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN && previous.sa_handler) {
    previous.sa_handler(sig);
    return;
  }
  // Default action: returning runs the faulting instruction again, which
  // now ends the process as it would have without us.
  signal(sig, SIG_DFL);
}

}  // namespace

void install() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = onSignal;
    action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(SIGSEGV, &action, &g_previousSegv);
    sigaction(SIGBUS, &action, &g_previousBus);
  });
}

const char* lastFault() { return t_fault; }

void onAssert(const char* text) {
  if (sigjmp_buf* jump = t_jump) {
    remember(text ? text : "assertion");
    t_jump = nullptr;
    siglongjmp(*jump, 1);
  }
  // Unguarded: LMDB aborts after this returns, as it always did.
}

}  // namespace sono::btr::guard
