#include "ui/workstation.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QScreen>
#include <QThread>

#include "convert/save_as.h"
#include "audio/setup/init_sound.h"
#include "convert/take_purge.h"
#include "core/ini.h"
#include "core/text.h"
#include "data/songs.h"
#include "editor/song_selection.h"
#include "editor/sound_leftovers.h"
#include "ui/database_menu.h"
#include "ui/mass_normalisation_menu.h"
#include "ui/normalisation_dialog.h"
#include "ui/qt_ports.h"
#include "ui/audition_bar.h"
#include "ui/sound_edit_menu.h"
#include <cstdlib>

namespace sono::ui {

Workstation::Workstation(Prompt& prompt, EventLoop& events, Clock& clock, Desktop& desktop,
                         const ConfigEnvironment& environment, LogHeaderInfo header,
                         const audio::EngineOptions& audio)
    : scheduler(clock),
      app(AppPorts{prompt, events, clock, scheduler, desktop}, environment, std::move(header)),
      layer(app.config(), app.log(), prompt, clock),
      lib({layer, app.config(), app.log(), prompt, events, clock}),
      stats(lib),
      tab(lib, stats),
      deck(app.log(), clock, audio),
      window(app, lib, tab),
      editorPanel(new EditorPanel(lib, stats, app.log(), app.config(), &deck)),
      songForm(new SongFormPanel(lib, stats)),
      carts(lib, app.settings()),
      menus(window, app, tab, *editorPanel, *songForm, carts),
      imports({app.log(), clock, events, prompt}, lib, stats, app.config(), editorPanel->editor(),
              environment.exePath),
      conversions(new ConversionPanel),
      recorder({prompt, app.log(), clock}, app.config()),
      localCopies(new LocalCopyMenu(window, *editorPanel, prompt, clock, app.log(), app.config())),
      steps(new StepMenu(window, *editorPanel, lib)),
      prompt_(prompt) {
  window.addBottomTab(editorPanel, QString::fromUtf8("Pointeurs"));
  window.addBottomTab(songForm, QString::fromUtf8("Fiche morceau"));
  songForm->onSaved = [this](const std::string& code) {
    window.songSaved(code);
    songChanged(code, true, "FrmDetailDonnees:Sauvegarder");
  };
  window.onSearched = [this] { songForm->invalidateChoices(); };
  window.onPlayStopKey = [this] { editorPanel->PlayStop(); };
  editorPanel->onMarksChanged = [this](const std::string& marks) { window.showMarks(marks); };
  // The range list takes the steps, or the selection's stretches outside them.
  editorPanel->auditionBar()->stepRanges = [this](bool outside) {
    return outside ? steps->steps().SelectionOutsideSteps() : steps->steps().StepRanges();
  };
  window.onSongSelected = [this](const std::string& code) {
    // A local sound that may not be left keeps the editor and the form on it.
    if (auto song = editor::SelectionForSong(lib, tab.station, code)) {
      steps->leave();  // the steps of the sound left are offered for storing
      if (!localCopies->load(*song) && localCopies->copies().SonRecopieEnLocal) return;
      steps->loaded();
    }
    songForm->load(tab.station, code);
  };
  app.hooks.unsavedTabs = [this] {
    std::vector<std::string> unsaved;
    if (editorPanel->editor().anyMarked()) unsaved.push_back("Pointeurs");
    if (songForm->modified()) unsaved.push_back("Fiche morceau");
    return unsaved;
  };
  wireUnloadSequence();
  addLogMenu(desktop, prompt);
  addImportMenu(prompt);
  QAction* network = window.menu(MenuId::Tools)->addAction(QString::fromUtf8("&Adresses réseau…"));
  network->setObjectName("MnuSetupReseau");
  QObject::connect(network, &QAction::triggered, &window, [this] { openNetworkWindow(); });
  QAction* audioSetupAction = window.menu(MenuId::Tools)->addAction(QString::fromUtf8("Réglages a&udio…"));
  audioSetupAction->setObjectName("MnuSetup");
  QObject::connect(audioSetupAction, &QAction::triggered, &window, [this] { openAudioSetupWindow(); });
  addRecorder();
  AddNormalisationMenu(*this, prompt);
  AddMassNormalisationMenu(*this, prompt, events, clock, environment.exePath);
  layer.announce = [this](const std::string& text) { app.announceStep(text); };
  // "Abort" in a database error report ends the program after its unload sequence.
  layer.onAbort = [this] {
    app.Form_Unload();
    std::exit(1);
  };
  const auto stations = [this] { return app.config().current().stationCount; };
  app.hooks.openDatabase = [this, stations] {
    layer.PervasiveOuvertureFichiers(app.config().currentBase(), 1, stations());
  };
  app.hooks.closeDatabase = [this, stations] {
    recountAverages();  // nothing queued is lost at exit
    layer.PervasiveFermetureFichiers(app.config().currentBase(), 1, stations());
  };
  app.hooks.createObjects = [this] { window.fillStations(); };
  AddDatabaseEntries(window, tools, prompt);
  app.hooks.buildCategoryTree = [this] { window.InitGeneralTVCategories(); };
}

void Workstation::wireUnloadSequence() {
  editor::PointerEditor& editor = editorPanel->editor();
  app.hooks.deleteTemporaryFiles = [&editor] { editor.DeleteTemporaryFiles(); };
  app.hooks.stopPlayers = [this] {
    if (notifier) notifier->closing = true;  // Closing: the sender stops
    deck.Stop();
  };
  // Unsaved pointers and song-form edits are offered for saving where a
  // person is there to answer; after a signal they were named in the log.
  app.hooks.handleSoundChanged = [this, &editor] {
    if (!app.attended()) return;
    editor.OfferToStoreChanges("Frm_Main:Form_Unload", Buttons::YesNo);
    songForm->offerToSave();
  };
  app.hooks.discardUndo = [&editor] {
    if (!editor.sound.soundFile.empty()) editor.RAZUndoFichierSonQZ(editor.sound.soundFile);
  };
  app.hooks.closeSoundResources = [this] {
    deck.Close();
    if (pcx) pcx->CloseSoundRessource();
  };
}

void Workstation::addLogMenu(Desktop& desktop, Prompt& prompt) {
  AddSoundEditMenu(window, *editorPanel, [this] { return app.config().settingsFile(); });
  QMenu* tools = window.menu(MenuId::Tools);
  QAction* day = tools->addAction(QString::fromUtf8("&Journal du jour…"));
  day->setObjectName("MnuLectureLog");
  QObject::connect(day, &QAction::triggered, &window,
                   [this, &desktop, &prompt] { app.log().LectureLog("", prompt, desktop); });
  QAction* deletions = tools->addAction(QString::fromUtf8("Journal des &suppressions…"));
  deletions->setObjectName("MnuLectureLogSuppressions");
  QObject::connect(deletions, &QAction::triggered, &window,
                   [this, &desktop, &prompt] { app.log().LectureLog("Delete_", prompt, desktop); });
}

void Workstation::addImportMenu(Prompt& prompt) {
  window.tabs()->addTab(conversions, QString::fromUtf8("Conversions"));
  imports.queue().onChanged = [this] { conversions->refresh(imports.queue()); };
  conversions->onSendUdpSwitched = [this](int row, bool on) {
    if (!imports.queue().setSendUdp(static_cast<size_t>(row), on)) conversions->refresh(imports.queue());
  };
  imports.onEditorReloaded = [this] { editorPanel->refresh(); };
  imports.onSoundReplaced = [this](const std::string& code) { songChanged(code, true, "Lib_Convert:SoundPlaced"); };
  imports.onFileTags = [this](int station, const data::SongForm& offered) {
    songForm->showOffered(station, offered);
  };
  // The audition lets go of a sound about to be replaced.
  imports.driver().onTargetInUse = [this](const std::string&) {
    deck.Stop();
    deck.Close();
  };
  editorPanel->onFileDropped = [this](const std::string& file) { imports.ImportFile(file); };
  app.hooks.conversionRunning = [this] { return imports.conversionPending(); };
  QMenu* tools = window.menu(MenuId::Tools);
  QAction* import = tools->addAction(QString::fromUtf8("&Importer un son…"));
  import->setObjectName("MnuImporterSon");
  QObject::connect(import, &QAction::triggered, &window, [this, &prompt] {
    if (auto file = prompt.pickFile({}, convert::FormatsSonsAutorisesFilter(), {})) imports.ImportFile(*file);
  });
  QAction* purge = tools->addAction(QString::fromUtf8("Purger les sons &temporaires"));
  purge->setObjectName("MnuPurgerSonsTemporaires");
  QObject::connect(purge, &QAction::triggered, &window, [this] { imports.PurgeTemporarySounds(tab.station, true); });
  QAction* saveAs = tools->addAction(QString::fromUtf8("Enregistrer le son s&ous…"));
  saveAs->setObjectName("MnuSaveFileAs");
  saveAs->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  QObject::connect(saveAs, &QAction::triggered, &window, [this, &prompt] {
    const std::string sound = editorPanel->editor().sound.soundFile;
    const PathParts parts = EclateRepFicExt(sound);
    if (auto file = prompt.pickSaveFile(parts.folder, convert::SaveAsFilter(), parts.name + ".mp3"))
      imports.SaveSoundAs(*file);
  });
  QAction* reconvert = tools->addAction(QString::fromUtf8("Re&convertir le son"));
  reconvert->setObjectName("MnuReconvertir");
  reconvert->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
  QObject::connect(reconvert, &QAction::triggered, &window, [this] { imports.ReconvertSound(); });
  QAction* exportSound = tools->addAction(QString::fromUtf8("E&xporter le son…"));
  exportSound->setObjectName("MnuExporterSon");
  QObject::connect(exportSound, &QAction::triggered, &window, [this, &prompt] {
    const std::vector<std::string> formats(convert::kExportFormatLabels.begin(), convert::kExportFormatLabels.end());
    const std::vector<std::string> names(convert::kExportPatternLabels.begin(), convert::kExportPatternLabels.end());
    const auto format = prompt.chooseItem("Choisissez le format du son", formats, 0);
    if (!format) return;
    const auto pattern =
        prompt.chooseItem("Choisissez le format du nom de fichier", names, static_cast<int>(imports.StoredPattern()));
    if (!pattern) return;
    const auto folder = prompt.pickFolder({}, "Exporter sous...");
    if (!folder) return;
    imports.ExportSound(*folder, static_cast<convert::ExportNamePattern>(*pattern),
                        static_cast<convert::ExportFormat>(*format));
  });
}

void Workstation::startNotifier(Prompt& prompt) {
  const SiteConfig& config = app.config();
  notifier = std::make_unique<notify::Notifier>(notify::NotifierPorts{lib.clock(), scheduler, app.log()},
                                                config.settingsFile(), config.settingsFolder(),
                                                app.log().headerInfo().computerName);
  notifier->setLibrary(&lib);
  notifier->accesVpn = data::VpnWorkstation(config);
  notifier->InitSettingsUDP();
  notifier->attach();
  networkSetup = std::make_unique<notify::NetworkSetup>(*notifier, prompt);
  pendingNotifications = new PendingNotificationsDock(*notifier, &window);
  window.addDockWidget(Qt::BottomDockWidgetArea, pendingNotifications);
  notifier->onQueueChanged = [this] { pendingNotifications->refresh(); };
  pendingNotifications->refresh();  // what a previous run left
  editor::PointerEditor& editor = editorPanel->editor();
  editor.onSoundChangedNotice = [this](int, const std::string& code, const std::string& caller) {
    songChanged(code, true, caller);
  };
  editor.onPointersStored = [this](const std::string& code, const std::string& caller) {
    songChanged(code, false, caller);
  };
  // The local sound's change is told once it is back on the server.
  notifier->localCopySongCode = [this] { return localCopies->copies().heldSongCode(); };
  // The other senders of this workstation (`sonoteka-cli notify run`) hold it back too.
  localCopies->copies().onHeldChanged = [this](const std::string& code) {
    std::string error;
    if (!notifier->HoldSong(code, &error)) app.log().TraceLog("Err: UDP: hold marker not written |" + error);
  };
  localCopies->copies().onHeldChanged(localCopies->copies().heldSongCode());
  app.hooks.pendingNotifications = [this] { return notifier->pendingCount(); };
  app.hooks.makeFirstNotificationDue = [this] { notifier->MakeFirstDue(); };
  app.hooks.markQuitRequested = [this] { notifier->MarkQuitRequested(); };
  // Timer30s: the base read now and then over a VPN link.
  keepAlive = std::make_unique<notify::VpnKeepAlive>(lib.clock(), scheduler, app.log(), [this] {
    return notify::KeepAliveRead(lib, std::max(1, tab.station));
  });
  keepAlive->accesVpn = notifier->accesVpn;
  // Its daily work: the takes folder's takes older than 45 days.
  keepAlive->daily = [this](const std::string&) {
    convert::PurgeOldTakes(app.log(), recorder::LoadRecorderSettings(app.config()).folder, lib.clock().now());
  };
  keepAlive->attach();
}

void Workstation::songChanged(const std::string& code, bool gate, const std::string& caller) {
  if (!notifier) return;
  const std::string stored = Calibre(Utf8ToCp1252(code), 8);
  notifier->UDPAddSonEtMAJTimingSurVersion(stored, stored, gate ? stored : std::string(), caller);
}

void Workstation::openNetworkWindow() {
  if (!networkSetup) return;
  NetworkWindow dialog(*networkSetup, &window);
  networkWindow_ = &dialog;
  dialog.exec();
  networkWindow_ = nullptr;
}

void Workstation::startAudioSetup() {
  const std::string file = app.config().settingsFile();
  boardTools = std::make_unique<audio::BoardTools>(deck.engine());
  pcx = std::make_unique<audio::PcxQz>(app.log(), prompt_, lib.clock(), file, boardTools.get());
  audioSetup = std::make_unique<audio::SetupWindow>(app.log(), prompt_, pcx.get());
  directx = std::make_unique<audio::LibDirectX>(app.log(), prompt_, lib.clock(), scheduler, deck.engine(), *pcx, file);
  audioSetup->setDirectX(directx.get());
  audioSetup->Open(file, audio::DevicesOfEngine(deck.engine()));
  audioSetup->initSoundFile = audio::InitSoundFile(app.config().programFolder());
  audioSetup->InitGeneralPCXTools();
  startRecordButtons();
}

void Workstation::startRecordButtons() {
  pcxRecord = std::make_unique<audio::PcxRecord>(*pcx);
  recordButtons = std::make_unique<recorder::RecordButtons>(recorder::RecorderPorts{prompt_, app.log(), lib.clock()},
                                                            *pcx, *pcxRecord, recorder);
  editor::PointerEditor& ed = editorPanel->editor();
  recordButtons->target = [&ed] { return recorder::RecordTarget{Trim(ed.sound.code), ed.sound.soundFile}; };
  // Read at each click, as the set-up window saved it.
  recordButtons->inputNature = [this] {
    return static_cast<int>(
        ParseInt(LectureIni(app.config().settingsFile(), audio::kGeneralIn, audio::NatureKey(0), "0")).value_or(0));
  };
  recordButtons->loadRecorder = [this] { return showRecorder(); };
  recordButtons->stopTape = [this] { deck.Stop(); };
  recordButtons->resetPointers = [&ed] { ed.ptx.RAZValeursPtx(); };
  recordButtons->RAZPtx = [this, &ed] {
    if (!ed.RAZPtx()) prompt_.message(ed.lastMessage, Icon::Critical, Buttons::Ok);
    editorPanel->refresh();
  };
  recordButtons->endType = [&ed] { return data::DetermineTypeDeFin(ed.ptx.endType); };
  recordButtons->closeTake = [this](const recorder::RecordTarget& t, char endType) {
    // The audition lets go of the old sound before the editor reloads.
    deck.Stop();
    deck.Close();
    return imports.RecordedSound(t.code, endType);
  };
  pcxRecord->soundChanged = [&ed] { ed.SoundEdited(true); };
  pcxRecord->currentDurationMs = [&ed] { return static_cast<int64_t>(ed.sound.checkedDuration); };
  // A board take that ended by itself is closed; the buttons follow.
  scheduler.add("TimerRecordBoard", 100, true, [this] {
    if (!recordButtons->recording()) return;
    recordButtons->Poll();
    if (!recordButtons->recording()) recordBar->refresh();
  });
}

void Workstation::openAudioSetupWindow() {
  if (!audioSetup) return;
  // Read again: the command line may have changed the file meanwhile.
  audioSetup->Open(app.config().settingsFile(), audio::DevicesOfEngine(deck.engine()));
  AudioSetupWindow dialog(*audioSetup, deck, &window);
  audioSetupWindow_ = &dialog;
  dialog.exec();
  audioSetupWindow_ = nullptr;
}

void Workstation::addRecorder() {
  auto target = [this] {
    const editor::CurrentSound& s = editorPanel->editor().sound;
    return recorder::RecordTarget{Trim(s.code), s.soundFile};
  };
  recordBar = new RecordBar(recorder, [this] { return recordButtons.get(); }, [this] { return showRecorder(); }, target,
                            editorPanel);
  editorPanel->addCaptionWidget(recordBar);
  recorder.handOver = [this](const recorder::RecordTarget& t, const std::string& take, bool append) {
    // The audition lets go of the sound about to be replaced.
    deck.Stop();
    deck.Close();
    return imports.ImportTake(t.code, take, append);
  };
  recorder.onChanged = [this] {
    recordBar->refresh();
    if (recorderWindow) recorderWindow->refresh();
  };
  QMenu* tools = window.menu(MenuId::Tools);
  QAction* open = tools->addAction(QString::fromUtf8("Enre&gistreur…"));
  open->setObjectName("MnuRecorder");
  QObject::connect(open, &QAction::triggered, &window, [this] { showRecorder(); });
  QAction* player = tools->addAction(QString::fromUtf8("&Pré-écoute d'un fichier…"));
  player->setObjectName("MnuPlayer");
  player->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
  QObject::connect(player, &QAction::triggered, &window, [this] { showPlayer(); });
  // The program does not close while a take runs (the quit check says so).
  app.hooks.recordingRunning = [this] { return recorder.recording() || (pcxRecord && pcxRecord->recording); };
}

bool Workstation::showRecorder() {
  if (!recorder.TesterRecorderCharge(true, "Frm_Main:BtnsRecord")) return false;
  if (!recorderWindow) {
    auto target = [this] {
      const editor::CurrentSound& s = editorPanel->editor().sound;
      return recorder::RecordTarget{Trim(s.code), s.soundFile};
    };
    recorderWindow = new RecorderWindow(recorder, app.config(), target, &window);
    // TimerRecorderStatus: the take's events, display and hand-over.
    scheduler.add("TimerRecorderStatus", 100, true, [this] { recorder.TimerRecorderStatus(); });
  }
  recorderWindow->show();
  recorderWindow->refresh();
  return true;
}

void Workstation::showPlayer() {
  if (!playerWindow)
    playerWindow = new PlayerWindow(deck, [this] { return app.config().settingsFile(); }, &window);
  playerWindow->show();
  playerWindow->raise();
  playerWindow->refresh();
}

void Workstation::closeOnSignal(const std::string& signalName) {
  if (app.ended()) return;
  deck.Stop();
  app.closeOnSignal(signalName);
  window.close();
}

bool Workstation::endSession(bool interactionAllowed) {
  if (app.ended()) return true;
  if (!app.closeForSessionEnd(interactionAllowed)) return false;
  window.close();
  return true;
}

bool Workstation::start(const std::string& commandLine) {
  // The stored place is checked against the real screen.
  MainWindowModel& model = app.window();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect free = screen->availableGeometry();
    model.screenLeft = free.x();
    model.screenTop = free.y();
    model.screenWidth = free.width();
    model.screenHeight = free.height();
  }
  if (!app.Form_Initialize() || !app.Form_Load(commandLine)) return false;
  localCopies->reloadSettings();
  // What a killed edit or conversion left beside the sounds.
  for (const std::string& path : editor::RemoveSoundLeftovers(editor::SoundFoldersOf(app.config().current())))
    app.log().TraceLog("Temporary file removed: " + path);
  // The audition's follow-up (play head, meter, end of play) on the companion
  // timer the start-up created without work.
  scheduler.add("TimerPtx", 100, true, [this] {
    editorPanel->TimerPtx();
    if (playerWindow && playerWindow->isVisible()) playerWindow->refresh();
  });
  imports.attach(scheduler);  // TimerConvert
  startNotifier(prompt_);  // TimerUDP
  startAudioSetup();
  stats.skipRecount = data::VpnWorkstation(app.config());
  tab.search().skipDurationRepair = stats.skipRecount;
  menus.apply();
  const MainWindowModel& geometry = app.window();
  if (geometry.width > 0 && geometry.height > 0) window.resize(geometry.width, geometry.height);
  else window.resize(std::min(1366, geometry.screenWidth), std::min(768, geometry.screenHeight));
  window.move(geometry.left, geometry.top);
  if (geometry.windowState == 2) window.showMaximized();
  else window.show();
  window.activateWindow();  // the editor's keys work from the first click
  // The keyboard's path: the search bar, the song grid, then the editor's strip.
  QWidget::setTabOrder(window.grid(), editorPanel->strip());
  window.searchText()->setFocus();
  QObject::connect(&followTimer_, &QTimer::timeout, [this] { followChanges(); });
  followTimer_.start(kFollowMs);
  return true;
}

void Workstation::recountAverages() {
  if (recounting_ || (stats.artistQueue().empty() && stats.categoryQueue().empty())) return;
  if (!layer.baseOpen(app.config().currentBase())) return;
  recounting_ = true;  // the recount lets window events run: a tick may come in between
  const bool recounted = stats.RecountArtistsAndCategories();
  recounting_ = false;
  if (!recounted) window.status()->setText(QString::fromUtf8("Durées moyennes non recomptées (voir le journal)"));
}

void Workstation::followChanges() {
  if (app.ended() || tab.searching() || recounting_ || QtEventLoop::pumping() ||
      QThread::currentThread()->loopLevel() > 1 || !layer.baseOpen(app.config().currentBase()))
    return;
  const data::FollowUp up = window.followChanges(follower);
  if (up.songFileChanged) {
    songForm->followChange();
    gridFollower.songsChanged();
  }
  if (up.songFileChanged || up.pointerFileChanged) editorPanel->followChange();
  window.followSearch(gridFollower);
}

bool Workstation::tick() {
  // Stores queue the average durations: they are recounted once the work that
  // queued them is over, never in the middle of a search, of another work
  // that lets events run, or of a question waiting for its answer.
  if (!app.ended() && !tab.searching() && !QtEventLoop::pumping() && QThread::currentThread()->loopLevel() <= 1)
    recountAverages();
  scheduler.runDue();
  window.refreshIncidents();
  return app.pollInstance();
}

bool Workstation::showFirstSoundedSong() {
  window.RechercheDansLaBase();
  QAbstractItemModel* model = window.grid()->model();
  for (int row = 0; row < model->rowCount(); ++row) {
    const std::string code = model->index(row, data::kColCode).data().toString().toStdString();
    const auto song = editor::SelectionForSong(lib, tab.station, code);
    if (song && data::HouseFormatDurationMs(song->soundFile)) {
      window.grid()->selectRow(row);
      return true;
    }
  }
  return false;
}

bool Workstation::saveScreenshot(const std::string& pngFile) {
  return window.grab().save(QString::fromStdString(pngFile), "PNG");
}

}  // namespace sono::ui
