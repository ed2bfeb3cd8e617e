#include "core/paths.h"

#include <cctype>

#include "core/ini.h"
#include "core/text.h"

namespace sono {

std::string BackslashesToSlashes(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

PathMapper::PathMapper(std::string programFolder, std::string siteFile, std::string computerName)
    : program_(CheckRep(programFolder)), siteFile_(std::move(siteFile)),
      computer_(std::move(computerName)) {}

std::string PathMapper::driveRoot(char letter) const {
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  std::string root = LectureIni(siteFile_, "Drives", std::string(1, upper), "");
  if (root.empty()) return program_ + "drives/" + std::string(1, lower) + "/";
  return CheckRep(BackslashesToSlashes(root));
}

std::string PathMapper::shareOfThisComputer(std::string_view shareName) const {
  const std::string local = LectureIni(siteFile_, "Shares", shareName, "");
  return local.empty() ? std::string() : CheckRep(BackslashesToSlashes(local));
}

static std::string stripQuotes(std::string v) {
  v = Trim(v);
  while (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = Trim(std::string_view(v).substr(1, v.size() - 2));
  return v;
}

std::string PathMapper::mapUnc(std::string_view unc) const {
  // unc holds "srv/share/rest..." (leading slashes removed, backslashes turned).
  if (unc.empty()) return program_ + "unc/";
  const size_t s1 = unc.find('/');
  const std::string server(unc.substr(0, s1));
  std::string share, rest;
  if (s1 != std::string_view::npos) {
    const size_t s2 = unc.find('/', s1 + 1);
    share = std::string(unc.substr(s1 + 1, s2 == std::string_view::npos ? std::string_view::npos
                                                                        : s2 - s1 - 1));
    if (s2 != std::string_view::npos) rest = std::string(unc.substr(s2 + 1));
  }
  if (EqualsNoCase(server, computer_)) {
    const std::string local = shareOfThisComputer(share);
    if (!local.empty()) return local + rest;
  }
  const std::string whole = "\\\\" + server + "\\" + share;
  std::string local = LectureIni(siteFile_, "Shares", whole, "");
  if (!local.empty()) return CheckRep(BackslashesToSlashes(local)) + rest;
  std::string out = program_ + "unc/" + server;
  if (!share.empty()) out += "/" + share;
  if (!rest.empty() || unc.back() == '/') out += "/" + rest;
  return out;
}

std::string PathMapper::toLocal(std::string_view configured) const {
  const std::string value = stripQuotes(std::string(configured));
  if (value.empty()) return value;
  if (value.size() >= 2 && std::isalpha(static_cast<unsigned char>(value[0])) && value[1] == ':') {
    std::string rest = BackslashesToSlashes(value.substr(2));
    while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
    return driveRoot(value[0]) + rest;
  }
  if (value.rfind("\\\\", 0) == 0 || value.rfind("//", 0) == 0) {
    std::string unc = BackslashesToSlashes(value.substr(2));
    return mapUnc(unc);
  }
  std::string local = BackslashesToSlashes(value);
  if (local.front() == '/') return local;
  return program_ + local;
}

}  // namespace sono
