// The desktop workstation put together: the application object over the
// given ports, the database layer, the library, the music tab and the main
// window, with the start-up hooks that join them. The program and the GUI
// tests build the same thing.
#pragma once
#include <QTimer>
#include <memory>
#include <string>

#include "audio/boardtools/board_tools.h"
#include "audio/directx/lib_directx.h"
#include "audio/engine/engine.h"
#include "audio/setup/setup_window.h"
#include "convert/library_import.h"
#include "core/app.h"
#include "core/scheduler.h"
#include "data/cartridges.h"
#include "data/library.h"
#include "data/music_tab.h"
#include "data/db_tools.h"
#include "data/pervasive.h"
#include "data/stats.h"
#include "notify/network_setup.h"
#include "notify/vpn_keepalive.h"
#include "ui/conversion_panel.h"
#include "ui/editor_panel.h"
#include "ui/local_copy_menu.h"
#include "ui/step_menu.h"
#include "recorder/recorder_model.h"
#include "ui/main_window.h"
#include "ui/audio_setup_window.h"
#include "ui/network_window.h"
#include "ui/settings_menus.h"
#include "ui/player_window.h"
#include "ui/recorder_window.h"
#include "ui/song_form_panel.h"

namespace sono::ui {

class Workstation {
 public:
  // `audio`: the outputs the editor's audition may use (the machine's cards
  // and the virtual device by default).
  Workstation(Prompt& prompt, EventLoop& events, Clock& clock, Desktop& desktop,
              const ConfigEnvironment& environment, LogHeaderInfo header,
              const audio::EngineOptions& audio = {});
  // Component check, start-up, window shown at its stored place and size;
  // false when the program must end.
  bool start(const std::string& commandLine = {});
  // The companion window's timers, the incident list, the average durations
  // queued by stores, and a newer instance's request to quit (true when this
  // one has closed).
  bool tick();
  // Other workstations' changes followed (every kFollowMs while started):
  // grid rows on screen, the song form and the cue-point editor read
  // again, then the grid's search run again (added and deleted songs). Skipped while a
  // search, a work letting events run or a dialog is under way.
  void followChanges();
  static constexpr int kFollowMs = 200;
  data::ChangeFollower follower{lib};
  // The process got an end signal: the unload sequence without questions.
  void closeOnSignal(const std::string& signalName);
  // The desktop session ends (the session manager's quit); false when the
  // user chose to stay (the logout is cancelled).
  bool endSession(bool interactionAllowed);
  // A music search, and the first song of the grid that has its sound is
  // selected (it goes into the editor); false when none has one.
  bool showFirstSoundedSong();
  // The main window drawn into a PNG file; false when it could not be written.
  bool saveScreenshot(const std::string& pngFile);

  ClockScheduler scheduler;
  Application app;
  data::PervasiveLayer layer;
  data::Library lib;
  data::DurationStatistics stats;
  data::MusicTab tab;
  data::GridFollower gridFollower{lib, stats};  // the grid's search run again (after lib and stats)
  editor::AuditionDeck deck;
  MainWindow window;
  EditorPanel* editorPanel;  // owned by the window
  SongFormPanel* songForm;   // owned by the window
  data::Cartouchier carts;
  SettingsMenus menus;       // the settings' menu entries and the cart panel
  data::DatabaseTools tools{layer, app.config(), app.log()};  // Tools menu: check and repair
  convert::LibraryImport imports;  // import by dialog and drop, export, the conversion queue
  ConversionPanel* conversions;    // owned by the window
  // Change notifications over UDP: built by start(), once the site is read
  // (their queue is kept in the settings folder).
  std::unique_ptr<notify::Notifier> notifier;
  std::unique_ptr<notify::NetworkSetup> networkSetup;
  PendingNotificationsDock* pendingNotifications = nullptr;  // owned by the window
  std::unique_ptr<notify::VpnKeepAlive> keepAlive;  // Timer30s, built with the notifier
  // The network window ("Outils" > "Adresses réseau…"), modal.
  void openNetworkWindow();
  // The window while it is open (GUI tests drive it), else null.
  NetworkWindow* networkWindow() const { return networkWindow_; }
  recorder::RecorderModel recorder;          // the recorder window's model (TimerRecorderStatus)
  RecorderWindow* recorderWindow = nullptr;  // made when first opened; owned by the window
  RecordBar* recordBar;                      // the editor's record buttons; owned by the editor panel
  // FrmPlayer, the pre-listen of any file ("Outils"), made when first
  // opened; owned by the window.
  PlayerWindow* playerWindow = nullptr;
  void showPlayer();
  LocalCopyMenu* localCopies;                // the editor's local copies and their menu; owned by the window
  StepMenu* steps;                           // the editor's steps, their menu and list; owned by the window
  // The audio set-up (`FrmSetup`): built by start() over the audition's
  // engine, which starts the PCX slots' pipes; "Outils" > "Réglages audio…".
  std::unique_ptr<audio::BoardTools> boardTools;
  std::unique_ptr<audio::PcxQz> pcx;
  // The slots' DJ Studio outputs: a slot set to DirectX in the set-up window
  // starts (restarts) its player control.
  std::unique_ptr<audio::LibDirectX> directx;
  // The editor's record buttons (BtnsRecord) over the recorder window and
  // the boards' record pipe; built with the audio set-up.
  std::unique_ptr<audio::PcxRecord> pcxRecord;
  std::unique_ptr<recorder::RecordButtons> recordButtons;
  std::unique_ptr<audio::SetupWindow> audioSetup;
  void openAudioSetupWindow();
  AudioSetupWindow* audioSetupWindow() const { return audioSetupWindow_; }

 private:
  void wireUnloadSequence();
  // MAJDureeMoyenneArtistes and MAJDureeMoyenneCategories for what the
  // stores, the song form and the search queued.
  void recountAverages();
  bool recounting_ = false;
  QTimer followTimer_;
  void addLogMenu(Desktop& desktop, Prompt& prompt);
  void addImportMenu(Prompt& prompt);
  void startNotifier(Prompt& prompt);
  // A song changed: its notification is queued (versions refreshed when `gate`).
  void songChanged(const std::string& code, bool gate, const std::string& caller);
  Prompt& prompt_;
  NetworkWindow* networkWindow_ = nullptr;
  AudioSetupWindow* audioSetupWindow_ = nullptr;
  void startAudioSetup();
  void startRecordButtons();
  // The recorder window (Outils), the editor's record buttons, the hand-over of a take.
  void addRecorder();
  // TesterRecorderCharge(true): the window loaded and shown; false when it cannot be.
  bool showRecorder();
};

}  // namespace sono::ui
