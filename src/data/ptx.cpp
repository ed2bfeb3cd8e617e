#include "data/ptx.h"

#include <cmath>
#include <fmt/format.h>

#include "core/datetime.h"
#include "core/text.h"
#include "data/fields.h"
#include "data/songs.h"

namespace sono::data {

namespace {
constexpr const char* kModule = "Lib_Public";

constexpr std::array<SlotInfo, kSlots> kSlotInfo = {{
    {"Fade In", kGridFadeIn, kGridFadeInLength, '0'},
    {"Fade Out", kGridFadeOut, kGridFadeOutLength, '1'},
    {"Intro", kGridIntro, 0, '4'},
    {"Start Next", kGridStartNext, 0, '5'},
    {"Loop", kGridLoop, kGridLoopLength, '9'},
    {"Hook", kGridHook, kGridHookLength, '2'},
    {"Send", kGridSend, 0, '6'},
    {"Pitch", kGridPitch, 0, 'D'},
    {"Level", kGridLevel, 0, '8'},
    {"Start Equi", kGridStartEqui, 0, '7'},
}};

std::string caller(const char* procedure) { return std::string(kModule) + ":" + procedure; }

// Positioned on the first record of code & type (key order "00" to "99").
// True with `rec` filled when one exists.
bool findFirst(Library& lib, int station, const std::string& code, char type, ptx::Record& rec,
               const char* procedure) {
  std::string key = Library::Key(ptx::Key(code, type, "00"));
  // Errors other than the end of the file are reported by the layer; nothing
  // is loaded from a failed read (the shared buffer holds another record).
  if (lib.db().GetGreaterOrEqual(lib.base(), kPointers, station, kPointerByCodeAndType, key, caller(procedure)) != 0)
    return false;
  if (key.substr(0, 11) > ptx::Key(code, type, "99")) return false;
  rec = ptx::Decode(lib.db().record(kPointers));
  return true;
}

int insert(Library& lib, int station, const ptx::Record& rec, const char* procedure) {
  lib.db().record(kPointers) = ptx::Encode(rec);
  std::string key = Library::Key(std::string(11, ' '));
  return lib.db().Insert(lib.base(), kPointers, station, kPointerByCodeAndType, key, caller(procedure));
}
}  // namespace

const SlotInfo& SlotDescription(int slot) { return kSlotInfo.at(static_cast<size_t>(slot)); }

// ------------------------------------------------------------ value ranges

namespace {
// A typed number as the message shows it: whole numbers in full, a huge one
// in scientific form rather than hundreds of digits.
std::string Typed(double v) { return fmt::format("{:.15g}", v); }
}  // namespace

std::string CheckTimeValue(const std::string& what, double ms, SoundLength length) {
  if (!std::isfinite(ms)) return what + " : valeur hors limites.";
  if (ms < 0) return fmt::format("{} : {} ms refusé (une position ou une durée ne peut pas être négative).", what,
                                 Typed(ms));
  if (length.measured && ms > static_cast<double>(length.ms))
    return fmt::format("{} : {} ms au-delà de la fin du son ({} ms).", what, Typed(ms), length.ms);
  if (!length.measured && ms > static_cast<double>(kLongestSoundMs))
    return fmt::format("{} : {} ms au-delà de la durée la plus longue d'un morceau ({} ms).", what, Typed(ms),
                       kLongestSoundMs);
  return {};
}

std::string CheckPointerValue(int slot, double position, double second, SoundLength length) {
  if (slot < 0 || slot >= kSlots) return fmt::format("Pointeur inconnu : {}.", slot);
  const SlotInfo& info = kSlotInfo[static_cast<size_t>(slot)];
  if (info.secondColumn == 0) second = 0;  // the rules drop it
  if (!std::isfinite(position) || !std::isfinite(second)) return std::string(info.label) + " : valeur hors limites.";
  if (slot == kPitch) {
    if (position < kPitchMin || position > kPitchMax)
      return fmt::format("{} : {:+.2f} % hors limites (de -20 % à +20 %).", info.label,
                         position / 10000.0 - 100.0);
    return {};
  }
  if (slot == kLevel) {
    if (std::fabs(position) > kLevelLimit)
      return fmt::format("{} : {:+.2f} dB hors limites (de -30 dB à +30 dB).", info.label, position / 100.0);
    return {};
  }
  if (second < 0) return CheckTimeValue(std::string(info.label) + " (durée)", second, length);
  if (std::string refusal = CheckTimeValue(info.label, position, length); !refusal.empty()) return refusal;
  // The pointer ends within the sound too.
  if (second > 0) return CheckTimeValue(fmt::format("{} ({} + {} ms)", info.label, Typed(position), Typed(second)),
                                        position + second, length);
  return {};
}

bool DurationFar(long long newMs, long long storedMs) {
  const long long gap = newMs > storedMs ? newMs - storedMs : storedMs - newMs;
  return storedMs > 0 && gap > kFarDurationMs && gap * 10 > storedMs;
}

std::string CheckSendDevice(double device) {
  if (!std::isfinite(device) || device != std::floor(device) || device < kNoSendDevice || device > kSendDeviceMax)
    return fmt::format("Périphérique : {} hors limites (de 0 à {}, ou -1 pour aucun).", Typed(device),
                       kSendDeviceMax);
  return {};
}

namespace ptx {

std::string Key(const std::string& code, char type, const char* order) {
  return Calibre(code, 8) + type + order;
}

std::string Encode(const Record& r) {
  std::string out(kLength, ' ');
  out.replace(0, 8, Calibre(r.code, 8));
  out[8] = r.type;
  out.replace(9, 2, N2S(std::clamp(r.order, 0, 99), 2, '0'));
  out.replace(11, 10, Calibre(N2S(std::max(0LL, r.position), 10, '0'), 10));
  out.replace(21, 10, Calibre(N2S(std::max(0LL, r.duration), 10, '0'), 10));
  out.replace(31, 2, Calibre(r.complement, 2));
  out.replace(33, 1, Calibre(r.actif, 1));
  out.replace(34, 10, Calibre(r.valeur, 10));
  return out;
}

Record Decode(const std::string& bytes) {
  std::string b = bytes;
  b.resize(kLength, ' ');
  Record r;
  r.code = b.substr(0, 8);
  r.type = b[8];
  r.order = static_cast<int>(GetNumber(b, {10, 2}));
  r.position = GetNumber(b, {12, 10});
  r.duration = GetNumber(b, {22, 10});
  r.complement = b.substr(31, 2);
  r.actif = b.substr(33, 1);
  r.valeur = b.substr(34, 10);
  return r;
}

}  // namespace ptx

bool PtxChargerPointeur(Library& lib, int station, const std::string& code, char type,
                        long long& position, long long& second) {
  position = 0;
  second = 0;
  ptx::Record rec;
  if (!findFirst(lib, station, code, type, rec, "PtxChargerPointeur")) return false;
  position = rec.position;
  second = rec.duration;
  return true;
}

int PtxSauvegarderPointeur(Library& lib, int station, const std::string& code, char type,
                           long long position, long long second, int device, long long extra,
                           bool flag) {
  ptx::Record rec;
  rec.code = code;
  rec.type = type;
  rec.position = position;
  rec.duration = second;
  if (type == '0') rec.actif = flag ? "O" : "N";
  if (type == '6' && device >= 0) rec.complement = N2S(device, 2, '0');
  if (type == '9') rec.valeur = N2S(extra, 10, '0');
  return insert(lib, station, rec, "PtxSauvegarderPointeur");
}

int PtxDetruirePointeur(Library& lib, int station, const std::string& code, int type) {
  const char typeChar = type < 0 ? 'D' : (type <= 9 ? static_cast<char>('0' + type) : static_cast<char>(type));
  for (int guard = 0; guard < 1000; ++guard) {
    std::string key = Library::Key(ptx::Key(code, typeChar, "00"));
    const int st = lib.db().GetGreaterOrEqual(lib.base(), kPointers, station, kPointerByCodeAndType, key,
                                    caller("PtxDetruirePointeur"));
    if (st == 9) return 0;
    if (st != 0) return st;
    if (key.substr(0, 11) > ptx::Key(code, typeChar, "99")) return 0;
    const int del = lib.db().Delete(lib.base(), kPointers, station, kPointerByCodeAndType, key,
                                    caller("PtxDetruirePointeur"));
    if (del != 0) return del;
  }
  return 0;
}

int PtxSauvegarderPointeurPitch(Library& lib, int station, const std::string& code, long long pitch) {
  const double p = static_cast<double>(pitch) / 1000000.0 * 100.0 - 100.0;
  ptx::Record rec;
  rec.code = code;
  rec.type = 'D';
  rec.position = std::llround(std::fabs(p) * 100.0);
  rec.complement = pitch < kPitchNeutral ? "--" : "++";
  return insert(lib, station, rec, "PtxSauvegarderPointeurPitch");
}

int PtxSauvegarderPointeurLevel(Library& lib, int station, const std::string& code, float level) {
  ptx::Record rec;
  rec.code = code;
  rec.type = '8';
  rec.position = std::llround(std::fabs(static_cast<double>(level) * 100.0));
  rec.complement = level >= 0 ? "++" : "--";
  return insert(lib, station, rec, "PtxSauvegarderPointeurLevel");
}

bool PtxChargerPointeurPitch(Library& lib, int station, const std::string& code, long long& pitch) {
  pitch = kPitchNeutral;
  ptx::Record rec;
  if (!findFirst(lib, station, code, 'D', rec, "PtxChargerPointeurPitch")) return false;
  double p = static_cast<double>(rec.position) / 100.0;
  if (rec.complement == "--") p = -p;
  if (p != 0) pitch = std::llround((100.0 + p) * 1000000.0 / 100.0);
  return true;
}

bool PtxChargerPointeurLevel(Library& lib, int station, const std::string& code, float& level) {
  level = 0;
  ptx::Record rec;
  if (!findFirst(lib, station, code, '8', rec, "PtxChargerPointeurLevel")) return false;
  level = static_cast<float>(rec.position) / 100.0f;
  if (rec.complement == "--") level = -level;
  return true;
}

bool PtxChargerPointeurSend(Library& lib, int station, const std::string& code, int& device,
                            long long& position) {
  device = kNoSendDevice;
  position = 0;
  ptx::Record rec;
  if (!findFirst(lib, station, code, '6', rec, "PtxChargerPointeurSend")) return false;
  device = static_cast<int16_t>(GetNumber(rec.complement, {1, 2}));
  position = rec.position;
  return true;
}

void PtxChargerPointeurVerifierCoherence(TraceLogger& log, const std::string& code,
                                         long long soundDuration, long long& fadeIn,
                                         long long& fadeInDuration, long long& startNext,
                                         long long& fadeOut, long long& fadeOutDuration) {
  const std::string lead = Trim(code) + ": ";
  const long long delta = kDeltaFadeSecurite;
  if (fadeOut < 0) {
    fadeOut = soundDuration - delta < 1 ? 0 : soundDuration - delta;
    fadeOutDuration = 0;
  }
  if (soundDuration > 0 && fadeOut > soundDuration - fadeOutDuration - delta) {
    const long long bound = std::max(0LL, soundDuration - fadeOutDuration - delta);
    log.TraceLog(lead + fmt::format("     FadeOutPosition > SoundDuration - FadeOutDuration - "
                                    "DeltaFadeSecurite: {} ms > {} - {} - {} ms |Changed from {} "
                                    "ms to {} ms",
                                    fadeOut, soundDuration, fadeOutDuration, delta, fadeOut, bound));
    fadeOut = bound;
  }
  long long effectivePosition = fadeOut, effectiveDuration = fadeOutDuration;
  if (fadeOut == 0) {
    effectivePosition = soundDuration;
    effectiveDuration = 0;
  }
  if (startNext < 0) {
    const std::string prefix = code.substr(0, std::min<size_t>(3, code.size()));
    startNext = prefix == "PRE" || prefix == "EXT" ? 0 : effectivePosition;
  } else if (startNext >= effectivePosition + effectiveDuration && effectiveDuration >= 1) {
    log.TraceLog(lead + fmt::format("     StartNextPosition >= FadeOutPosition + "
                                    "FadeOutDuration: {} ms >= {} + {} ms |Changed from {} ms to {} ms",
                                    startNext, effectivePosition, effectiveDuration, startNext,
                                    effectivePosition));
    startNext = effectivePosition;
  }
  if (fadeIn < 0) {
    fadeIn = 0;
    fadeInDuration = 0;
  } else if (fadeIn >= effectivePosition) {
    if (fadeIn > 0) {
      log.TraceLog(lead + fmt::format("     FadeInPosition: Too close with PlayDuration |Changed "
                                      "from {} ms to 0 ms",
                                      fadeIn));
      fadeIn = 0;
    }
    fadeInDuration = 0;
  }
}

long long DeterminePlayDurationCheckPtx(long long soundDuration, long long startNext,
                                        long long fadeOut, long long fadeIn,
                                        long long fadeInDuration) {
  long long end = soundDuration;
  if (startNext >= 1 && startNext < soundDuration) end = startNext;
  else if (fadeOut >= 1 && fadeOut < soundDuration) end = fadeOut;
  if (fadeIn + fadeInDuration > 0) end -= fadeIn + fadeInDuration;
  return std::max(0LL, end);
}

double EnergieCoefCorrectionLevel(double level) {
  const double coef = 1 + 0.033 * level;
  return coef <= 0 ? 0.01 : coef;
}

LoadedPointers MorceauChargerPointeur(Library& lib, int station, const std::string& code,
                                      long long soundDuration) {
  LoadedPointers p;
  long long unused = 0;
  // A pointer without a record is unset (-1) for the coherence rules.
  if (!PtxChargerPointeur(lib, station, code, '0', p.fadeIn, p.fadeInDuration)) p.fadeIn = -1;
  PtxChargerPointeur(lib, station, code, '4', p.intro, unused);
  if (!PtxChargerPointeur(lib, station, code, '1', p.fadeOut, p.fadeOutDuration)) p.fadeOut = -1;
  if (!PtxChargerPointeur(lib, station, code, '5', p.startNext, unused)) p.startNext = -1;
  PtxChargerPointeur(lib, station, code, '7', p.startEqui, unused);
  long long loopDuration = 0, hookDuration = 0;
  PtxChargerPointeur(lib, station, code, '9', p.loop, loopDuration);
  PtxChargerPointeur(lib, station, code, '2', p.hook, hookDuration);
  PtxChargerPointeurLevel(lib, station, code, p.level);
  PtxChargerPointeurSend(lib, station, code, p.sendDevice, p.send);
  PtxChargerPointeurPitch(lib, station, code, p.pitch);
  PtxChargerPointeurVerifierCoherence(lib.log(), code, soundDuration, p.fadeIn, p.fadeInDuration,
                                      p.startNext, p.fadeOut, p.fadeOutDuration);
  p.loopEnd = p.loop + loopDuration;
  p.hookEnd = p.hook + hookDuration;
  p.playEnd = DeterminePlayDurationCheckPtx(soundDuration, p.startNext, p.fadeOut, p.fadeIn,
                                            p.fadeInDuration);
  return p;
}

// ---------------------------------------------------------------- the grid

std::string FormatGrouped(double value, int decimals) {
  std::string text = fmt::format("{:.{}f}", std::fabs(value), decimals);
  const size_t dot = text.find('.');
  std::string whole = text.substr(0, dot), grouped;
  for (size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) grouped += ',';
    grouped += whole[i];
  }
  const bool negative = value < 0 && text.find_first_not_of("0.") != std::string::npos;
  return (negative ? "-" : "") + grouped + (dot == std::string::npos ? "" : text.substr(dot));
}

PointerGrid::PointerGrid() { InitGeneralTableurPointeurs(false, {}); }

void PointerGrid::InitGeneralTableurPointeurs(bool wide, std::vector<std::string> devices) {
  for (auto& row : cells_) row.fill("");
  for (int c = 1; c <= kGridColumns; ++c)
    cells_[kGridHeaderRow][static_cast<size_t>(c)] = kGridHeaders[static_cast<size_t>(c)];
  widths_.fill(0);
  if (wide) {
    for (int c = 1; c < kGridSendDevice; ++c) widths_[static_cast<size_t>(c)] = 7;
    widths_[kGridSendDevice] = 18;
  }
  deviceItems = std::move(devices);
  sendDevice = kNoSendDevice;
}

const std::string& PointerGrid::cell(int row, int column) const {
  return cells_.at(static_cast<size_t>(row)).at(static_cast<size_t>(column));
}

void PointerGrid::setCell(int row, int column, const std::string& text) {
  cells_.at(static_cast<size_t>(row)).at(static_cast<size_t>(column)) = text;
}

long long PointerGrid::raw(int column) const {
  const std::string t = Trim(cell(kGridRawRow, column));
  return ParseInt(t).value_or(0);
}

std::string PointerGrid::Display(int column, long long value) {
  if (column == kGridPitch) return FormatGrouped(static_cast<double>(value) / 1000000.0, 3);
  if (column == kGridLevel) return FormatGrouped(static_cast<double>(value) / 100.0, 2) + " dB";
  return Tps2MinSecMil(static_cast<double>(value));
}

void PointerGrid::setRaw(int column, long long value) {
  setCell(kGridRawRow, column, std::to_string(value));
  setCell(kGridShownRow, column, Display(column, value));
}

char DetermineTypeDeFin(int selectedItem) {
  switch (selectedItem) {
    case 1: return 'F';
    case 2: return 'E';
    case 3: return 'D';
    default: return ' ';
  }
}

// ------------------------------------------------------------ pointer set

void PointerSet::RAZValeursPtx() {
  position.fill(0);
  second.fill(0);
  position[kPitch] = kPitchNeutral;
  position[kSend] = 0;
  level = 0;
  pitchSlider = static_cast<int>(position[kPitch] / 1000);
  for (int s = 0; s < kSlots; ++s) PointeurMemoriseDansTableur(s, position[s], second[s]);
}

void PointerSet::Load(int station, const std::string& code, long long duration, bool measured) {
  soundDuration = duration;
  lengthMeasured = measured;
  loadedStation = station;
  loadedCode = code;
  const LoadedPointers p = MorceauChargerPointeur(lib_, station, code, duration);
  position = {p.fadeIn, p.fadeOut, p.intro, p.startNext, p.loop, p.hook, p.send, p.pitch,
              std::llround(static_cast<double>(p.level) * 100.0), p.startEqui};
  second = {p.fadeInDuration, p.fadeOutDuration, 0, 0, p.loopEnd - p.loop, p.hookEnd - p.hook,
            0, 0, 0, 0};
  level = p.level;
  grid.sendDevice = p.sendDevice;
  pitchSlider = static_cast<int>(p.pitch / 1000);
  for (int s = 0; s < kSlots; ++s) PointeurMemoriseDansTableur(s, position[s], second[s]);
}

void PointerSet::PointeurMemoriseDansTableur(int slot, long long pos, long long sec, bool fromStorage,
                                             int device) {
  const SlotInfo& info = kSlotInfo.at(static_cast<size_t>(slot));
  if (!fromStorage) pointersChanged = true;
  if (slot != kPitch && slot != kLevel) {
    if (slot == kIntro || slot == kStartNext || slot == kSend || slot == kStartEqui) sec = 0;
    if (slot == kFadeIn && position[kFadeOut] > 0 && pos + sec > position[kFadeOut])
      pos = position[kFadeOut] - sec;
    if (slot == kFadeOut && position[kFadeIn] >= 1 && pos >= 1 &&
        pos < position[kFadeIn] + second[kFadeIn])
      pos = position[kFadeIn] + second[kFadeIn];
    // The end margin needs the sound's real length.
    if (lengthMeasured && pos > 0 && pos + sec > soundDuration - 48) pos = soundDuration - sec - 48;
    pos = std::max(0LL, pos);
    sec = std::max(0LL, sec);
  }
  position[slot] = pos;
  second[slot] = sec;
  if (slot == kLevel) level = static_cast<float>(pos) / 100.0f;
  if (slot == kSend && device >= kNoSendDevice) grid.sendDevice = device;
  grid.setRaw(info.firstColumn, pos);
  if (info.secondColumn) {
    grid.setRaw(info.secondColumn, sec);
    // A zero second value shows empty.
    if (sec == 0) grid.setCell(kGridShownRow, info.secondColumn, "");
  }
  if (slot == kSend) {
    const int d = grid.sendDevice;
    grid.setCell(kGridShownRow, kGridSendDevice,
                 d >= 0 && d < static_cast<int>(grid.deviceItems.size()) ? grid.deviceItems[static_cast<size_t>(d)]
                                                                          : (d >= 0 ? std::to_string(d) : ""));
  }
  if (fromStorage) {
    grid.markChanged(info.firstColumn, false);
    grid.setCell(kGridStoredRow, info.firstColumn, std::to_string(pos));
    if (info.secondColumn) grid.setCell(kGridStoredRow, info.secondColumn, std::to_string(sec));
    if (slot == kSend) grid.setCell(kGridStoredRow, kGridSendDevice, std::to_string(grid.sendDevice));
  } else {
    grid.markChanged(info.firstColumn, true);
  }
}

std::string PointerSet::MemoriseUserValue(int slot, double pos, double sec, int device) {
  std::string refusal = CheckPointerValue(slot, pos, sec, length());
  if (refusal.empty() && slot == kSend && device != kSendDeviceKept) refusal = CheckSendDevice(device);
  if (!refusal.empty()) return refusal;
  if (SlotDescription(slot).secondColumn == 0) sec = 0;
  PointeurMemoriseDansTableur(slot, std::llround(pos), std::llround(sec), false, device);
  return {};
}

std::optional<long long> PointerSet::PlayDurationToStore() const {
  if (!lengthMeasured || keepDuration) return std::nullopt;
  return DeterminePlayDuration();
}

bool PointerSet::ChangedElsewhere(const std::string& code, const std::vector<int>& slots) {
  // Values set by hand, or read for another song, have nothing to compare with.
  if (!loadedStation || Trim(loadedCode) != Trim(code)) return false;
  PointerSet stored(lib_);
  stored.Load(*loadedStation, code, soundDuration, lengthMeasured);
  for (int slot : slots) {
    const SlotInfo& info = kSlotInfo.at(static_cast<size_t>(slot));
    if (!grid.changed(info.firstColumn)) continue;  // not the user's: not written over
    std::vector<int> columns = {info.firstColumn};
    if (info.secondColumn) columns.push_back(info.secondColumn);
    if (slot == kSend) columns.push_back(kGridSendDevice);
    for (int column : columns) {
      const std::string& read = grid.cell(kGridStoredRow, column);
      if (read != stored.grid.cell(kGridStoredRow, column)) return true;
    }
  }
  return false;
}

long long PointerSet::DeterminePlayDuration() const {
  return DeterminePlayDurationCheckPtx(soundDuration, grid.raw(kGridStartNext), grid.raw(kGridFadeOut),
                                       grid.raw(kGridFadeIn), grid.raw(kGridFadeInLength));
}

long long PointerSet::DetermineDureeIntro() const {
  return std::max(0LL, grid.raw(kGridIntro) - grid.raw(kGridFadeIn));
}

bool PointerSet::PointeurMemoriseDataBase(const std::string& code, const std::string&, int slot,
                                          bool refreshGrid, bool force) {
  if (Trim(code).empty()) return true;
  // Start next never lies after the end of the fade-out.
  const long long fadeOutPos = grid.raw(kGridFadeOut), fadeOutDur = grid.raw(kGridFadeOutLength);
  if (fadeOutPos > 0 && grid.raw(kGridStartNext) > fadeOutPos + fadeOutDur) {
    grid.markChanged(kGridStartNext, true);
    grid.setRaw(kGridStartNext, fadeOutPos);
  }
  struct Pending {
    int slot;
    long long pos, sec;
  };
  std::vector<Pending> pending;
  const int first = slot < 0 ? 0 : slot, last = slot < 0 ? kSlots - 1 : slot;
  for (int s = first; s <= last; ++s) {
    const SlotInfo& info = kSlotInfo[s];
    if (s != kSend && !grid.changed(info.firstColumn) && !force) continue;
    long long pos = grid.raw(info.firstColumn);
    const long long sec = info.secondColumn ? grid.raw(info.secondColumn) : 0;
    if (s != kPitch && s != kLevel && pos < 25) pos = 0;
    pending.push_back({s, pos, sec});
  }
  if (!force && !pending.empty()) {
    std::vector<int> slots;
    for (const Pending& p : pending) slots.push_back(p.slot);
    if (ChangedElsewhere(code, slots) &&
        lib_.prompt().message(ChangedElsewhereQuestion(code), Icon::Question, Buttons::YesNo,
                              "Ondavia: Sonoteka") != Answer::Yes) {
      lib_.log().TraceLog("Err: PointeurMemoriseDataBase: pointers changed on another workstation since shown |Code: " +
                          Trim(code));
      return false;
    }
  }
  // One station at a time, inside a transaction of its file: a failing call
  // rolls the station back to the records it had.
  auto storeSlot = [&](const Pending& p, int station) -> int {
    const SlotInfo& info = kSlotInfo[p.slot];
    int st = 0;
    switch (p.slot) {
      case kSend:
        st = PtxDetruirePointeur(lib_, station, code, 6);
        if (st == 0 && p.pos != 0)
          st = PtxSauvegarderPointeur(lib_, station, code, '6', p.pos, 0, grid.sendDevice, 0, true);
        break;
      case kPitch:
        st = PtxDetruirePointeur(lib_, station, code, -1);
        if (st == 0 && p.pos != kPitchNeutral) st = PtxSauvegarderPointeurPitch(lib_, station, code, p.pos);
        break;
      case kLevel:
        st = PtxDetruirePointeur(lib_, station, code, 8);
        if (st == 0 && p.pos != 0)
          st = PtxSauvegarderPointeurLevel(lib_, station, code, static_cast<float>(p.pos) / 100.0f);
        break;
      default:
        st = PtxDetruirePointeur(lib_, station, code, info.type - '0');
        if (st == 0 && (p.pos != 0 || p.sec != 0))
          st = PtxSauvegarderPointeur(lib_, station, code, info.type, p.pos, p.sec, -1, 0, true);
    }
    return st;
  };
  const std::string me = caller("PointeurMemoriseDataBase");
  // Every station, and the song records' durations, in one transaction: a
  // failure anywhere leaves every station with the records it had.
  bool allStored = true;
  const Pending* failed = nullptr;
  int failedStation = 0;
  if (!pending.empty()) {
    BaseTransaction txn(lib_.db(), lib_.base(), kPointers, me);
    if (!txn.begun()) {
      failed = &pending.front();
      failedStation = 1;
    }
    for (int station = 1; !failed && station <= lib_.stationCount(); ++station)
      for (const Pending& p : pending)
        if (storeSlot(p, station) != 0) {
          failed = &p;
          failedStation = station;
          break;
        }
    if (!failed && onDurationsStored &&
        !onDurationsStored(code, PlayDurationToStore(), DetermineDureeIntro(), DetermineTypeDeFin(endType))) {
      failed = &pending.front();
      failedStation = 0;
    }
    if (!failed && txn.commit() != 0) {
      failed = &pending.front();
      failedStation = 0;
    }
    if (failed) {
      txn.abort();
      allStored = false;
      lib_.log().TraceLog(fmt::format("Err: PointeurMemoriseDataBase: not stored |Code: {} |Type: {} |Station: {}",
                                      Trim(code), kSlotInfo[failed->slot].type,
                                      failedStation ? std::to_string(failedStation) : std::string("all")));
    }
  } else if (onDurationsStored) {
    allStored = onDurationsStored(code, PlayDurationToStore(), DetermineDureeIntro(), DetermineTypeDeFin(endType));
  }
  // A failed store keeps every changed mark, so that storing again finishes it.
  if (refreshGrid && allStored)
    for (const Pending& p : pending) PointeurMemoriseDansTableur(p.slot, p.pos, p.sec, true);
  if (allStored && slot < 0) pointersChanged = false;
  pitchSlider = static_cast<int>(grid.raw(kGridPitch) / 1000);
  return allStored;
}

}  // namespace sono::data
