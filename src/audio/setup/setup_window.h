// The audio set-up window's behaviour (`FrmSetup`) without its widgets: each
// control's change checked and stored at once (the next play or take uses
// it), levels applied to an allocated pipe as the slider moves, the nature
// change's log lines, the start-up initialisation of the PCX pipes and the
// re-initialisation buttons.
//
// Decisions of this port:
//   - A change is written to the library settings file as soon as it is
//     taken (no "save" button, nothing lost when the window closes); a
//     refusal or a failed write is told (exclamation box) and logged, and the
//     control shows the value kept.
//   - "ForcerCarte" is the board a re-initialised pipe is allocated on (its
//     first stereo pair); -1 keeps the slot's device.
//   - A playback slot set to DirectX nature starts (or, already started,
//     restarts) its player control on the slot's DirectX device at once
//     (`InitDirectXOut`), as the window's nature change does; a slot set to
//     another nature keeps its control idle (nothing plays through it).
//   - The initialisation sound ("Vexa_Init.s48", `init_sound.h`) is checked
//     (made when missing) once the tools are there, and queued and played
//     on the last stream of every PCX playback pipe allocated at start-up
//     (the audition takes the first ones); a re-initialised pipe is not
//     warmed again.
#pragma once
#include <string>

#include "audio/setup/audio_setup.h"
#include "core/ports.h"
#include "core/tracelog.h"

namespace sono::audio {

class LibDirectX;

inline constexpr const char* kSetupWindowTitle = "Réglages audio";
inline constexpr const char* kReInitQuestion = "Voulez-vous réinitialiser le pipe ?";
inline constexpr const char* kReInitOutWarning =
    "Ceci risque de couper des sons en cours de jeu. Continuer quand même ?";
inline constexpr const char* kReInitInWarning =
    "Ceci risque de couper le son en cours d'enregistrement. Continuer ?";

class SetupWindow {
 public:
  // `qz` (may be null): the PCX layer whose pipes the window applies levels
  // to and re-initialises.
  SetupWindow(TraceLogger& log, Prompt& prompt, PcxQz* qz) : log_(log), prompt_(prompt), qz_(qz) {}

  // The DirectX side whose slot outputs a nature change starts (none: the
  // change is only stored).
  void setDirectX(LibDirectX* directx) { directx_ = directx; }

  // The window opens on the settings file with this computer's devices.
  void Open(const std::string& settingsFile, SetupDevices devices);
  const AudioSetup& setup() const { return setup_; }

  // A control changed: checked, stored, applied; false (told, old value
  // kept) when refused or not written.
  bool Change(const std::string& section, const std::string& key, const std::string& value);

  // InitGeneralPCXTools and InitGeneralPCXToolsPipeOut/In: the tools started
  // when a playback slot is of PCX nature, and each PCX slot's pipe
  // allocated with its formats, digital output, clock and levels.
  void InitGeneralPCXTools();
  // InitGeneralPCXToolsPipeOutSoundInit: the initialisation sound queued on
  // the slot's pipe and the pipe started ("Pipe Playback initialization").
  bool InitGeneralPCXToolsPipeOutSoundInit(int slot);
  // The initialisation sound's path (`InitSoundFile`); empty: none is played.
  std::string initSoundFile;
  // CommandReInitPipeOut / CommandReInitPipeIn: after two yeses, the pipe
  // released and allocated again (on the forced board, written to
  // "ForcerCarte"); false when nothing was done.
  bool CommandReInitPipeOut(int slot, int forcedBoard);
  bool CommandReInitPipeIn(int forcedBoard);

 private:
  void tell(const std::string& text);
  bool allocateOut(int slot);
  bool allocateIn();
  void forceBoard(SetupSide side, int slot, int board);
  TraceLogger& log_;
  Prompt& prompt_;
  PcxQz* qz_;
  LibDirectX* directx_ = nullptr;
  AudioSetup setup_;
};

}  // namespace sono::audio
