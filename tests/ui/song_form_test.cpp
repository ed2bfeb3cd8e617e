// The song form panel on a library of two stations: a song loaded, edited and
// saved as a librarian would, every refusal with the record left alone, codes
// the lists do not know or that carry accents, and the three-state playable
// flag behind a two-state check.
#include "gui_application.h"
#include <QTest>
#include <vector>

#include "library_fixture.h"
#include "core/text.h"
#include "ui/song_form_panel.h"

namespace sono::ui {
namespace {

class SongFormPanelTest : public data::test::LibraryFixture {
 protected:
  static void SetUpTestSuite() { ui::test::EnsureGuiApplication(); }

  SongFormPanelTest() {
    InsertEverywhere(data::kArtists, Artist("A0001", "Zoé Martin"));
    InsertEverywhere(data::kArtists, Artist("A0002", "Émile Durand"));
    InsertEverywhere(data::kArtists, Artist("A0003", "Bruno Caron"));
    InsertEverywhere(data::kCodeTables, Category("CATEG", "JAZZ", "Jazz"));
    InsertEverywhere(data::kCodeTables, Category("CATEG", "POP", "Pop"));
    std::string r = Song("00000002", "Rêve d'été", 12345, "A0002", "JAZZ");
    SetText(r, data::song::kShortTitle, "Rêve");
    SetRaw(r, data::song::kArtist2, "A0003");
    SetRaw(r, data::song::kForcedFlag, "O");
    SetRaw(r, data::song::kForcedDuration, "0200");
    InsertEverywhere(data::kSongs, r);
    InsertEverywhere(data::kSongs, Complete(Song("00000003", "Autre", 180, "A0001", "POP")));
    prompt.shown.clear();
    panel = std::make_unique<SongFormPanel>(*lib, *stats);
    panel->onSaved = [this](const std::string& code) { saved.push_back(code); };
    panel->resize(1366, 260);
    panel->show();
  }

  // The fields the save always writes, given values, so that a save of the
  // unchanged form leaves the record byte for byte.
  static std::string Complete(std::string r) {
    SetRaw(r, data::song::kForcedFlag, "N");
    SetRaw(r, data::song::kForcedDuration, "0000");
    return r;
  }

  // Positions (from 1) where two records differ.
  static std::vector<int> Differences(const std::string& a, const std::string& b) {
    std::vector<int> at;
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i)
      if (i >= a.size() || i >= b.size() || a[i] != b[i]) at.push_back(static_cast<int>(i + 1));
    return at;
  }

  std::unique_ptr<SongFormPanel> panel;
  std::vector<std::string> saved;  // codes given to onSaved
};

TEST_F(SongFormPanelTest, ShowsTheSongAndSavesAnEditedTitleOnItsStationOnly) {
  const std::string before1 = Read(data::kSongs, 1, "00000002"), before2 = Read(data::kSongs, 2, "00000002");
  panel->load(1, "00000002");
  ASSERT_TRUE(panel->isEnabled());
  EXPECT_EQ(panel->code()->text(), "00000002");
  EXPECT_EQ(panel->title()->text(), QString::fromUtf8("Rêve d'été"));
  EXPECT_EQ(panel->shortTitle()->text(), QString::fromUtf8("Rêve"));
  EXPECT_EQ(panel->artist1()->itemText(0), "");  // "no artist" comes first
  EXPECT_EQ(panel->artist1()->currentText(), QString::fromUtf8("Émile Durand"));
  EXPECT_EQ(panel->artist2()->currentText(), "Bruno Caron");
  EXPECT_EQ(panel->category()->currentText(), "Jazz");
  EXPECT_EQ(panel->duration()->value(), 12345);
  EXPECT_EQ(panel->durationText()->text(), "205:45");
  EXPECT_TRUE(panel->forced()->isChecked());
  EXPECT_TRUE(panel->forcedSeconds()->isEnabled());
  EXPECT_EQ(panel->forcedSeconds()->value(), 200);
  EXPECT_TRUE(panel->playable()->isChecked());

  panel->title()->selectAll();
  panel->title()->insert(QString::fromUtf8("Rêve d'hiver"));  // QTest types ASCII only
  QTest::mouseClick(panel->saveButton(), Qt::LeftButton);
  EXPECT_TRUE(prompt.shown.empty());
  EXPECT_EQ(saved, std::vector<std::string>{"00000002"});
  ASSERT_FALSE(prompt.stepLabels.empty());
  EXPECT_EQ(prompt.stepLabels.back(), "Sauvegarde du morceau 00000002: 10/10");
  EXPECT_FALSE(prompt.stepWindowVisible);

  const std::string after1 = Read(data::kSongs, 1, "00000002");
  EXPECT_EQ(GetText(after1, data::song::kTitle), "Rêve d'hiver");
  for (int at : Differences(before1, after1))  // nothing outside the title moved
    EXPECT_TRUE(at >= data::song::kTitle.position && at < data::song::kTitle.position + data::song::kTitle.length)
        << "position " << at;
  EXPECT_EQ(Read(data::kSongs, 2, "00000002"), before2);
  EXPECT_EQ(GetText(Read(data::kTitles, 1, "00000002"), data::titles::kTitle), "Rêve d'hiver");

  // "Toutes les stations" writes the other station too.
  panel->allStations()->setChecked(true);
  panel->title()->setText("Neige");
  ASSERT_TRUE(panel->save());
  EXPECT_EQ(GetText(Read(data::kSongs, 1, "00000002"), data::song::kTitle), "Neige");
  EXPECT_EQ(GetText(Read(data::kSongs, 2, "00000002"), data::song::kTitle), "Neige");
}

TEST_F(SongFormPanelTest, EachMissingFieldIsRefusedWithItsMessageAndNothingIsWritten) {
  panel->load(1, "00000002");
  ASSERT_TRUE(panel->isEnabled());
  const std::string before1 = Read(data::kSongs, 1, "00000002"), before2 = Read(data::kSongs, 2, "00000002");
  const std::string titles1 = Read(data::kTitles, 1, "00000002");
  const int artist2 = panel->artist2()->currentIndex();

  struct Case {
    std::function<void()> blank, restore;
    const char* message;
  };
  const Case cases[] = {
      {[&] { panel->title()->setText("    "); }, [&] { panel->title()->setText("Rêve"); },
       "Vous devez saisir un libellé pour le morceau."},
      {[&] { panel->shortTitle()->clear(); }, [&] { panel->shortTitle()->setText("Rêve"); },
       "Vous devez saisir un libellé."},
      {[&] {
         panel->artist1()->setCurrentIndex(0);
         panel->artist2()->setCurrentIndex(0);
       },
       [&] { panel->artist2()->setCurrentIndex(artist2); },  // one artist is enough
       "Vous devez sélectionner au moins un artiste."},
      {[&] { panel->category()->setCurrentIndex(0); }, [&] { panel->category()->setCurrentText("Pop"); },
       "Vous devez sélectionner une catégorie."},
  };
  for (const Case& c : cases) {
    c.blank();
    panel->duration()->setValue(999);  // would be written if the save went on
    const size_t shown = prompt.shown.size();
    QTest::mouseClick(panel->saveButton(), Qt::LeftButton);
    ASSERT_EQ(prompt.shown.size(), shown + 1) << c.message;
    EXPECT_EQ(prompt.shown.back().text, c.message);
    EXPECT_EQ(prompt.shown.back().icon, Icon::Exclamation);
    EXPECT_EQ(prompt.shown.back().buttons, Buttons::Ok);
    EXPECT_EQ(Read(data::kSongs, 1, "00000002"), before1) << c.message;
    EXPECT_EQ(Read(data::kSongs, 2, "00000002"), before2) << c.message;
    EXPECT_EQ(Read(data::kTitles, 1, "00000002"), titles1) << c.message;
    EXPECT_TRUE(saved.empty()) << c.message;
    EXPECT_FALSE(prompt.stepWindowVisible) << c.message;
    c.restore();
  }

  // Every field back: the save goes through with the second artist alone.
  ASSERT_TRUE(panel->save());
  const std::string after = Read(data::kSongs, 1, "00000002");
  EXPECT_EQ(GetRaw(after, data::song::kArtist1), "     ");
  EXPECT_EQ(GetRaw(after, data::song::kArtist2), "A0003");
  EXPECT_EQ(GetRaw(after, data::song::kCategory), "POP  ");
  EXPECT_EQ(data::song::DurationSeconds(after), 999);
}

TEST_F(SongFormPanelTest, AccentedAndUnknownCodesComeBackUnchanged) {
  // Codes are Windows-1252 bytes in the records: "É" is one byte there.
  const std::string accented = Utf8ToCp1252("É0001"), variety = Utf8ToCp1252("VARIÉ");
  InsertEverywhere(data::kArtists, Artist(accented, "Élodie Roy"));
  InsertEverywhere(data::kCodeTables, Category("CATEG", variety, "Variétés"));
  // Z9999 is in no artist file (deleted since), FOLK in no code table.
  InsertEverywhere(data::kSongs, Complete(Song("00000010", "Accents", 200, accented, variety)));
  std::string folk = Complete(Song("00000011", "Inconnus", 200, "A0001", "FOLK"));
  SetRaw(folk, data::song::kArtist2, "Z9999");
  InsertEverywhere(data::kSongs, folk);

  const std::string before = Read(data::kSongs, 1, "00000010");
  panel->load(1, "00000010");
  EXPECT_EQ(panel->artist1()->currentText(), QString::fromUtf8("Élodie Roy"));
  EXPECT_EQ(panel->category()->currentText(), QString::fromUtf8("Variétés"));
  EXPECT_FALSE(panel->modified());  // codes shown through UTF-8 compare back as loaded
  ASSERT_TRUE(panel->save());
  EXPECT_EQ(Read(data::kSongs, 1, "00000010"), before);

  const std::string beforeFolk = Read(data::kSongs, 1, "00000011");
  panel->load(1, "00000011");
  const int artists = panel->artist2()->count(), categories = panel->category()->count();
  EXPECT_EQ(panel->artist2()->currentText(), "Z9999");  // shown as its code
  EXPECT_EQ(panel->category()->currentText(), "FOLK");
  EXPECT_FALSE(panel->modified());
  ASSERT_TRUE(panel->save());
  EXPECT_EQ(Read(data::kSongs, 1, "00000011"), beforeFolk);

  // The next song is not offered the previous one's unknown codes.
  panel->load(1, "00000003");
  EXPECT_EQ(panel->artist2()->findText("Z9999"), -1);
  EXPECT_EQ(panel->category()->findText("FOLK"), -1);
  EXPECT_EQ(panel->artist2()->count(), artists - 1);
  EXPECT_EQ(panel->category()->count(), categories - 1);
  EXPECT_EQ(panel->artist2()->currentIndex(), 0);
}

TEST_F(SongFormPanelTest, LeavingAnEditedSongAsksWhetherToSaveIt) {
  panel->load(1, "00000002");
  panel->title()->setText(QString::fromUtf8("Gardé en quittant"));
  prompt.answers = {Answer::Yes};
  panel->load(1, "00000003");
  EXPECT_EQ(prompt.shown.front().text, "Voulez-vous enregistrer les modifications du morceau 00000002 ?");
  EXPECT_EQ(prompt.shown.front().icon, Icon::Question);
  EXPECT_EQ(data::GetText(Read(data::kSongs, 1, "00000002"), data::song::kTitle), "Gardé en quittant");
  EXPECT_EQ(panel->title()->text(), "Autre");  // the next song is shown

  const std::string before = Read(data::kSongs, 1, "00000003");
  panel->title()->setText(QString::fromUtf8("Abandonné"));
  prompt.answers = {Answer::No};
  panel->load(1, "00000002");
  EXPECT_EQ(Read(data::kSongs, 1, "00000003"), before);
  EXPECT_EQ(panel->title()->text(), QString::fromUtf8("Gardé en quittant"));
  // No question when nothing was changed.
  const size_t asked = prompt.shown.size();
  panel->load(1, "00000003");
  EXPECT_EQ(prompt.shown.size(), asked);
}

TEST_F(SongFormPanelTest, APlayableFlagOfAIsKeptUntilTheCheckIsChanged) {
  std::string r = Complete(Song("00000020", "Flag", 200));
  SetRaw(r, data::song::kPlayable, "A");
  InsertEverywhere(data::kSongs, r);
  const auto flag = [this] { return GetRaw(Read(data::kSongs, 1, "00000020"), data::song::kPlayable); };

  panel->load(1, "00000020");
  EXPECT_FALSE(panel->playable()->isChecked());
  ASSERT_TRUE(panel->save());
  EXPECT_EQ(flag(), "A");
  panel->playable()->setChecked(true);
  ASSERT_TRUE(panel->save());
  EXPECT_EQ(flag(), "O");
  panel->playable()->setChecked(false);
  ASSERT_TRUE(panel->save());
  EXPECT_EQ(flag(), "N");
}

TEST_F(SongFormPanelTest, ChoicesAreThoseOfTheSongsStation) {
  ASSERT_EQ(Insert(data::kArtists, 2, Artist("A0009", "Seule Sur Deux")), 0);
  panel->load(1, "00000002");
  EXPECT_EQ(panel->artist1()->findText("Seule Sur Deux"), -1);
  panel->load(2, "00000002");
  EXPECT_GE(panel->artist1()->findText("Seule Sur Deux"), 0);
  EXPECT_EQ(panel->artist1()->currentText(), QString::fromUtf8("Émile Durand"));
  // Saved from station 2, the song of station 1 is left as it was.
  const std::string station1 = Read(data::kSongs, 1, "00000002");
  panel->artist1()->setCurrentText("Seule Sur Deux");
  ASSERT_TRUE(panel->save());
  EXPECT_EQ(GetRaw(Read(data::kSongs, 2, "00000002"), data::song::kArtist1), "A0009");
  EXPECT_EQ(Read(data::kSongs, 1, "00000002"), station1);

  // An artist added meanwhile (by another workstation) is offered once the
  // lists are read again, not before.
  ASSERT_EQ(Insert(data::kArtists, 2, Artist("A0010", "Nouvelle Venue")), 0);
  panel->load(2, "00000003");
  EXPECT_EQ(panel->artist1()->findText("Nouvelle Venue"), -1);
  panel->invalidateChoices();
  panel->load(2, "00000003");
  EXPECT_GE(panel->artist1()->findText("Nouvelle Venue"), 0);
  EXPECT_EQ(panel->artist1()->currentText(), QString::fromUtf8("Zoé Martin"));
}

TEST_F(SongFormPanelTest, ASongNotFoundEmptiesAndDisablesTheForm) {
  panel->load(1, "00000002");
  ASSERT_TRUE(panel->isEnabled());
  panel->load(1, "99999999");
  EXPECT_FALSE(panel->isEnabled());
  for (const QString& shown : {panel->code()->text(), panel->title()->text(), panel->shortTitle()->text(),
                               panel->artist1()->currentText(), panel->artist2()->currentText(),
                               panel->category()->currentText()})
    EXPECT_TRUE(shown.isEmpty()) << shown.toStdString();
  EXPECT_EQ(panel->durationText()->text(), "00:00");
  EXPECT_FALSE(panel->forced()->isChecked() || panel->playable()->isChecked() || panel->duration()->value() ||
               panel->forcedSeconds()->value());
  // Nothing to save, nothing asked, nothing written.
  const std::string before = Read(data::kSongs, 1, "00000002");
  EXPECT_FALSE(panel->save());
  EXPECT_TRUE(prompt.shown.empty());
  EXPECT_TRUE(saved.empty());
  EXPECT_EQ(Read(data::kSongs, 1, "00000002"), before);
  EXPECT_TRUE(Read(data::kSongs, 1, "99999999").empty());
}

TEST_F(SongFormPanelTest, FitsTheTabUnderTheGridOnASmallScreen) {
  panel->load(1, "00000002");
  QApplication::processEvents();
  const QSize least = panel->minimumSizeHint();
  EXPECT_LE(least.height(), 260);
  EXPECT_LE(least.width(), 1366);
  // At that size nothing is squeezed below its own minimum.
  for (QWidget* w : panel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (!w->isVisible()) continue;
    EXPECT_GE(w->height(), w->minimumSizeHint().height()) << w->objectName().toStdString();
    EXPECT_TRUE(panel->rect().contains(QRect(w->mapTo(panel.get(), QPoint(0, 0)), w->size())))
        << w->objectName().toStdString();
  }
}

}  // namespace
}  // namespace sono::ui
