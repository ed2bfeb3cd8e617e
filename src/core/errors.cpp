#include "core/errors.h"

#include "core/text.h"

namespace sono {

int32_t ReduceErrorNumber(int32_t number) {
  const int64_t base = 0x80040000LL;
  const int64_t unsignedValue = static_cast<int64_t>(static_cast<uint32_t>(number));
  const int64_t n = unsignedValue - base;
  if (n > 0 && n < 65535) return static_cast<int32_t>(n);
  return number;
}

std::string BuildErrorText(const ErrorInfo& error, const std::string& caller) {
  const int32_t number = ReduceErrorNumber(error.number);
  std::string text = "Err: ";
  text.append(std::to_string(number)).append(" (").append(error.description).append(")");
  if (!IsBlank(caller))
    text.append("\n\nSource:").append(caller).append(":").append(std::to_string(error.line));
  // Errors raised by a component (HRESULTs) name the component too.
  if (error.number < 0 && !error.source.empty())
    text.append("\n(Source: ").append(error.source).append(")");
  return text;
}

void ErrorReport::report(const std::string& caller, const ErrorInfo& error) {
  if (log_.closing() || running_) return;
  if (error.number == 0) return;
  running_ = true;
  const std::string text = BuildErrorText(error, caller);
  log_.TraceLogEncadre(-1, -1, -1, ReplaceAll(text, "\n", " "), '=');
  if (error.number == kAutomationError) {
    log_.TraceLog(-1, -1, -1, "Automation Error |Sub: " + caller);
    prompt_.message("Automation Error !!!\n\nSub: " + caller, Icon::Critical, Buttons::Ok);
  }
  last_ = LastError{ReduceErrorNumber(error.number), clock_.now(), caller, text, true};
  running_ = false;
}

}  // namespace sono
