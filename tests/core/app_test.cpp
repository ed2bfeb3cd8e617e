#include <gtest/gtest.h>

#include "core/app.h"
#include "core/demo_site.h"
#include "core/ini.h"
#include "core/manual_ports.h"
#include "core/scheduler.h"
#include "test_support.h"

namespace sono {
using test::Lines;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

namespace {

// One program instance with test ports.
struct Instance {
  // `install`: the program's installation folder; empty: the build tree's.
  explicit Instance(const std::string& home, const std::string& install = {})
      : scheduler(clock),
        app(AppPorts{prompt, events, clock, scheduler, desktop}, environment(home, install), {}) {
    events.onPump.push_back([this] { scheduler.runDue(); });
  }
  static ConfigEnvironment environment(const std::string& home, const std::string& install) {
    ConfigEnvironment env;
    env.programFolder = home;
    env.computerName = "poste";
    env.version = "1.2.3";
    env.installFolder = install;
    if (!install.empty()) env.installGuide = install + "INSTALLATION.md";
    return env;
  }
  ManualClock clock;
  ScriptedPrompt prompt;
  ManualEventLoop events;
  ClockScheduler scheduler;
  RecordingDesktop desktop;
  Application app;
};

class AppTest : public ::testing::Test {
 protected:
  AppTest() {
    std::string error;
    EXPECT_TRUE(CreateDemoSite(dir.path(), error)) << error;
    WriteFile(dir / "drives/c/QZ_Data/FRAD000.bt6", "db");
  }
  std::string logFile() const { return dir / "drives/c/AudioLog/Histo_Vexa_Sonoteka/20260314.Log"; }
  std::vector<std::string> loggedMessages() const {
    std::vector<std::string> out;
    for (const auto& l : Lines(ReadFile(logFile())))
      if (l.rfind("==:", 0) != 0) out.push_back(l.substr(25));
    return out;
  }
  TempDir dir;
};

}  // namespace

TEST_F(AppTest, AnIncompleteInstallationStopsTheStartNamesTheFirstMissingComponentAndSaysWhy) {
  // The components come with the program, not with the site: the demo site
  // has none of its own and starts (the build tree holds them).
  EXPECT_FALSE(test::Exists(dir / "Composants"));
  EXPECT_TRUE(Instance(dir.path()).app.Form_Initialize());

  const std::string install = dir / "installation/";
  Instance first(dir.path(), install);
  first.prompt.answers = {Answer::Ok, Answer::Yes};
  EXPECT_FALSE(first.app.Form_Initialize());
  EXPECT_TRUE(first.app.composantsManquants());
  ASSERT_EQ(first.prompt.shown.size(), 2u);
  const ShownMessage& box = first.prompt.shown[0];
  EXPECT_EQ(box.text,
            "Cette mise-à-jour nécessite l'installation de la version 3.48 des composants Ondavia"
            "\n\nVeuillez faire d'abord cette installation et relancer ensuite le programme\n\n"
            "Fichier pour faire cette installation:\n\n      file://" + install +
                "INSTALLATION.md\n\n");
  EXPECT_EQ(box.icon, Icon::Critical);
  EXPECT_EQ(box.title, "Installation des composants Ondavia");
  EXPECT_EQ(first.prompt.shown[1].text, "Voulez-vous télécharger le fichier et faire l'installation ?");
  EXPECT_EQ(first.prompt.shown[1].buttons, Buttons::YesNo);
  EXPECT_EQ(first.desktop.urls, std::vector<std::string>{"file://" + install + "INSTALLATION.md"});
  EXPECT_FALSE(first.app.Form_Load());  // nothing else starts
  EXPECT_TRUE(first.prompt.stepLabels.empty());
  // The refusal reaches the base's log although the settings were never loaded.
  EXPECT_NE(ReadFile(logFile()).find("Err: Start-up refused: components missing in " + install),
            std::string::npos);

  // The address is a setting of the site.
  WriteFile(install + Application::componentFiles()[0], "x");
  EcritureIni(dir / "Settings/Vexa_Config.ini", "Composants", "Adresse_Installation",
              "https://intranet.radio/sonoteka");
  Instance second(dir.path(), install);
  EXPECT_FALSE(second.app.Form_Initialize());
  EXPECT_NE(second.prompt.shown[0].text.find("version 3.49.000 des composants Ondavia\n\n"),
            std::string::npos);
  EXPECT_NE(second.prompt.shown[0].text.find("\n      https://intranet.radio/sonoteka\n"),
            std::string::npos);
  EXPECT_TRUE(second.desktop.urls.empty());  // "No" to the download
}

TEST_F(AppTest, StartUpAnnouncesEveryStepInOrder) {
  Instance one(dir.path());
  std::vector<std::string> calls;
  auto hook = [&](const char* name) { return [&calls, name] { calls.push_back(name); }; };
  AppHooks& h = one.app.hooks;
  h.createObjects = hook("objects");
  h.openDatabase = hook("database");
  h.initEditor = hook("editor");
  h.buildCategoryTree = hook("tree");
  h.buildMusicTab = [&](const std::string& tab) { calls.push_back("tab " + tab); };
  h.openPlayerWindow = hook("player");
  h.openMultiSearchWindow = hook("multi");
  h.analyseCommandLine = [&](const std::string& cmd) { calls.push_back("cmd " + cmd); };
  ASSERT_TRUE(one.app.Form_Initialize());
  ASSERT_TRUE(one.app.Form_Load("  /station=2  "));
  EXPECT_FALSE(one.app.initEnCours());

  const std::vector<std::string> steps = {
      "Sonoteka: Init: General",
      "Sonoteka: Init: InitGeneralSysteme",
      "Init: InitGeneralPath",
      "Init: InitGeneralSite",
      "Sonoteka: Init: Setup",
      "Sonoteka: Frm_Main: Loading",
      "Sonoteka: Pervasive: Open",
      "Sonoteka: Init: Bases",
      "Sonoteka: Init: Create Object",
      "Sonoteka: Init: Display",
      "Sonoteka: Init: Detail Data",
      "Sonoteka: Init: TV: Catégories",
      "Sonoteka: Init: Tableur: Mus: Start",
      "Sonoteka: Init: Tableur: Mus: Musique: Start",
      "Sonoteka: Init: Tableur: Mus: End",
      "Sonoteka: Init: Fin",
  };
  EXPECT_EQ(one.prompt.stepLabels, steps);
  EXPECT_FALSE(one.prompt.stepWindowVisible);
  EXPECT_GE(one.events.pumps, static_cast<int>(steps.size()));
  EXPECT_EQ(calls, (std::vector<std::string>{"cmd /station=2", "database", "editor", "objects",
                                              "tree", "tab Musique", "player"}));
  EXPECT_EQ(one.app.commandLine(), "/station=2");

  one.app.log().Flush();
  const auto lines = loggedMessages();
  std::vector<std::string> announced;
  for (const auto& l : lines)
    if (l.rfind("----- ", 0) == 0 && l.find("Duration") == std::string::npos)
      announced.push_back(l.substr(6, l.size() - 12));
  EXPECT_EQ(announced, steps);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "FrmMain: Init General: Start");
  EXPECT_EQ(lines[lines.size() - 2], "----- Init: Duration: 0 ms");
  EXPECT_EQ(lines.back(), std::string(26, '='));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Ondavia: Sonoteka - 1.2.3 - IdRadio: 1"), lines.end());

  const MainWindowModel& w = one.app.window();
  EXPECT_EQ(w.searchModes, (std::vector<std::string>{"Libellé", "Code", "Commence", "Contient"}));
  EXPECT_EQ(w.stations, (std::vector<std::string>{"Radio Démo FM", "Radio Démo Classique"}));
  EXPECT_EQ(w.endTypes, (std::vector<std::string>{"Non définie", "Fade Out", "Annoncée", "Brutale"}));
  EXPECT_TRUE(one.scheduler.isEnabled("TimerUDP"));
  EXPECT_FALSE(one.scheduler.isEnabled("TimerFormat"));
  EXPECT_EQ(one.scheduler.interval("TimerConvert"), 500);
}

TEST_F(AppTest, StartUpSettingsTakeTheirDefaultsOrStoredValues) {
  {
    Instance one(dir.path());
    ASSERT_TRUE(one.app.Form_Load());
    const StartupSettings& s = one.app.startup();
    EXPECT_EQ(s.currentTab, 1);
    EXPECT_TRUE(s.playerWindow);
    EXPECT_FALSE(s.multiSearchWindow);
    EXPECT_FALSE(s.cartridgeActive);
    EXPECT_TRUE(s.soundFilter);
    EXPECT_EQ(one.app.window().currentStation, 0);
    one.app.window().currentStation = 1;
    one.app.window().width = 1280;
    one.app.window().height = 800;
    one.app.Form_Unload();
  }
  const std::string settings = dir / "Settings/Vexa_Library/Vexa_Library.Ini";
  EXPECT_EQ(LectureIni(settings, "Stations", "Last", ""), "1");
  EcritureIni(settings, "GrilleMorceaux", "CurrentTab", "3");
  EcritureIni(settings, "FrmPlayer", "Actif", "0");
  EcritureIni(settings, "FrmMusRechercheMC", "Chargee", "1");
  EcritureIni(settings, "Cartouchier", "Actif", "1");
  EcritureIni(settings, "Cartouchier", "SongId_2", "00001234");
  Instance two(dir.path());
  std::vector<std::string> loaded;
  bool player = false, multi = false;
  two.app.hooks.loadCartridge = [&](int slot, const std::string& id) {
    loaded.push_back(std::to_string(slot) + "=" + id);
  };
  two.app.hooks.openPlayerWindow = [&] { player = true; };
  two.app.hooks.openMultiSearchWindow = [&] { multi = true; };
  ASSERT_TRUE(two.app.Form_Load());
  EXPECT_EQ(two.app.startup().currentTab, 3);
  EXPECT_EQ(loaded, (std::vector<std::string>{"2=00001234"}));
  EXPECT_FALSE(player);
  EXPECT_TRUE(multi);
  EXPECT_EQ(two.app.window().currentStation, 1);
  EXPECT_EQ(two.app.window().width, 1280);
  EXPECT_EQ(two.app.window().height, 800);
}

TEST_F(AppTest, QuitIsRefusedWhileWorkIsPending) {
  Instance one(dir.path());
  int pending = 2;
  bool quitRequested = false;
  one.app.hooks.pendingNotifications = [&] { return pending; };
  one.app.hooks.markQuitRequested = [&] { quitRequested = true; };
  ASSERT_TRUE(one.app.Form_Load());
  EXPECT_FALSE(one.app.Quitter());
  ASSERT_EQ(one.prompt.shown.size(), 1u);
  EXPECT_EQ(one.prompt.shown[0].text,
            "Vous ne pouvez-pas quitter l'application car il reste 2 traitement(s) pour "
            "le(s)quel(s) il faut envoyer l'information au Player ou au Diffuseur\n\n"
            "Patientez quelques secondes encore.");
  EXPECT_EQ(one.prompt.shown[0].icon, Icon::Exclamation);
  EXPECT_TRUE(quitRequested);
  EXPECT_EQ(one.scheduler.interval("TimerUDP"), 100);

  // The notification timer empties the queue during the short wait: the
  // quit goes on to its question.
  one.scheduler.add("TimerUDP", 1000, true, [&] { pending = 0; });
  one.scheduler.setInterval("TimerUDP", 1000);
  one.app.hooks.makeFirstNotificationDue = [] {};
  EXPECT_FALSE(one.app.Quitter());
  EXPECT_EQ(pending, 0);
  EXPECT_EQ(one.prompt.shown.back().text, "Voulez-vous quitter le programme ?");

  bool recording = true, converting = true;
  one.app.hooks.recordingRunning = [&] { return recording; };
  one.app.hooks.conversionRunning = [&] { return converting; };
  EXPECT_FALSE(one.app.Quitter());
  EXPECT_EQ(one.prompt.shown.back().text,
            "Vous ne pouvez-pas quitter l'application tant que vous êtes en enregistrement.");
  recording = false;
  EXPECT_FALSE(one.app.Quitter());
  EXPECT_EQ(one.prompt.shown.back().text, "Impossible de quitter maintenant, conversion en cours.");
  EXPECT_EQ(one.prompt.shown.back().icon, Icon::Information);
  EXPECT_FALSE(one.app.quitterAutorise());
  EXPECT_FALSE(one.app.ended());
}

TEST_F(AppTest, UnsavedDataAndCancelKeepTheProgramOpen) {
  Instance one(dir.path());
  one.app.hooks.unsavedTabs = [] { return std::vector<std::string>{"Morceaux", "Pointeurs"}; };
  ASSERT_TRUE(one.app.Form_Load());
  const size_t labels = one.prompt.stepLabels.size();
  one.prompt.answers = {Answer::Cancel};
  EXPECT_FALSE(one.app.Form_QueryUnload());
  EXPECT_EQ(one.prompt.shown.back().text,
            "Données modifiées et non enregistrées:\n  - Morceaux\n  - Pointeurs\n\n"
            "Voulez-vous quitter le programme quand même ?");
  EXPECT_EQ(one.prompt.shown.back().buttons, Buttons::YesNoCancel);
  EXPECT_FALSE(one.app.ended());
  EXPECT_FALSE(one.app.arretEnCours());
  EXPECT_EQ(one.prompt.stepLabels.size(), labels);
  EXPECT_TRUE(one.app.instance().held());
}

TEST_F(AppTest, QuitWithYesRunsTheUnloadSequence) {
  Instance one(dir.path());
  std::vector<std::string> calls;
  AppHooks& h = one.app.hooks;
  h.stopPlayers = [&] { calls.push_back("players"); };
  h.closeSoundResources = [&] { calls.push_back("sound"); };
  h.closeDatabase = [&] { calls.push_back("database"); };
  h.otherWindows = [] { return std::vector<std::string>{"FrmPlayer"}; };
  h.unloadWindow = [&](const std::string& name) { calls.push_back("unload " + name); };
  ASSERT_TRUE(one.app.Form_Load());
  one.prompt.stepLabels.clear();
  one.prompt.answers = {Answer::Yes};
  EXPECT_TRUE(one.app.Quitter());
  EXPECT_TRUE(one.app.ended());
  EXPECT_FALSE(one.app.instance().held());
  EXPECT_EQ(one.prompt.stepLabels,
            (std::vector<std::string>{"Sonoteka: Fermeture en cours: Start",
                                      "Sonoteka: Fermeture en cours: Delete temporary files",
                                      "Sonoteka: Fermeture en cours: Stop Players",
                                      "Sonoteka: Fermeture en cours: Sound changed",
                                      "Sonoteka: Fermeture en cours: RAZ Undo",
                                      "Sonoteka: Fermeture en cours: Settings",
                                      "Sonoteka: Fermeture en cours: Stop PreEcoute",
                                      "Sonoteka: Fermeture en cours: Close Sound Ressource",
                                      "Sonoteka: Fermeture en cours: Close Setup",
                                      "Sonoteka: Fermeture en cours: Close Database",
                                      "Sonoteka: Fermeture en cours: Form: FrmPlayer",
                                      "Sonoteka: Fermeture en cours: Close All"}));
  EXPECT_EQ(calls, (std::vector<std::string>{"players", "sound", "database", "unload FrmPlayer"}));
  // The quit line was written before logging stopped; nothing after it.
  one.app.log().TraceLog("trop tard");
  const auto lines = loggedMessages();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 2], "Application closed by human action (Menu action)");
  EXPECT_EQ(lines.back(), std::string(48, '*'));
}

TEST_F(AppTest, SecondInstanceWaitsThenTakesOver) {
  Instance older(dir.path());
  ASSERT_TRUE(older.app.Form_Load());
  Instance newer(dir.path());
  int sleeps = 0;
  newer.clock.onSleep = [&](int) {
    ++sleeps;
    older.app.pollInstance();  // the older instance's event loop runs meanwhile
  };
  const uint64_t before = newer.clock.tickMs();
  ASSERT_TRUE(newer.app.Form_Load());
  EXPECT_GE(newer.clock.tickMs() - before, 5000u);  // it waited 5 s before asking
  EXPECT_TRUE(older.app.ended());
  EXPECT_TRUE(older.app.arretEnCours());
  EXPECT_TRUE(newer.app.instance().held());
  EXPECT_GE(sleeps, 2);
}

TEST_F(AppTest, OverflowingSettingsAreClampedAndAnUnusableSiteIsLoggedInTheHistoryFolder) {
  const std::string settings = dir / "Settings/Vexa_Library/Vexa_Library.Ini";
  const std::string positions = dir / "Settings/Vexa_Library/Vexa_Library_Positions.Ini";
  EcritureIni(settings, "Stations", "Last", "4294967297");       // wraps to 1
  EcritureIni(positions, "FrmPos", "Frm_Main_Width", "4294968396");  // wraps to 1100
  EcritureIni(positions, "FrmPos", "Frm_Main_Height", "800");
  {
    Instance one(dir.path());
    ASSERT_TRUE(one.app.Form_Load());
    EXPECT_EQ(one.app.window().currentStation, 0);  // out of range: the first station
    EXPECT_EQ(one.app.window().width, one.app.window().screenWidth);
    one.app.Form_Unload();
  }
  // A site file that cannot be used names no log folder of its own.
  WriteFile(dir / "Settings/Vexa_Config.ini", std::string("[Site]\0\0\0", 9));
  Instance two(dir.path());
  EXPECT_FALSE(two.app.Form_Load());
  const std::string history = dir / "Settings/Vexa_Library/Histo/20260314.Log";
  EXPECT_NE(ReadFile(history).find("Err: Site file unusable (binary bytes)"), std::string::npos);
}

TEST_F(AppTest, AnOlderInstanceThatDoesNotAnswerIsAskedToQuitAndTheNewerOneStartsAnyway) {
  Instance older(dir.path());
  ASSERT_TRUE(older.app.Form_Load());  // then frozen (or on a box): it never polls
  Instance newer(dir.path());
  ASSERT_TRUE(newer.app.Form_Load());
  EXPECT_TRUE(newer.prompt.shown.empty());
  EXPECT_FALSE(newer.app.instance().held());
  newer.app.log().Flush();
  EXPECT_NE(ReadFile(logFile()).find("has not quit yet: starting all the same"), std::string::npos);
  // The request waits for it; once it has quit, the newer one takes the lock.
  EXPECT_TRUE(older.app.pollInstance());
  EXPECT_TRUE(older.app.ended());
  newer.clock.advance(1000);
  EXPECT_FALSE(newer.app.pollInstance());
  EXPECT_TRUE(newer.app.instance().held());
}

TEST_F(AppTest, EveryRefusalToStartSaysWhyInABoxAndInTheLog) {
  {
    // An older instance that cannot be reached at all (its socket is gone).
    std::filesystem::create_directories(dir / "Settings/Vexa_Library");
    InstanceGuard older(dir / "Settings/Vexa_Library/");
    ASSERT_TRUE(older.tryAcquire());
    std::filesystem::remove(dir / "Settings/Vexa_Library/Vexa_Sonoteka.sock");
    Instance newer(dir.path());
    EXPECT_FALSE(newer.app.Form_Load());
    EXPECT_TRUE(newer.app.quitterAutorise());  // ends without questions
    ASSERT_EQ(newer.prompt.shown.size(), 1u);
    EXPECT_EQ(newer.prompt.shown[0].icon, Icon::Critical);
    EXPECT_NE(newer.prompt.shown[0].text.find("pid " + std::to_string(::getpid()) +
                                              ") utilise ce dossier de réglages et ne répond pas"),
              std::string::npos)
        << newer.prompt.shown[0].text;
    EXPECT_NE(ReadFile(logFile()).find("Err: Start-up refused: Une autre session de Sonoteka"),
              std::string::npos);
  }
  // A settings folder that cannot be written is not "another instance": it
  // is said at once, without the wait.
  std::filesystem::remove_all(dir / "Settings/Vexa_Library");
  WriteFile(dir / "Settings/Vexa_Library", "a file where the folder should be");
  Instance newer(dir.path());
  const uint64_t before = newer.clock.tickMs();
  EXPECT_FALSE(newer.app.Form_Load());
  EXPECT_LT(newer.clock.tickMs() - before, 1000u);
  ASSERT_EQ(newer.prompt.shown.size(), 1u);
  EXPECT_EQ(newer.prompt.shown[0].text.rfind("Sonoteka ne peut pas démarrer: le dossier des réglages\n" +
                                                 dir.path() + "Settings/Vexa_Library/\n"
                                                 "n'est pas accessible en écriture (",
                                             0),
            0u)
      << newer.prompt.shown[0].text;
  EXPECT_NE(ReadFile(logFile()).find("Err: Start-up refused: Sonoteka ne peut pas démarrer"),
            std::string::npos);
}

}  // namespace sono
