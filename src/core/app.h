// The program's life: the component check, one instance at a time, the general
// initialisation with its step announcements, the quit procedure and the
// unload sequence. Modules built later plug their steps in through AppHooks;
// a step whose owner does not exist yet is announced and does nothing.
#pragma once
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/errors.h"
#include "core/instance.h"
#include "core/ports.h"
#include "core/program_settings.h"
#include "core/tracelog.h"

namespace sono {

inline constexpr const char* kAppTitle = "Ondavia: Sonoteka";
inline constexpr const char* kProductName = "Vexa_Sonoteka";
inline constexpr const char* kComponentsTitle = "Installation des composants Ondavia";

struct AppHooks {
  // start-up
  std::function<void(const std::string&)> analyseCommandLine;  // AnalyseChaineCommand
  std::function<void()> applyLook, createObjects, loadDetailData, buildCategoryTree;
  std::function<void(const std::string&)> buildMusicTab;
  std::function<void()> buildConversionGrid, openDatabase, setupMainTabs, setupCartridgeControls;
  std::function<void()> initEditor, openPlayerWindow, openMultiSearchWindow;
  std::function<void(int slot, const std::string& songId)> loadCartridge;
  // quit checks
  std::function<int()> pendingNotifications;
  std::function<void()> makeFirstNotificationDue, markQuitRequested;
  std::function<bool()> recordingRunning, conversionRunning;
  std::function<std::vector<std::string>()> unsavedTabs;
  // unload sequence
  std::function<void()> deleteTemporaryFiles, stopPlayers, handleSoundChanged, discardUndo;
  std::function<void()> stopPreListen, closeSoundResources, closeDatabase, resetGrid;
  std::function<std::vector<std::string>()> otherWindows;
  std::function<void(const std::string&)> unloadWindow;
};

// What the main window shows in its controls once started.
// Window states as the positions file stores them.
inline constexpr int kNormal = 0, kMinimised = 1, kMaximised = 2;
inline constexpr int kMaxWindowSide = 100000;  // pixels; anything larger is damage

struct MainWindowModel {
  std::vector<std::string> searchModes;
  std::vector<std::string> stations;
  int currentStation = 0;  // index in `stations`
  std::vector<std::string> endTypes;
  std::vector<std::string> musicTabs = {"Musique"};
  int rowHeightTwips = 450;
  int left = 0, top = 0, width = 0, height = 0, windowState = 0;
  // The screen's free area (without panels), as the desktop reports it.
  int screenLeft = 0, screenTop = 0, screenWidth = 1920, screenHeight = 1080;
  // Brings a stored place and size back onto the screen: a window larger
  // than the screen takes its size, one whose title bar would be out of
  // reach (a monitor since removed) comes back to the screen's edge.
  void keepOnScreen();
  std::string selectedSongId;
};

// Why the program closes: the unload sequence asks its questions only where
// a person is there to answer.
enum class CloseReason { User, NewerInstance, Signal, SessionEnd };

struct AppPorts {
  Prompt& prompt;
  EventLoop& events;
  Clock& clock;
  Scheduler& scheduler;
  Desktop& desktop;
};

class Application {
 public:
  Application(AppPorts ports, ConfigEnvironment env, LogHeaderInfo header);

  // Start-up. Returns false when the program must end at once.
  bool Form_Initialize();
  bool Form_Load(const std::string& commandLine = {});
  bool TesterPrevInstance(int waitMs);
  void InitGeneral();
  void AfficherFrmMsg(bool show, const std::string& caller = {});

  // Closing.
  bool Quitter();          // true when the program was allowed to close (and unloaded)
  bool Form_QueryUnload(); // true when the close may go on
  void Form_Unload();
  // A signal (SIGTERM at shutdown, SIGINT, SIGHUP): the unload sequence at
  // once, without questions; unsaved data are named in the log, not stored.
  void closeOnSignal(const std::string& signalName);
  // The desktop session ends. With a person to answer, unsaved data or
  // pending work go through the quit procedure (false: the session must not
  // end); without, as for a signal.
  bool closeForSessionEnd(bool interactionAllowed);
  CloseReason closeReason() const { return closeReason_; }
  // The unload sequence may ask questions.
  bool attended() const {
    return closeReason_ == CloseReason::User || closeReason_ == CloseReason::NewerInstance;
  }
  // A start-up step announcement (label, events, log line) while starting.
  void announceStep(const std::string& text) { announce(text); }
  // Theme, operating system and settings folder, as the start-up reads them.
  void InitGeneralSysteme();
  // The settings are loaded: the log goes to the current base's log folder.
  void startLogging() { loadSetup(); }
  // Runs the unload sequence when a newer instance asked this one to quit
  // (true then); takes the lock over from an older instance that has quit.
  bool pollInstance();

  AppHooks hooks;
  TraceLogger& log() { return log_; }
  SiteConfig& config() { return config_; }
  ErrorReport& errors() { return errors_; }
  InstanceGuard& instance() { return *instance_; }
  // The program's settings read at start-up (program_settings.h), and their writers.
  const StartupSettings& startup() const { return startup_; }
  ProgramSettings& settings() { return settings_; }
  MainWindowModel& window() { return window_; }

  bool initEnCours() const { return initEnCours_; }
  bool quitterAutorise() const { return quitterAutorise_; }
  bool arretEnCours() const { return arretEnCours_; }
  bool composantsManquants() const { return composantsManquants_; }
  bool ended() const { return ended_; }
  const std::string& commandLine() const { return commandLine_; }
  // The component files, relative to the installation folder.
  static std::vector<std::string> componentFiles();
  const std::string& installFolder() const { return env_.installFolder; }
  // The component installer's address: "Composants"/"Adresse_Installation" of
  // the site file, by default the installation guide.
  std::string componentsAddress() const;

 private:
  void announce(const std::string& text);
  void unloadStep(const std::string& text);
  void loadCompanionTimers();
  void readStartupSettings();
  void loadSetup();
  void closedByNewerInstance();
  // A refusal to start is logged before the settings are loaded: its lines
  // go to the current base's log folder all the same.
  void flushRefusalLog();
  // A refusal to start: one log line and a box that says why.
  void refuseStart(const std::string& text);
  static constexpr int kQuitAttempts = 10;
  static constexpr int kQuitAttemptMs = 500;
  static constexpr uint64_t kLockRetryMs = 1000;
  void closeUnattended(const std::string& why);
  CloseReason closeReason_ = CloseReason::User;
  bool lockPending_ = false;  // started while the older instance still held the lock
  uint64_t lastLockTry_ = 0;

  AppPorts ports_;
  ConfigEnvironment env_;
  TraceLogger log_;
  SiteConfig config_;
  ErrorReport errors_;
  std::unique_ptr<InstanceGuard> instance_;
  StartupSettings startup_;
  ProgramSettings settings_{startup_, config_, log_, ports_.prompt};
  MainWindowModel window_;
  bool initEnCours_ = false;
  bool quitterAutorise_ = false;
  bool arretEnCours_ = false;
  bool composantsManquants_ = false;
  bool ended_ = false;
  std::string commandLine_;
  uint64_t startTick_ = 0;
};

}  // namespace sono
