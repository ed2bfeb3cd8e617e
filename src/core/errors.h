// The common error report. Procedures never let an error escape: they trap it
// and hand it here with their caller text ("Module:Procedure") and line. The
// report is logged framed with "="; the automation error 0x80010108 (object
// disconnected) is also shown in a critical box. The last report is kept.
#pragma once
#include <cstdint>
#include <string>

#include "core/ports.h"
#include "core/tracelog.h"

namespace sono {

struct ErrorInfo {
  int32_t number = 0;         // as the component gave it (HRESULTs are negative)
  std::string description;
  std::string source;         // the component that raised it, when known
  int line = 0;
};

struct LastError {
  int32_t number = 0;
  LocalDateTime time;
  std::string caller;
  std::string text;
  bool any = false;
};

inline constexpr int32_t kAutomationError = static_cast<int32_t>(0x80010108u);

// 0x80040000 + n (0 < n < 65535) -> n; anything else unchanged.
int32_t ReduceErrorNumber(int32_t number);
// "Err: n (description)" with the "Source:" part and the object source line.
std::string BuildErrorText(const ErrorInfo& error, const std::string& caller);

class ErrorReport {
 public:
  ErrorReport(TraceLogger& log, Prompt& prompt, Clock& clock)
      : log_(log), prompt_(prompt), clock_(clock) {}
  void report(const std::string& caller, const ErrorInfo& error);
  const LastError& last() const { return last_; }

 private:
  TraceLogger& log_;
  Prompt& prompt_;
  Clock& clock_;
  bool running_ = false;
  LastError last_;
};

}  // namespace sono
