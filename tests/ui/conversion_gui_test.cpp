// Import by drop and by the dialog, the conversion queue's tab, quitting
// while a conversion waits, export from the editor: the desktop with a
// stand-in converter named in the registry.
#include <QMimeData>
#include <sndfile.h>

#include <cstring>
#include <algorithm>
#include <QTest>
#include <QUrl>
#include <filesystem>

#include "audio_test_support.h"
#include "udp_listener.h"
#include "convert/convert_driver.h"
#include "core/files.h"
#include "core/ini.h"
#include "core/text.h"
#include "data/songs.h"
#include "workstation_fixture.h"

namespace sono::ui {
namespace {

class ConversionGuiTest : public test::WorkstationFixture {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir / "conv");
    std::filesystem::create_directories(dir / "in");
    converted = sono::test::MakeHouseFile(dir, "conv/converted.s48", 7200);
    const std::string script = dir / "conv/sonoteka-convert";
    sono::test::WriteFile(script,
                          "#!/bin/sh\nfor a in \"$@\"; do case \"$a\" in -outfile=*) out=\"${a#-outfile=}\";; esac; done\n"
                          "cp '" + converted + "' \"$out\"\n");
    ::chmod(script.c_str(), 0755);
    ASSERT_TRUE(ws->start());
    Registry(ws->app.config().settingsFolder() + "Registry.ini")
        .Reg_SetValue(convert::kConverterRegistryRoot, convert::kConverterRegistryKey, "Path", dir / "conv/");
    ShowSong("00000001");
    prompt.shown.clear();
  }
  void Drop(QWidget* on, const std::string& file) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(file))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(on, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(on, &drop);
  }
  int SheetRows(convert::QueueSheet s) { return ws->conversions->sheet(s)->rowCount(); }
  // The playout's first target is `listener`.
  void NotifyTo(const sono::test::UdpListener& listener) {
    ASSERT_EQ(ws->notifier->targets().SetValue(notify::TargetField::Ip, 0, "127.0.0.1"), "");
    ASSERT_EQ(ws->notifier->targets().SetValue(notify::TargetField::PortA, 0, std::to_string(listener.port())), "");
  }
  // A one-second broadcast WAV whose cart chunk marks an intro at 2 s and a
  // hook at 9 s (past the 7.2 s sound the stand-in converter gives).
  void WriteBroadcastWav(const std::string& wav) {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(wav.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    SF_CART_INFO cart{};
    std::memcpy(cart.version, "0101", 4);
    std::memcpy(cart.title, "Titre", 5);
    std::memcpy(cart.post_timers[0].usage, "INTe", 4);
    cart.post_timers[0].value = 96000;  // 2 s
    std::memcpy(cart.post_timers[1].usage, "HOKs", 4);
    cart.post_timers[1].value = 48000 * 9;
    ASSERT_EQ(sf_command(f, SFC_SET_CART_INFO, &cart, sizeof cart), SF_TRUE);
    const std::vector<short> silence(48000 * 2, 0);
    sf_write_short(f, silence.data(), static_cast<sf_count_t>(silence.size()));
    sf_close(f);
  }
  std::string converted;
};

TEST_F(ConversionGuiTest, DroppedFileIsConvertedAndShownInTheEditor) {
  editor::PointerEditor& ed = ws->editorPanel->editor();
  const std::string sound = ed.sound.soundFile;
  ASSERT_NE(ed.soundLength(), 7200);
  sono::test::WriteFile(dir / "in/nouveau son.flac", "x");
  // A step of the old sound: it goes with it, once the new one is in place.
  long long pos = 0, sec = 0;
  for (int station : {1, 2})
    ASSERT_EQ(data::PtxSauvegarderPointeur(ws->lib, station, ed.sound.code, '3', 1000, 200, -1, 0, true), 0);
  prompt.answers = {Answer::Yes};  // "Remplacer le son existant"
  Drop(ws->editorPanel->working(), dir / "in/nouveau son.flac");
  ASSERT_EQ(SheetRows(convert::QueueSheet::ToConvert), 1);
  EXPECT_EQ(ws->conversions->sheet(convert::QueueSheet::ToConvert)->item(0, 0)->text().toStdString(),
            dir / "in/nouveau son.flac");
  // Quitting now is refused.
  EXPECT_FALSE(ws->app.Quitter());
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_EQ(prompt.shown.back().text, "Impossible de quitter maintenant, conversion en cours.");

  EXPECT_TRUE(data::PtxChargerPointeur(ws->lib, 1, ed.sound.code, '3', pos, sec));
  Run(600);  // TimerConvert
  for (int station : {1, 2}) EXPECT_FALSE(data::PtxChargerPointeur(ws->lib, station, ed.sound.code, '3', pos, sec));
  EXPECT_EQ(SheetRows(convert::QueueSheet::ToConvert), 0);
  EXPECT_EQ(SheetRows(convert::QueueSheet::Converted), 1);
  EXPECT_EQ(sono::test::ReadFile(sound), sono::test::ReadFile(converted));
  EXPECT_EQ(ed.soundLength(), 7200);
  EXPECT_EQ(ed.envelopeCount, 300);
  EXPECT_EQ(prompt.shown.back().text, "Nombre de conversions: 1\nConversion terminée");
  EXPECT_FALSE(ws->imports.conversionPending());
}

// The queue's "Send UDP" cell: switched off on the tab, the converted sound
// is not announced; left on, the playout hears of it once, ten seconds on.
TEST_F(ConversionGuiTest, SendUdpSwitchedOffKeepsTheConversionQuiet) {
  sono::test::UdpListener listener;
  NotifyTo(listener);
  QTableWidget* waiting = ws->conversions->sheet(convert::QueueSheet::ToConvert);
  for (const bool on : {false, true}) {
    SCOPED_TRACE(on ? "Send UDP on" : "Send UDP off");
    const std::string file = dir / (on ? "in/b.flac" : "in/a.flac");
    sono::test::WriteFile(file, "x");
    prompt.answers = {Answer::Yes};  // "Remplacer le son existant"
    Drop(ws->editorPanel->working(), file);
    ASSERT_EQ(SheetRows(convert::QueueSheet::ToConvert), 1);
    QTableWidgetItem* cell = waiting->item(0, convert::kSendUdpColumn);
    ASSERT_TRUE(cell->flags() & Qt::ItemIsUserCheckable);
    EXPECT_EQ(cell->checkState(), Qt::Checked) << "on by default";
    if (!on) {
      cell->setCheckState(Qt::Unchecked);  // as a click on the box does
      EXPECT_FALSE(ws->imports.queue().sheet(convert::QueueSheet::ToConvert)[0].sendUdp);
      EXPECT_EQ(waiting->item(0, convert::kSendUdpColumn)->text(), "N");
    }
    Run(600);  // TimerConvert
    ASSERT_EQ(SheetRows(convert::QueueSheet::ToConvert), 0);
    EXPECT_EQ(ws->editorPanel->editor().soundLength(), 7200) << "converted and reloaded either way";
    Run(11000, 100);  // past the ten-second wait
    const auto got = listener.Take();
    EXPECT_EQ(got.size(), on ? 1u : 0u);
    for (const auto& text : got) EXPECT_EQ(text.rfind("<Info:Changed><Song:00000001><Rnd:", 0), 0u) << text;
    EXPECT_EQ(ws->notifier->queue().size(), 0u);
  }
}

// A broadcast WAV dropped: its markers are offered and, taken, become the
// song's pointers once the conversion has put the new sound in place (the
// hook past its end refused). With the row's "Send UDP" off, storing them
// tells the suite nothing either; a pointer the user stores afterwards is
// told as usual.
TEST_F(ConversionGuiTest, MarkersOfAQuietConversionAreNotAnnounced) {
  sono::test::UdpListener listener;
  NotifyTo(listener);
  const std::string wav = dir / "in/diffusion.wav";
  WriteBroadcastWav(wav);
  prompt.answers = {Answer::Yes, Answer::Yes};  // take the markers, replace the sound
  Drop(ws->editorPanel->working(), wav);
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_EQ(prompt.shown[0].text,
            "Le fichier contient des marqueurs (intro 2000 ms, hook 9000 ms).\n"
            "Voulez-vous les reprendre comme pointeurs du morceau ?");
  ASSERT_EQ(SheetRows(convert::QueueSheet::ToConvert), 1);
  ws->conversions->sheet(convert::QueueSheet::ToConvert)->item(0, convert::kSendUdpColumn)->setCheckState(Qt::Unchecked);
  Run(600);  // TimerConvert
  editor::PointerEditor& ed = ws->editorPanel->editor();
  ASSERT_EQ(ed.soundLength(), 7200);
  EXPECT_EQ(ed.ptx.position[data::kIntro], 2000) << "the marker was taken";
  EXPECT_FALSE(ed.anyMarked()) << "and stored";
  EXPECT_TRUE(std::any_of(prompt.shown.begin(), prompt.shown.end(),
                          [](const auto& shown) { return shown.text.find("Hook") == 0; }));
  EXPECT_EQ(ws->notifier->queue().size(), 0u);
  Run(11000, 100);
  EXPECT_TRUE(listener.Take().empty());

  // The hooks are the editor's again once the conversion is placed.
  ASSERT_EQ(ed.ptx.MemoriseUserValue(data::kIntro, 3000, 0), "");
  ASSERT_TRUE(ed.StorePointers());
  Run(11000, 100);
  const auto got = listener.Take();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].rfind("<Info:Changed><Song:00000001><Rnd:", 0), 0u) << got[0];
}

// The converter says the file's title and artist: after the import the
// desktop asks, and Yes shows them in the song form, not saved.
TEST_F(ConversionGuiTest, FileTitleAndArtistOfferedInTheSongForm) {
  const int station = ws->tab.station;
  const auto song = data::LectureFicheMorceau(ws->lib, station, "00000001");
  ASSERT_TRUE(song);
  std::string artistCode, artistName;
  for (const auto& a : data::ListeArtistes(ws->lib, station))
    if (a.code != Trim(song->artist1) && artistCode.empty()) artistCode = a.code, artistName = a.name;
  ASSERT_FALSE(artistCode.empty());
  // A stand-in that also writes the info file, as the real converter does.
  const std::string script = dir / "conv/sonoteka-convert";
  sono::test::WriteFile(script,
                        "#!/bin/sh\nfor a in \"$@\"; do case \"$a\" in -outfile=*) out=\"${a#-outfile=}\";; "
                        "-infofile=*) info=\"${a#-infofile=}\";; esac; done\n"
                        "cp '" + converted + "' \"$out\"\n"
                        "printf 'title=Noël à Ségur\\nartist=" + artistName + "\\ntrimmed_start_ms=0\\n' > \"$info\"\n");
  sono::test::WriteFile(dir / "in/nouveau.flac", "x");
  prompt.answers = {Answer::Yes, Answer::Yes};  // replace the sound, take the tags
  Drop(ws->editorPanel->working(), dir / "in/nouveau.flac");
  Run(600);  // TimerConvert
  const auto asked = std::find_if(prompt.shown.begin(), prompt.shown.end(), [](const auto& p) {
    return p.text.rfind("Reprendre le titre et l'artiste du fichier ?", 0) == 0;
  });
  ASSERT_NE(asked, prompt.shown.end());
  EXPECT_EQ(asked->text, "Reprendre le titre et l'artiste du fichier ?\nTitre: Noël à Ségur\nArtiste: " + artistName);
  EXPECT_EQ(ws->songForm->title()->text().toStdString(), "Noël à Ségur");
  EXPECT_EQ(ws->songForm->artist1()->currentData().toString().toStdString(), Cp1252ToUtf8(artistCode));
  EXPECT_TRUE(ws->songForm->modified());
  // Nothing stored until the user saves.
  EXPECT_EQ(data::LectureFicheMorceau(ws->lib, station, "00000001")->title, song->title);
  ws->songForm->saveButton()->click();
  EXPECT_EQ(Trim(data::LectureFicheMorceau(ws->lib, station, "00000001")->title), "Noël à Ségur");
}

// The editor holds a sound: the drop asks, and "Ajouter le fichier à la fin
// du son existant" queues an append; the editor then shows the whole.
TEST_F(ConversionGuiTest, DroppedFileAppendedToTheEditorsSound) {
  editor::PointerEditor& ed = ws->editorPanel->editor();
  const std::string sound = ed.sound.soundFile, before = sono::test::ReadFile(sound);
  const int length = ed.soundLength();
  ASSERT_GT(length, 0);
  sono::test::WriteFile(dir / "in/suite.flac", "x");
  prompt.answers = {Answer::No};
  Drop(ws->editorPanel->working(), dir / "in/suite.flac");
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_NE(prompt.shown[0].text.find("Oui: Remplacer le son existant\nNon: Ajouter le fichier à la fin du son existant"),
            std::string::npos);
  ASSERT_EQ(SheetRows(convert::QueueSheet::ToConvert), 1);
  Run(600);  // TimerConvert
  EXPECT_EQ(SheetRows(convert::QueueSheet::Converted), 1);
  EXPECT_EQ(sono::test::ReadFile(sound), before + sono::test::ReadFile(converted));
  EXPECT_EQ(ed.soundLength(), length + 7200);
}

// A shorter sound: the intro past its end is removed, the user told, and
// the editor shows the song without it.
TEST_F(ConversionGuiTest, ShorterSoundTakesAwayTheIntroPastItsEnd) {
  editor::PointerEditor& ed = ws->editorPanel->editor();
  ASSERT_GT(ed.soundLength(), 3100);
  ASSERT_EQ(ed.ptx.MemoriseUserValue(data::kIntro, 3000, 0), "");
  ASSERT_TRUE(ed.StorePointers());
  const std::string house = sono::test::MakeHouseFile(dir, "in/court.s48", 2400);
  prompt.folders = {house};
  prompt.answers = {Answer::Yes, Answer::No};  // "Remplacer le son existant", "Importer le son tel quel"
  ws->window.findChild<QAction*>("MnuImporterSon")->trigger();
  EXPECT_EQ(ed.soundLength(), 2400);
  EXPECT_EQ(ed.ptx.position[data::kIntro], 0);
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_NE(prompt.shown.back().text.find("Intro (3000 ms) effacé: au-delà de la fin du son (2400 ms)"),
            std::string::npos)
      << prompt.shown.back().text;
}

TEST_F(ConversionGuiTest, DialogImportOfAHouseFileAndExport) {
  const std::string house = sono::test::MakeHouseFile(dir, "in/maison.s48", 2400);
  prompt.folders = {house};
  prompt.answers = {Answer::Yes, Answer::No};  // "Remplacer le son existant", "Importer le son tel quel"
  QAction* import = ws->window.findChild<QAction*>("MnuImporterSon");
  ASSERT_NE(import, nullptr);
  import->trigger();
  editor::PointerEditor& ed = ws->editorPanel->editor();
  EXPECT_EQ(sono::test::ReadFile(ed.sound.soundFile), sono::test::ReadFile(house));
  EXPECT_EQ(ed.soundLength(), 2400);
  EXPECT_EQ(SheetRows(convert::QueueSheet::ToConvert), 0);  // copied, not queued

  std::filesystem::create_directories(dir / "out");
  prompt.choices = {2, 2};  // mp2, "Titre"
  prompt.folders = {dir / "out/"};
  ws->window.findChild<QAction*>("MnuExporterSon")->trigger();
  const auto files = sono::test::FolderEntries(dir / "out");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(EclateRepFicExt(files[0]).extension, ".mp2");
  EXPECT_EQ(sono::test::ReadFile(dir / "out/" + files[0]), sono::test::ReadFile(house));
  EXPECT_EQ(prompt.shown.back().text, "Fichier son exporté:\r\n" + dir / "out/" + files[0]);

  // A wave export is queued with the title and the cue points for its broadcast chunks.
  ASSERT_EQ(ed.ptx.MemoriseUserValue(data::kIntro, 1200, 0), "");
  ASSERT_TRUE(ed.StorePointers());
  prompt.choices = {3, 2};  // wave, "Titre"
  prompt.folders = {dir / "out/"};
  ws->window.findChild<QAction*>("MnuExporterSon")->trigger();
  const auto& rows = ws->imports.queue().sheet(convert::QueueSheet::ToConvert);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].request.tags.intro, 1200);
  EXPECT_EQ(rows[0].request.tags.fadeOut, 2400 - 96);
  EXPECT_FALSE(rows[0].request.tags.title.empty());
  const auto argv = convert::TagArguments(rows[0].request);
  EXPECT_NE(std::find(argv.begin(), argv.end(), "-cue_intro=1200"), argv.end());
}

}  // namespace
}  // namespace sono::ui

namespace sono::ui {
namespace {

TEST_F(ConversionGuiTest, PurgeOfTemporarySoundsFromTheToolsMenu) {
  const std::string folder = ws->app.config().current().sounds[0][kSoundKinds - 1].folder;
  ASSERT_FALSE(folder.empty());
  std::filesystem::create_directories(folder);
  // The manual clock's day is 2026-03-14: older than ten days goes.
  sono::test::WriteFile(folder + "2026-03-01-08-00-00.wav", "x");
  sono::test::WriteFile(folder + "2026-03-13-08-00-00.wav", "x");
  ws->window.findChild<QAction*>("MnuPurgerSonsTemporaires")->trigger();
  EXPECT_FALSE(File_Exist(folder + "2026-03-01-08-00-00.wav"));
  EXPECT_TRUE(File_Exist(folder + "2026-03-13-08-00-00.wav"));
  EXPECT_EQ(prompt.shown.back().text, "Suppression des sons temporaires terminée.");
}

// TimerFocus purges the temporary sounds once a day, without a word.
TEST_F(ConversionGuiTest, TimerFocusPurgesTemporarySoundsOnceADay) {
  const std::string folder = ws->app.config().current().sounds[0][kSoundKinds - 1].folder;
  std::filesystem::create_directories(folder);
  sono::test::WriteFile(folder + "2026-03-01-08-00-00.wav", "x");
  Run(200);
  EXPECT_FALSE(File_Exist(folder + "2026-03-01-08-00-00.wav"));
  EXPECT_TRUE(prompt.shown.empty());
  // Later that day: nothing more.
  sono::test::WriteFile(folder + "2026-03-02-08-00-00.wav", "x");
  Run(1000);
  EXPECT_TRUE(File_Exist(folder + "2026-03-02-08-00-00.wav"));
  // The next day.
  clock.advance(24LL * 3600 * 1000);
  Run(200);
  EXPECT_FALSE(File_Exist(folder + "2026-03-02-08-00-00.wav"));
  EXPECT_FALSE(ws->imports.DailyPurge());  // done for today
}


// Outils > "Enregistrer le son sous…" (Ctrl+Shift+S): the converter writes
// the copy; an existing file is replaced only on Yes.
TEST_F(ConversionGuiTest, SaveAsFromTheToolsMenu) {
  QAction* saveAs = ws->window.findChild<QAction*>("MnuSaveFileAs");
  ASSERT_NE(saveAs, nullptr);
  EXPECT_EQ(saveAs->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  std::filesystem::create_directories(dir / "out");
  const std::string copy = dir / "out/copie.mp3";
  prompt.folders = {copy};
  saveAs->trigger();
  EXPECT_EQ(sono::test::ReadFile(copy), sono::test::ReadFile(converted));
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_EQ(prompt.shown.back().text, "Fichier '" + copy + "' créé.");
  sono::test::WriteFile(copy, "ancien");
  prompt.folders = {copy};
  prompt.answers = {Answer::No};
  saveAs->trigger();
  EXPECT_EQ(prompt.shown.back().text, "Voulez-vous remplacer le fichier existant ?");
  EXPECT_EQ(sono::test::ReadFile(copy), "ancien");
}


// Outils > "Reconvertir le son" (Ctrl+Shift+R): asked, converted, and the
// editor shows the new sound with its envelope.
TEST_F(ConversionGuiTest, ReconversionFromTheToolsMenuReloadsTheEditor) {
  QAction* reconvert = ws->window.findChild<QAction*>("MnuReconvertir");
  ASSERT_NE(reconvert, nullptr);
  EXPECT_EQ(reconvert->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
  editor::PointerEditor& ed = ws->editorPanel->editor();
  const std::string sound = ed.sound.soundFile, before = sono::test::ReadFile(sound);
  ASSERT_NE(ed.soundLength(), 7200);
  prompt.answers = {Answer::No};
  reconvert->trigger();
  EXPECT_EQ(sono::test::ReadFile(sound), before);
  prompt.shown.clear();
  prompt.answers = {Answer::Yes};
  reconvert->trigger();
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_EQ(prompt.shown[0].text, "Voulez-vous reconvertir le fichier son ?");
  EXPECT_EQ(sono::test::ReadFile(sound), sono::test::ReadFile(converted));
  EXPECT_EQ(ed.soundLength(), 7200);
  EXPECT_EQ(ed.envelopeCount, 300);
  EXPECT_FALSE(File_Exist(ws->app.config().current().localFolder + "Convert.mp2"));
}

}  // namespace
}  // namespace sono::ui
