// sonoteka-convert: the library's external converter. Usage in command_line.h.
// Exit status: 0 converted, 1 failed (the reason in the error file and on
// standard error), 2 bad command line. The error file is left empty on
// success and holds one French line on failure.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/codec/house_format.h"
#include "command_line.h"
#include "core/files.h"
#include "audio/codec/mpeg_frames.h"
#include "conversion.h"
#include "sound_encoder.h"

namespace {

enum ExitStatus { kExitDone = 0, kExitFailed = 1, kExitUsage = 2 };

// The writer's temporary file, removed when the converter is told to stop.
char g_temporary[4096];

extern "C" void OnStopSignal(int signal) {
  if (g_temporary[0]) ::unlink(g_temporary);
  ::_exit(128 + signal);
}

void InstallSignals(const std::string& temporary) {
  std::snprintf(g_temporary, sizeof g_temporary, "%s", temporary.c_str());
  // A file-size limit (a full disk) must fail the write, not kill us.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  struct sigaction stop{};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &stop, nullptr);
}

// The error file named on the command line, even when the rest is wrong.
std::string ErrorFileOf(const std::vector<std::string>& args) {
  constexpr std::string_view kKey = "-errorfile=";
  for (const std::string& a : args)
    if (a.size() >= kKey.size() && strncasecmp(a.c_str(), kKey.data(), kKey.size()) == 0) {
      std::string v = a.substr(kKey.size());
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      return v;
    }
  return {};
}

// The message goes to standard error and into the error file. False when
// the error file cannot be written.
bool Report(const std::string& errorFile, const std::string& message) {
  if (!message.empty()) std::fprintf(stderr, "%s\n", message.c_str());
  if (errorFile.empty()) return true;
  std::string why;
  if (sono::WriteFileAtomic(errorFile, message, &why)) return true;
  std::fprintf(stderr, "Impossible d'écrire le fichier d'erreurs: %s\n", errorFile.c_str());
  return false;
}

// What the target really holds: the house format as its frames say.
void PrintStored(const sono::convert::ConverterOptions& o, const sono::convert::ConversionResult& r) {
  using namespace sono::audio;
  const char* what = r.copied ? "Fichier copié" : "Fichier converti";
  if (o.format == sono::convert::OutputFormat::House) {
    const FrameScan scan = ScanMpegFile(o.output);
    std::printf("%s: %s (mp2, 48000 Hz, 256 kbit/s, stéréo, %lld trames, %lld ms)\n", what, o.output.c_str(),
                static_cast<long long>(scan.frames), static_cast<long long>(FramesToMs(scan.samples, kHouseRate)));
    return;
  }
  std::printf("%s: %s (%s, %d Hz, %s, %lld ms)\n", what, o.output.c_str(), FormatName(o.format), r.rate,
              r.channels == 1 ? "mono" : "stéréo", static_cast<long long>(FramesToMs(r.frames, r.rate)));
}

// One tag on one line: a line break inside it would start another key.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

// The info file: the source's title and artist (UTF-8) and the milliseconds
// the trim removed before the sound, for the driver to read back. False
// when it cannot be written (the conversion then fails: the driver would
// otherwise place markers without knowing the trim).
bool WriteInfoFile(const std::string& infoFile, const sono::convert::ConversionResult& r) {
  const long long trimmedMs = r.rate > 0 ? (r.trimmedFrames * 1000 + r.rate / 2) / r.rate : 0;
  const std::string text = "title=" + OneLine(r.title) + "\nartist=" + OneLine(r.artist) +
                           "\ntrimmed_start_ms=" + std::to_string(trimmedMs) + "\n";
  return sono::WriteFileAtomic(infoFile, text);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace sono::convert;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::string errorFile = ErrorFileOf(args);
  const ParseResult parsed = ParseCommandLine(args);
  if (!parsed.options) {
    Report(errorFile, parsed.error);
    return kExitUsage;
  }
  const ConverterOptions& o = *parsed.options;
  InstallSignals(TemporaryNameFor(o.output));

  const std::string refusal = RefusalOf(o);
  if (!refusal.empty()) {
    Report(errorFile, refusal);
    return kExitUsage;
  }

  const auto progress = [&](int percent) {
    if (!o.progress) return;
    std::printf("%d\n", percent);
    std::fflush(stdout);
  };
  const ConversionResult r = Convert(o, progress);
  if (!r.ok) {
    Report(errorFile, r.error);
    return kExitFailed;
  }
  if (!o.infoFile.empty() && !WriteInfoFile(o.infoFile, r)) {
    Report(errorFile, "Impossible d'écrire le fichier d'informations: " + o.infoFile);
    return kExitFailed;
  }
  if (!Report(errorFile, "")) return kExitFailed;
  PrintStored(o, r);
  return kExitDone;
}
