// Stand-in converters for the driver's tests: small shell scripts that accept
// the converter's command line and misbehave on purpose (missing, failing,
// writing an error file, killed halfway, never ending, cut output).
#pragma once
#include <sys/stat.h>

#include <string>
#include <vector>

#include "audio_test_support.h"
#include "test_support.h"

namespace sono::test {

// A script at dir/name: it reads -infile=, -outfile= and -errorfile= into
// $in, $out and $err, keeps its arguments (NUL-separated) in dir/name.args,
// then runs `body`.
inline std::string WriteStandIn(const TempDir& dir, const std::string& name, const std::string& body) {
  const std::string path = dir / name;
  WriteFile(path,
            "#!/bin/sh\n"
            "for a in \"$@\"; do\n"
            "  case \"$a\" in\n"
            "    -infile=*) in=\"${a#-infile=}\";;\n"
            "    -outfile=*) out=\"${a#-outfile=}\";;\n"
            "    -errorfile=*) err=\"${a#-errorfile=}\";;\n"
            "  esac\n"
            "done\n"
            "printf '%s\\0' \"$@\" > '" + path + ".args'\n" + body + "\n");
  ::chmod(path.c_str(), 0755);
  return path;
}

// The arguments the stand-in at `path` was last given.
inline std::vector<std::string> StandInArguments(const std::string& path) {
  std::vector<std::string> out;
  const std::string all = ReadFile(path + ".args");
  size_t from = 0;
  for (size_t nul; (nul = all.find('\0', from)) != std::string::npos; from = nul + 1)
    out.push_back(all.substr(from, nul - from));
  return out;
}

// A stand-in that "converts" by copying the house-format file `house`.
inline std::string CopyingStandIn(const TempDir& dir, const std::string& house,
                                  const std::string& name = "convert-ok") {
  return WriteStandIn(dir, name, "cp '" + house + "' \"$out\" || exit 1\n: > \"$err\"");
}

}  // namespace sono::test
