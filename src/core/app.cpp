#include "core/app.h"

#include <algorithm>
#include <climits>
#include <sys/utsname.h>

#include "core/files.h"
#include "core/ini.h"
#include "core/system_ports.h"
#include "core/text.h"

namespace sono {

namespace {
// Companion files installed with the program (share/sonoteka/Composants/):
// without them the installation is incomplete. The first missing one names
// the version to install.
constexpr const char* kComponent348 = "Composants/Composants_3.48";
constexpr const char* kComponent349 = "Composants/Composants_3.49.000";
// Where the message sends the administrator: a setting of the site file,
// by default the installation guide installed with the program.
constexpr const char* kComponentsSection = "Composants";
constexpr const char* kComponentsAddressKey = "Adresse_Installation";

template <typename F, typename... A>
void call(const F& f, A&&... args) {
  if (f) f(std::forward<A>(args)...);
}
}  // namespace

std::vector<std::string> Application::componentFiles() { return {kComponent348, kComponent349}; }

Application::Application(AppPorts ports, ConfigEnvironment env, LogHeaderInfo header)
    : ports_(ports), env_(env), log_(ports.clock), config_(env, log_, ports.prompt),
      errors_(log_, ports.prompt, ports.clock),
      instance_(std::make_unique<InstanceGuard>(config_.settingsFolder())) {
  if (env_.installFolder.empty() || env_.installGuide.empty()) {
    const ProgramInstallation installation = FindProgramInstallation();
    if (env_.installFolder.empty()) env_.installFolder = installation.dataFolder;
    if (env_.installGuide.empty()) env_.installGuide = installation.guide;
  }
  env_.installFolder = CheckRep(env_.installFolder);
  header.programFolder = config_.programFolder();
  if (header.productName.empty()) header.productName = kProductName;
  if (header.version.empty()) header.version = env.version;
  if (header.computerName.empty()) header.computerName = env.computerName;
  log_.setHeaderInfo(std::move(header));
}

// ------------------------------------------------------------------ start-up

std::string Application::componentsAddress() const {
  return LectureIni(config_.siteFile(), kComponentsSection, kComponentsAddressKey,
                    "file://" + env_.installGuide);
}

bool Application::Form_Initialize() {
  const std::string folder = env_.installFolder;
  std::string message;
  if (!File_Exist(folder + kComponent348))
    message = "Cette mise-à-jour nécessite l'installation de la version 3.48 des composants Ondavia";
  else if (!File_Exist(folder + kComponent349))
    message =
        "Cette mise-à-jour nécessite l'installation de la version 3.49.000 des composants Ondavia";
  if (message.empty()) return true;

  composantsManquants_ = true;
  log_.TraceLog("Err: Start-up refused: components missing in " + folder + ": " + message);
  const std::string address = componentsAddress();
  message += "\n\nVeuillez faire d'abord cette installation et relancer ensuite le programme\n\n";
  message += "Fichier pour faire cette installation:\n\n";
  message += "      " + address + "\n\n";
  ports_.prompt.message(message, Icon::Critical, Buttons::Ok, kComponentsTitle);
  if (ports_.prompt.message("Voulez-vous télécharger le fichier et faire l'installation ?",
                            Icon::Question, Buttons::YesNo, kComponentsTitle) == Answer::Yes)
    ports_.desktop.openUrl(address);
  flushRefusalLog();
  return false;
}

void Application::announce(const std::string& text) {
  if (!initEnCours_) return;
  ports_.prompt.setStepLabel(text);
  ports_.events.processEvents();
  log_.TraceLog("----- " + text + " -----");
}

void Application::AfficherFrmMsg(bool show, const std::string&) {
  ports_.prompt.showStepWindow(show);
}

void Application::refuseStart(const std::string& text) {
  log_.TraceLog("Err: Start-up refused: " + ReplaceAll(text, "\n", " "));
  ports_.prompt.message(text, Icon::Critical, Buttons::Ok, kAppTitle);
  flushRefusalLog();
}

bool Application::TesterPrevInstance(int waitMs) {
  const std::string folder = config_.settingsFolder();
  std::string error, failed;
  auto unusableFolder = [&] {
    refuseStart("Sonoteka ne peut pas démarrer: le dossier des réglages\n" + folder +
                "\nn'est pas accessible en écriture (" + error +
                ").\n\nVérifiez ce dossier et ses droits, puis relancez le programme.");
    return false;
  };
  if (!CreateFolders(folder, &failed)) {
    error = "impossible de créer " + failed;
    return unusableFolder();
  }
  using Acquire = InstanceGuard::Acquire;
  Acquire got = instance_->acquire(&error);
  if (got == Acquire::Taken) return true;
  if (got == Acquire::Failed) return unusableFolder();
  const std::string older = "Sonoteka (pid " + std::to_string(instance_->holderPid()) + ")";
  log_.TraceLog("Instance: another " + older + " runs");
  if (waitMs >= 1) {
    ports_.clock.sleepMs(waitMs);
    if ((got = instance_->acquire(&error)) == Acquire::Taken) return true;
    if (got == Acquire::Failed) return unusableFolder();
  }
  // The older instance is asked to quit; it runs its unload sequence and lets
  // the lock go. Ten tries, half a second apart.
  log_.TraceLog("Instance: asking the running " + older + " to quit");
  bool asked = false;
  for (int attempt = 0; attempt < kQuitAttempts; ++attempt) {
    asked = instance_->askOlderToQuit() || asked;
    ports_.clock.sleepMs(kQuitAttemptMs);
    if ((got = instance_->acquire(&error)) == Acquire::Taken) return true;
    if (got == Acquire::Failed) return unusableFolder();
  }
  if (asked) {
    // Stopped on a box or frozen: it has the request and quits when it runs
    // again. This one carries on and takes the lock when it is let go.
    log_.TraceLog("Instance: the running " + older + " has not quit yet: starting all the same");
    lockPending_ = true;
    return true;
  }
  refuseStart("Une autre session de " + older +
              " utilise ce dossier de réglages et ne répond pas à la demande de fermeture.\n\n"
              "Fermez-la, puis relancez le programme.");
  return false;
}

bool Application::Form_Load(const std::string& commandLine) {
  if (arretEnCours_ || composantsManquants_ || !TesterPrevInstance(5000)) {
    quitterAutorise_ = true;  // the end routine: nothing must refuse the unload
    return false;
  }
  startTick_ = ports_.clock.tickMs();
  commandLine_ = Trim(commandLine);
  if (!commandLine_.empty()) call(hooks.analyseCommandLine, commandLine_);
  call(hooks.applyLook);
  InitGeneral();
  if (!config_.siteUsable()) {  // reported by the configuration
    flushRefusalLog();
    quitterAutorise_ = true;
    return false;
  }

  announce("Sonoteka: Init: Create Object");
  call(hooks.createObjects);

  announce("Sonoteka: Init: Display");
  config_.PositionFeuille("Frm_Main", "", window_.screenHeight, window_.left, window_.top);
  const std::string positions = config_.positionsFile();
  // 0 (absent, damaged or not positive) keeps the size the window has.
  const int width = ParseIntClamped(LectureIni(positions, "FrmPos", "Frm_Main_Width", ""), 0, kMaxWindowSide, 0);
  const int height = ParseIntClamped(LectureIni(positions, "FrmPos", "Frm_Main_Height", ""), 0, kMaxWindowSide, 0);
  if (width > 0 && height > 0) {
    window_.width = width;
    window_.height = height;
  }
  window_.windowState = ParseIntClamped(LectureIni(positions, "FrmPos", "Frm_Main_WindowState", ""),
                                        0, kMaximised, window_.windowState);
  window_.keepOnScreen();

  announce("Sonoteka: Init: Detail Data");
  call(hooks.loadDetailData);
  announce("Sonoteka: Init: TV: Catégories");
  call(hooks.buildCategoryTree);

  announce("Sonoteka: Init: Tableur: Mus: Start");
  for (const auto& tab : window_.musicTabs) {
    announce("Sonoteka: Init: Tableur: Mus: " + tab + ": Start");
    call(hooks.buildMusicTab, tab);
  }
  announce("Sonoteka: Init: Tableur: Mus: End");
  call(hooks.buildConversionGrid);

  if (startup_.cartridgeActive)
    for (int slot = 0; slot < kCartridgeSlots; ++slot)
      if (startup_.cartridgeSongs[slot] != "*") call(hooks.loadCartridge, slot, startup_.cartridgeSongs[slot]);

  announce("Sonoteka: Init: Fin");
  AfficherFrmMsg(false, "Frm_Main:Form_Load");

  if (startup_.playerWindow) call(hooks.openPlayerWindow);
  if (startup_.multiSearchWindow) call(hooks.openMultiSearchWindow);

  ports_.events.processEvents();
  log_.TraceLogEncadre(-1, -1, -1,
                       "----- Init: Duration: " +
                           std::to_string(ports_.clock.tickMs() - startTick_) + " ms",
                       '=');
  initEnCours_ = false;
  return true;
}

void MainWindowModel::keepOnScreen() {
  // Enough of the title bar to grab the window with the mouse.
  constexpr int kGrip = 80;
  if (width > screenWidth) width = screenWidth;
  if (height > screenHeight) height = screenHeight;
  const int right = screenLeft + screenWidth, bottom = screenTop + screenHeight;
  if (left > right - kGrip || left + std::max(width, kGrip) < screenLeft + kGrip) left = screenLeft;
  if (top < screenTop || top > bottom - kGrip) top = screenTop;
}

void Application::InitGeneralSysteme() {
  std::string theme = "1";
  config_.registry().Reg_GetValue("HKEY_CURRENT_USER",
                                  "Software\\Microsoft\\Windows\\CurrentVersion\\ThemeManager",
                                  "ThemeActive", theme);
  const bool classic = Trim(theme) == "0";
  window_.rowHeightTwips = classic ? 450 : 550;
  LogHeaderInfo header = log_.headerInfo();
  header.activeTheme = classic ? "WinClassic" : "WinXP";
  if (header.operatingSystem.empty()) {
    utsname u{};
    if (::uname(&u) == 0)
      header.operatingSystem = std::string(u.sysname) + " " + u.release + " " + u.machine;
  }
  log_.setHeaderInfo(std::move(header));
  config_.NomDossierSettings();
}

void Application::loadCompanionTimers() {
  struct TimerSpec { const char* name; int interval; bool enabled; };
  static constexpr TimerSpec kTimers[] = {
      {"TimerPtx", 100, true},    {"TimerUDP", 1000, true},   {"TimerConvert", 500, true},
      {"Timer30s", 1000, true},   {"TimerFormat", 4000, false}, {"TimerFocus", 200, false},
      {"TimerMain", 100, true},   {"TimerFlash", 100, false}};
  for (const auto& t : kTimers) ports_.scheduler.add(t.name, t.interval, t.enabled, {});
  for (int i = 0; i < kCartridgeSlots; ++i)
    ports_.scheduler.add("TimerCart" + std::to_string(i), 200, false, {});
}

void Application::loadSetup() {
  const BaseInfo& base = config_.current();
  log_.setFolders(base.logFolder, base.dataFolder);
  LogHeaderInfo header = log_.headerInfo();
  header.idRadio = LectureIni(config_.siteFile(), "Site", "IdRadio", "0");
  header.firstStationName = base.stations.empty() ? "" : base.stations.front().name;
  log_.setHeaderInfo(std::move(header));
  log_.setSetupLoaded(true);
}

void Application::readStartupSettings() { settings_.Load(); }

void Application::InitGeneral() {
  log_.TraceLog("FrmMain: Init General: Start");
  initEnCours_ = true;
  call(hooks.applyLook);
  AfficherFrmMsg(true, "Frm_Main:InitGeneral");

  announce("Sonoteka: Init: General");
  loadCompanionTimers();

  announce("Sonoteka: Init: InitGeneralSysteme");
  InitGeneralSysteme();
  announce("Init: InitGeneralPath");
  // A site file that cannot be used was reported there; Form_Load stops.
  if (!config_.InitGeneralPath(true)) return;
  announce("Init: InitGeneralSite");
  if (!config_.InitGeneralSite()) return;

  announce("Sonoteka: Init: Setup");
  loadSetup();

  announce("Sonoteka: Frm_Main: Loading");
  window_.searchModes = {"Libellé", "Code", "Commence", "Contient"};
  window_.stations.clear();
  for (const auto& st : config_.current().stations) window_.stations.push_back(st.name);
  const std::string file = config_.settingsFile();
  // Numbers past int's range are taken at its bounds (out of range below),
  // never wrapped onto a valid station.
  int station = ParseIntClamped(LectureIni(file, "Comportement", "LastStation", "0"), INT_MIN, INT_MAX, 0);
  station = ParseIntClamped(LectureIni(file, "Stations", "Last", ""), INT_MIN, INT_MAX, station);
  const int count = static_cast<int>(window_.stations.size());
  window_.currentStation = station >= 0 && station < count ? station : 0;
  startup_.lastStation = window_.currentStation;

  log_.TraceLog("PbTMorceauSelectionne.SongId set to: " + window_.selectedSongId);
  announce("Sonoteka: Pervasive: Open");
  call(hooks.openDatabase);
  announce("Sonoteka: Init: Bases");
  call(hooks.setupMainTabs);
  log_.TraceLog("FrmMain: Init General: End");

  call(hooks.setupCartridgeControls);
  readStartupSettings();
  window_.endTypes = {"Non définie", "Fade Out", "Annoncée", "Brutale"};
  call(hooks.initEditor);
  log_.TraceLogEncadre(-1, -1, -1,
                       std::string(kAppTitle) + " - " + env_.version + " - IdRadio: " +
                           log_.headerInfo().idRadio,
                       '=');
}

// ------------------------------------------------------------------ closing

bool Application::Quitter() {
  log_.Flush();
  Prompt& prompt = ports_.prompt;
  if (hooks.pendingNotifications && hooks.pendingNotifications() > 0) {
    call(hooks.makeFirstNotificationDue);
    ports_.scheduler.setInterval("TimerUDP", 100);
    for (int waited = 0; waited < 150; waited += 10) {
      ports_.clock.sleepMs(10);
      ports_.events.processEvents();
    }
    const int left = hooks.pendingNotifications();
    if (left > 0) {
      prompt.message("Vous ne pouvez-pas quitter l'application car il reste " +
                         std::to_string(left) +
                         " traitement(s) pour le(s)quel(s) il faut envoyer l'information au "
                         "Player ou au Diffuseur\n\nPatientez quelques secondes encore.",
                     Icon::Exclamation, Buttons::Ok, kAppTitle);
      call(hooks.markQuitRequested);
      return false;
    }
  }
  if (hooks.recordingRunning && hooks.recordingRunning()) {
    prompt.message("Vous ne pouvez-pas quitter l'application tant que vous êtes en enregistrement.",
                   Icon::Exclamation, Buttons::Ok, kAppTitle);
    return false;
  }
  if (hooks.conversionRunning && hooks.conversionRunning()) {
    prompt.message("Impossible de quitter maintenant, conversion en cours.", Icon::Information,
                   Buttons::Ok, kAppTitle);
    return false;
  }
  const std::vector<std::string> unsaved =
      hooks.unsavedTabs ? hooks.unsavedTabs() : std::vector<std::string>{};
  Answer answer;
  if (!unsaved.empty()) {
    std::string text = "Données modifiées et non enregistrées:\n";
    for (const auto& tab : unsaved) text += "  - " + tab + "\n";
    text += "\nVoulez-vous quitter le programme quand même ?";
    answer = prompt.message(text, Icon::Question, Buttons::YesNoCancel, kAppTitle);
  } else {
    answer = prompt.message("Voulez-vous quitter le programme ?", Icon::Question, Buttons::YesNo,
                            kAppTitle);
  }
  if (answer != Answer::Yes) return false;
  log_.TraceLogEncadre(-1, -1, -1, "Application closed by human action (Menu action)", '*');
  quitterAutorise_ = true;
  Form_Unload();
  return true;
}

bool Application::Form_QueryUnload() {
  if (!quitterAutorise_) Quitter();
  return quitterAutorise_;
}

void Application::unloadStep(const std::string& text) {
  ports_.prompt.setStepLabel(text);
  ports_.events.processEvents();
}

void Application::Form_Unload() {
  if (ended_) return;
  ports_.prompt.showStepWindow(true);
  unloadStep("Sonoteka: Fermeture en cours: Start");
  // The lines logged since the quit procedure wrote the buffer (its own
  // closing line among them) go out before logging stops.
  log_.Flush();
  arretEnCours_ = true;
  log_.setClosing(true);

  unloadStep("Sonoteka: Fermeture en cours: Delete temporary files");
  call(hooks.deleteTemporaryFiles);
  unloadStep("Sonoteka: Fermeture en cours: Stop Players");
  call(hooks.stopPlayers);
  unloadStep("Sonoteka: Fermeture en cours: Sound changed");
  call(hooks.handleSoundChanged);
  unloadStep("Sonoteka: Fermeture en cours: RAZ Undo");
  call(hooks.discardUndo);

  unloadStep("Sonoteka: Fermeture en cours: Settings");
  EcritureIni(config_.settingsFile(), "Stations", "Last", std::to_string(window_.currentStation));
  config_.PositionFeuilleSauvegarde("Frm_Main", "", window_.left, window_.top);
  const std::string positions = config_.positionsFile();
  EcritureIni(positions, "FrmPos", "Frm_Main_Width", std::to_string(window_.width));
  EcritureIni(positions, "FrmPos", "Frm_Main_Height", std::to_string(window_.height));
  EcritureIni(positions, "FrmPos", "Frm_Main_WindowState", std::to_string(window_.windowState));

  unloadStep("Sonoteka: Fermeture en cours: Stop PreEcoute");
  call(hooks.stopPreListen);
  unloadStep("Sonoteka: Fermeture en cours: Close Sound Ressource");
  call(hooks.closeSoundResources);
  unloadStep("Sonoteka: Fermeture en cours: Close Setup");
  log_.setSetupLoaded(false);
  unloadStep("Sonoteka: Fermeture en cours: Close Database");
  call(hooks.closeDatabase);
  if (hooks.otherWindows) {
    for (const auto& name : hooks.otherWindows()) {
      unloadStep("Sonoteka: Fermeture en cours: Form: " + name);
      call(hooks.unloadWindow, name);
    }
  }
  unloadStep("Sonoteka: Fermeture en cours: Close All");
  call(hooks.resetGrid);
  instance_->release();
  ended_ = true;
}

void Application::flushRefusalLog() {
  if (log_.setupLoaded()) {
    log_.Flush();
    return;
  }
  // A site file that cannot be used names no log folder: the program's own
  // history folder keeps the line then.
  std::string folder = config_.logFolderFromSite();
  if (folder.empty()) folder = config_.historyFolder();
  if (!CreateFolders(folder)) return;
  log_.setFolders(folder, config_.programFolder());
  log_.setSetupLoaded(true);
  log_.Flush();
}

void Application::closeUnattended(const std::string& why) {
  std::string line = "Application closed by " + why;
  if (hooks.unsavedTabs) {
    std::string unsaved;
    for (const auto& tab : hooks.unsavedTabs()) unsaved += (unsaved.empty() ? "" : ", ") + tab;
    if (!unsaved.empty()) line += " |Not stored: " + unsaved;
  }
  log_.TraceLogEncadre(-1, -1, -1, line, '*');
  log_.Flush();
  quitterAutorise_ = true;
  Form_Unload();
}

void Application::closeOnSignal(const std::string& signalName) {
  if (ended_ || arretEnCours_) return;
  closeReason_ = CloseReason::Signal;
  closeUnattended("signal " + signalName);
}

bool Application::closeForSessionEnd(bool interactionAllowed) {
  if (ended_ || arretEnCours_) return true;
  closeReason_ = CloseReason::SessionEnd;
  if (!interactionAllowed) {
    closeUnattended("the end of the session");
    return true;
  }
  const bool work = (hooks.pendingNotifications && hooks.pendingNotifications() > 0) ||
                    (hooks.recordingRunning && hooks.recordingRunning()) ||
                    (hooks.conversionRunning && hooks.conversionRunning()) ||
                    (hooks.unsavedTabs && !hooks.unsavedTabs().empty());
  if (!work) {
    closeUnattended("the end of the session");
    return true;
  }
  // Someone is there: the quit procedure asks, and its questions are answered.
  closeReason_ = CloseReason::User;
  return Quitter();
}

void Application::closedByNewerInstance() {
  closeReason_ = CloseReason::NewerInstance;
  log_.TraceLogEncadre(-1, -1, -1, "Application closed by a new instance (Quit message)", '*');
  log_.Flush();
  quitterAutorise_ = true;
  Form_Unload();
}

bool Application::pollInstance() {
  if (ended_ || arretEnCours_) return false;
  if (lockPending_) {
    // Started while an older instance had not quit yet: the lock is taken
    // over once it is let go (checked once a second).
    const uint64_t now = ports_.clock.tickMs();
    if (now - lastLockTry_ >= kLockRetryMs) {
      lastLockTry_ = now;
      if (instance_->tryAcquire()) {
        lockPending_ = false;
        log_.TraceLog("Instance: the older Sonoteka has quit: this one holds the lock");
      }
    }
    return false;
  }
  if (!instance_->held() || !instance_->quitRequested()) return false;
  closedByNewerInstance();
  return true;
}

}  // namespace sono
