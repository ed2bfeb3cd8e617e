#include "audio/setup/setup_window.h"

#include "audio/directx/lib_directx.h"
#include "audio/pcx/pcx_qz.h"

#include "audio/setup/init_sound.h"

#include <array>

namespace sono::audio {

namespace {
constexpr std::array<const char*, 3> kNatureLogNames = {"null", "DirectX", "PCXTools"};
}

void SetupWindow::Open(const std::string& settingsFile, SetupDevices devices) {
  setup_.Load(settingsFile, std::move(devices));
  for (const std::string& w : setup_.warnings()) log_.TraceLog("Warning: Setup: " + w);
}

void SetupWindow::tell(const std::string& text) {
  prompt_.message(text, Icon::Exclamation, Buttons::Ok, kSetupWindowTitle);
}

bool SetupWindow::Change(const std::string& section, const std::string& key, const std::string& value) {
  if (const std::string refusal = setup_.Set(section, key, value); !refusal.empty()) {
    log_.TraceLog("Err: Setup: " + section + "/" + key + "=" + value + " |" + refusal);
    tell(refusal);
    return false;
  }
  std::string error;
  if (!setup_.Save(&error)) {
    log_.TraceLog("Err: Setup: Save: " + setup_.settingsFile() + " |" + error);
    tell("Le réglage n'a pas pu être enregistré dans " + setup_.settingsFile() + " (" + error + ").");
    // The controls show what the file still holds.
    const SetupDevices devices = setup_.devices();
    setup_.Load(setup_.settingsFile(), devices);
    return false;
  }
  const SetupKey* k = FindSetupKey(section, key);
  log_.TraceLog("Setup: " + k->section + "/" + k->key + " set to " + setup_.value(k->section, k->key));
  if (k->kind == SetupKind::Nature && k->side == SetupSide::Out) {
    const int nature = setup_.nature(SetupSide::Out, k->slot);
    log_.TraceLogEncadre(-1, k->slot, -1,
                         std::string("Pipe Nature: Set to ") + kNatureLogNames[static_cast<size_t>(nature)], '=');
    // The slot's DJ Studio output starts on its device now (restarted when it ran).
    if (nature == kNatureDirectX && directx_) directx_->InitDirectXOut(k->slot);
  }
  if (!qz_) return true;
  // The next allocation, clock and level change use the new values; a level
  // reaches the slot's pipe at once.
  ApplyAudioSetup(setup_, *qz_);
  if (k->section == LevelSection(k->side, k->slot)) {
    const int kind = k->key == "Digital" ? 1 : 0;
    if (k->side == SetupSide::Out)
      qz_->PCXToolsPipeSetLevelOut(k->slot, kind);
    else
      qz_->PCXToolsPipeSetLevelIn(k->slot, kind);
  }
  return true;
}

bool SetupWindow::allocateOut(int slot) {
  int streams = kMaxStreams;
  if (!qz_->AllocatePipeOut(slot, streams)) return false;
  const PcxSlotSetup& s = qz_->setup.out[static_cast<size_t>(slot)];
  if (s.digitalActive) qz_->PipeDefineDigitalOutput(slot, s.digitalFormat);
  qz_->PipeOutSetClockFromSetup(slot);
  qz_->PCXToolsPipeSetLevelOut(slot, 1);
  qz_->PCXToolsPipeSetLevelOut(slot, 0);
  return true;
}

bool SetupWindow::allocateIn() {
  int streams = 4;
  if (!qz_->AllocatePipeIn(0, streams)) return false;
  qz_->PCXToolsPipeSetLevelIn(0, 1);
  qz_->PCXToolsPipeSetLevelIn(0, 0);
  return true;
}

void SetupWindow::forceBoard(SetupSide side, int slot, int board) {
  if (board < 0) return;
  const auto& list = side == SetupSide::Out ? setup_.devices().outputs : setup_.devices().inputs;
  for (size_t d = 0; d < list.size(); ++d)
    if (list[d].board == board) {
      (side == SetupSide::Out ? qz_->deviceOut[static_cast<size_t>(slot)] : qz_->deviceIn) = static_cast<int>(d);
      return;
    }
}

void SetupWindow::InitGeneralPCXTools() {
  if (!qz_) return;
  ApplyAudioSetup(setup_, *qz_);
  bool pcx = setup_.nature(SetupSide::In, 0) == kNaturePcxTools;
  for (int slot = 0; slot < kPlaybackSlots; ++slot) pcx |= setup_.nature(SetupSide::Out, slot) == kNaturePcxTools;
  if (!pcx) return;
  if (!qz_->toolsAvailable && !qz_->InitTools()) return;
  bool initSound = false;
  if (!initSoundFile.empty()) {
    std::string why;
    switch (EnsureInitSound(initSoundFile, &why)) {
      case InitSoundState::Found: initSound = true; break;
      case InitSoundState::Created:
        log_.TraceLog("InitGeneralPCXTools: initialisation sound created: " + initSoundFile);
        initSound = true;
        break;
      case InitSoundState::Missing:
        log_.TraceLog("Err: File '" + initSoundFile + "' not found");
        log_.TraceLog("Err: InitGeneralPCXTools: initialisation sound not created: " + why);
        prompt_.message("Fichier '" + initSoundFile + "' non trouvé.", Icon::Critical, Buttons::Ok, qz_->setup.caption);
        break;
    }
  }
  for (int slot = 0; slot < kPlaybackSlots; ++slot) {
    if (setup_.nature(SetupSide::Out, slot) != kNaturePcxTools) continue;
    qz_->InitPCXToolsOut(slot);
    forceBoard(SetupSide::Out, slot, static_cast<int>(setup_.number(DeviceSection(kNaturePcxTools, SetupSide::Out, slot), "ForcerCarte")));
    if (allocateOut(slot) && initSound) InitGeneralPCXToolsPipeOutSoundInit(slot);
  }
  if (setup_.nature(SetupSide::In, 0) == kNaturePcxTools) {
    qz_->InitPCXToolsIn(0);
    forceBoard(SetupSide::In, 0, static_cast<int>(setup_.number(DeviceSection(kNaturePcxTools, SetupSide::In, 0), "ForcerCarte")));
    allocateIn();
  }
}

bool SetupWindow::InitGeneralPCXToolsPipeOutSoundInit(int slot) {
  if (!qz_ || !qz_->toolsAvailable || !qz_->tools() || slot < 0 || slot >= kPlaybackSlots) return false;
  PcxPipeRecord& pipe = qz_->pipesOut[static_cast<size_t>(slot)];
  if (!pipe.allocated || pipe.maxStreams < 1) return false;
  BoardTools& tools = *qz_->tools();
  const uint32_t stream = pipe.streams[static_cast<size_t>(pipe.maxStreams - 1)].handle;
  constexpr const char* kProcedure = "FrmSetup:InitGeneralPCXToolsPipeOutSoundInit";
  bool show = true;
  if (!tools.TOOLPlayFile(pipe.handle, stream, initSoundFile, 1, 0, 0, 0, kTimeUnitMs, 0, 0, 0, 0, 0, 0, 0, 1)) {
    qz_->GestionErreurPCXTools(show, "TOOLPlayFile", kProcedure);
    return false;
  }
  if (!tools.TOOLPipeStart(pipe.handle, 0)) {
    qz_->GestionErreurPCXTools(show, "TOOLPipeStart |Out", kProcedure);
    return false;
  }
  // The engine's pipe plays a queued sound once its stream is started.
  if (!tools.TOOLStreamStart(pipe.handle, 0, stream)) {
    qz_->GestionErreurPCXTools(show, "TOOLStreamStart |Out", kProcedure);
    return false;
  }
  log_.TraceLog(-1, slot, -1, "Pipe Playback initialization");
  return true;
}

bool SetupWindow::CommandReInitPipeOut(int slot, int forcedBoard) {
  if (!qz_ || !qz_->toolsAvailable || slot < 0 || slot >= kPlaybackSlots ||
      setup_.nature(SetupSide::Out, slot) != kNaturePcxTools)
    return false;
  if (prompt_.message(kReInitQuestion, Icon::Question, Buttons::YesNo, kSetupWindowTitle) != Answer::Yes) return false;
  if (prompt_.message(kReInitOutWarning, Icon::Question, Buttons::YesNo, kSetupWindowTitle) != Answer::Yes)
    return false;
  log_.TraceLog(-1, slot, -1, "ReInit Pipe |OUT");
  if (qz_->pipesOut[static_cast<size_t>(slot)].allocated && !qz_->ReleasePipeOut(slot)) return false;
  if (!Change(DeviceSection(kNaturePcxTools, SetupSide::Out, slot), "ForcerCarte", std::to_string(forcedBoard)))
    forcedBoard = static_cast<int>(setup_.number(DeviceSection(kNaturePcxTools, SetupSide::Out, slot), "ForcerCarte"));
  qz_->InitPCXToolsOut(slot);
  forceBoard(SetupSide::Out, slot, forcedBoard);
  return allocateOut(slot);
}

bool SetupWindow::CommandReInitPipeIn(int forcedBoard) {
  if (!qz_ || !qz_->toolsAvailable || setup_.nature(SetupSide::In, 0) != kNaturePcxTools) return false;
  if (prompt_.message(kReInitQuestion, Icon::Question, Buttons::YesNo, kSetupWindowTitle) != Answer::Yes) return false;
  if (prompt_.message(kReInitInWarning, Icon::Question, Buttons::YesNo, kSetupWindowTitle) != Answer::Yes)
    return false;
  log_.TraceLog("ReInit Pipe |IN");
  if (qz_->pipeIn.allocated && !qz_->ReleasePipeIn()) return false;
  if (!Change(DeviceSection(kNaturePcxTools, SetupSide::In, 0), "ForcerCarte", std::to_string(forcedBoard)))
    forcedBoard = static_cast<int>(setup_.number(DeviceSection(kNaturePcxTools, SetupSide::In, 0), "ForcerCarte"));
  qz_->InitPCXToolsIn(0);
  forceBoard(SetupSide::In, 0, forcedBoard);
  return allocateIn();
}

}  // namespace sono::audio
