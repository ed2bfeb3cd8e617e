// Sound edits on a real house-format sound of the demo kind, each of whose
// frames is stamped with where it came from (its file and its number), so
// that a result can be read back frame by frame.
#include "editor/sound_edits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

#include "editor_window.h"
#include "frame_stamps.h"
#include "library_fixture.h"
#include "audio_test_support.h"
#include "test_support.h"
#include "core/datetime.h"
#include "core/files.h"
#include "core/house_format.h"
#include "core/text.h"
#include "data/fields.h"
#include "data/ptx.h"
#include "data/songs.h"
#include "demo/demo_sounds.h"
#include "editor/duration_meter.h"
#include "editor/pointer_editor.h"
#include "editor/raster_canvas.h"

namespace sono::editor {
namespace {

namespace fs = std::filesystem;

using test::Frames;
using test::Origin;
using test::Origins;
using test::StampFrames;
using test::operator+;

TEST(FrameEdit, SelectionFramesAndHowTimesMove) {
  EXPECT_EQ(FrameOfMs(0), 1);  // a selection from 0 starts at frame 1
  EXPECT_EQ(FrameOfMs(1000), 42);
  EXPECT_EQ(FrameOfMs(2000), 83);
  const FrameSpan s = SelectionFrames(1000, 2000, 500);
  EXPECT_EQ(s.first, 42);
  EXPECT_EQ(s.last, 83);
  EXPECT_EQ(s.startMs(), 984);
  EXPECT_EQ(s.endMs(), 1992);
  EXPECT_EQ(SelectionFrames(2000, 1000, 500).first, 42);  // dragged backwards
  EXPECT_EQ(SelectionFrames(1000, 99999, 100).last, 100);  // held to the last frame
  EXPECT_TRUE(SelectionFrames(0, 5, 100).empty());  // less than half a frame
  // Pieces kept around overlapping, unordered cuts.
  const auto kept = KeptPieces("f", 100, {{50, 60}, {1, 10}, {55, 70}});
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].frames.first, 11);
  EXPECT_EQ(kept[0].frames.last, 49);
  EXPECT_EQ(kept[1].frames.first, 71);
  EXPECT_EQ(kept[1].frames.last, 100);
  EXPECT_TRUE(KeptPieces("f", 10, {{1, 10}}).empty());
  // A cut of frames 42..83 is [984, 1992): 1008 ms.
  EXPECT_EQ(TimeAfterCut(983, s), 983);
  EXPECT_EQ(TimeAfterCut(984, s), 984);
  EXPECT_EQ(TimeAfterCut(1500, s), 984);  // inside: to the cut's start
  EXPECT_EQ(TimeAfterCut(1992, s), 984);
  EXPECT_EQ(TimeAfterCut(5000, s), 3992);
  EXPECT_EQ(TimeAfterInsert(999, 1000, 240), 999);
  EXPECT_EQ(TimeAfterInsert(1000, 1000, 240), 1240);
}

using test::EditorWindow;

class SoundEditsTest : public data::test::LibraryFixture {
 protected:
  static constexpr const char* kCode = "00000101";
  static constexpr uint32_t kSoundMark = 1;

  SoundEditsTest() {
    InsertEverywhere(data::kSongs, Song(kCode, "Premier", 20));
    soundFile = data::SoundFilePath(*lib, 1, kCode);
    std::string error;
    EXPECT_TRUE(demo::WriteDemoSound(soundFile, 20, false, 7, error)) << error;
    StampFrames(soundFile, kSoundMark);
    frames = HouseFrameCount(soundFile);
    // Strip pixels are milliseconds; wide enough for every sound the edits make.
    window = std::make_unique<EditorWindow>(*lib, *stats, 200000);
    EXPECT_TRUE(ed().InitSoundPtx(SoundLoad::NewSelection, false, "Test", {kCode, 1, 20000, soundFile, {}, {}}));
  }
  PointerEditor& ed() { return window->editor; }
  SoundEdits& edits() { return window->edits; }
  // A selection on the strip, in ms (the strip's scale changes with the sound's length).
  void Select(int fromMs, int toMs) {
    ed().StripMouseDown(MouseButton::Left, 0, {});
    StripSelection& s = ed().sound.selection;
    s.startMs = std::min(fromMs, toMs);
    s.endMs = std::max(fromMs, toMs);
    s.marked = true;
  }
  // The pointer slots as the database gives them back (loaded again).
  PointerSnapshot StoredPointers() {
    data::PointerSet set(*lib);
    set.Load(1, kCode, HouseFrameCount(soundFile) * kHouseFrameMs, true);
    PointerSnapshot s;
    s.position = set.position;
    s.second = set.second;
    return s;
  }
  long long SongDurationMs(int station) {
    return data::song::DurationSeconds(Read(data::kSongs, station, Calibre(kCode, 8))) * 1000;
  }

  std::string soundFile;
  long long frames = 0;
  std::unique_ptr<EditorWindow> window;
};

TEST_F(SoundEditsTest, CutPasteAtEndAndUndoFrameByFrameWithPointersAndDurations) {
  Select(5000, 5000);
  ASSERT_TRUE(ed().StripMenu(StripMenuEntry::Intro));
  Select(12000, 14000);
  ASSERT_TRUE(ed().StripMenu(StripMenuEntry::Hook));
  ASSERT_TRUE(ed().StorePointers());
  const std::string original = ReadWholeFile(soundFile).value();
  const auto n = static_cast<uint32_t>(frames);

  Select(1000, 2000);
  ASSERT_TRUE(edits().MnuCopyCutPaste(CopyCutPasteMode::Cut, "Test")) << edits().lastMessage;
  EXPECT_EQ(Origins(soundFile), Frames(kSoundMark, 1, 41) + Frames(kSoundMark, 84, n));
  EXPECT_EQ(Origins(edits().extractFile()), Frames(kSoundMark, 42, 83));
  EXPECT_EQ(edits().UndoMenuText(), "Undo: 1");
  EXPECT_EQ(edits().progressLabel, "");  // cleared once the sound is back in the editor
  // Pointers after the cut moved back by its 1008 ms, on every station.
  EXPECT_EQ(ed().ptx.position[data::kIntro], 5000 - 1008);
  EXPECT_EQ(StoredPointers().position[data::kHook], 12000 - 1008);
  EXPECT_EQ(StoredPointers().second[data::kHook], 2000);
  EXPECT_EQ(ed().sound.checkedDuration, static_cast<int>((n - 42) * kHouseFrameMs));
  for (int station : {1, 2}) EXPECT_EQ(SongDurationMs(station), ed().sound.duration) << station;
  EXPECT_FALSE(File_Exist(SoundEdits::JournalFileName(soundFile)));

  ASSERT_TRUE(edits().MnuCopyCutPaste(CopyCutPasteMode::PasteAtEnd, "Test")) << edits().lastMessage;
  EXPECT_EQ(Origins(soundFile), Frames(kSoundMark, 1, 41) + Frames(kSoundMark, 84, n) + Frames(kSoundMark, 42, 83));
  EXPECT_EQ(ed().ptx.position[data::kIntro], 5000 - 1008);  // before the insertion: stays
  EXPECT_EQ(edits().UndoMenuText(), "Undo: 2");

  ASSERT_TRUE(edits().Undo("Test"));
  EXPECT_EQ(Origins(soundFile), Frames(kSoundMark, 1, 41) + Frames(kSoundMark, 84, n));
  ASSERT_TRUE(edits().Undo("Test"));
  EXPECT_EQ(ReadWholeFile(soundFile).value(), original);
  EXPECT_EQ(StoredPointers().position[data::kHook], 12000);
  EXPECT_EQ(ed().ptx.position[data::kIntro], 5000);
  EXPECT_EQ(edits().UndoMenuText(), "Undo: 0");
  for (int level : {1, 2}) EXPECT_FALSE(File_Exist(PointerEditor::UndoFileName(soundFile, level)));

  // Nothing left to undo: said, and nothing changes.
  prompt.shown.clear();
  EXPECT_FALSE(edits().Undo("Test"));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Aucun Undo à faire.");
  EXPECT_EQ(ReadWholeFile(soundFile).value(), original);

  // The editor's log list went to the trace log with its stamp.
  EXPECT_TRUE(edits().editorLog().empty());
}

TEST_F(SoundEditsTest, PasteAtThePlayPositionAtTheBeginningAndTrimFromZero) {
  const auto n = static_cast<uint32_t>(frames);
  Select(0, 240);  // from 0: frames 1 to 10
  ASSERT_TRUE(edits().MnuCopyCutPaste(CopyCutPasteMode::Copy, "Test"));
  EXPECT_EQ(Origins(edits().extractFile()), Frames(kSoundMark, 1, 10));
  EXPECT_EQ(edits().UndoMenuText(), "Undo: 0");  // a copy leaves the sound alone

  ed().playPosition = 480;  // frame 20 and on move after the extract
  ASSERT_TRUE(edits().MnuCopyCutPaste(CopyCutPasteMode::Paste, "Test"));
  EXPECT_EQ(Origins(soundFile), Frames(kSoundMark, 1, 20) + Frames(kSoundMark, 1, 10) + Frames(kSoundMark, 21, n));
  ASSERT_TRUE(edits().MnuCopyCutPaste(CopyCutPasteMode::PasteAtBegin, "Test"));
  EXPECT_EQ(Origins(soundFile),
            Frames(kSoundMark, 1, 10) + Frames(kSoundMark, 1, 20) + Frames(kSoundMark, 1, 10) + Frames(kSoundMark, 21, n));

  // Trim asks with both parts named; No changes nothing, Yes keeps the selection.
  Select(2400, 4800);  // frames 100 to 200
  prompt.answers = {Answer::No};
  EXPECT_FALSE(edits().SoundTrim("Test"));
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_EQ(prompt.shown.back().text, "Voulez-vous couper le fichier de 00:00.00 à 00:02.37 et de 00:04.80 à " +
                                          Trim(Tps2MinSecCen((n + 20) * kHouseFrameMs)) + " ?");
  EXPECT_EQ(edits().UndoMenuText(), "Undo: 2");
  prompt.answers = {Answer::Yes};
  ASSERT_TRUE(edits().SoundTrim("Test"));
  EXPECT_EQ(Origins(soundFile), Frames(kSoundMark, 80, 180));
  // The whole sound selected: nothing to cut.
  Select(0, 101 * kHouseFrameMs);
  prompt.shown.clear();
  EXPECT_FALSE(edits().SoundTrim("Test"));
  EXPECT_EQ(prompt.shown.at(0).text, "Rien à couper.");
}

TEST_F(SoundEditsTest, SoundChangedOnDiskIsNotEditedWithoutAQuestion) {
  Select(1000, 2000);
  // Another workstation writes the sound after it was loaded here.
  const std::string theirs = ReadWholeFile(soundFile).value().substr(0, 300 * kHouseFrameBytes);
  ASSERT_TRUE(WriteFileAtomic(soundFile, theirs));
  prompt.answers = {Answer::No};
  EXPECT_FALSE(edits().MnuCopyCutPaste(CopyCutPasteMode::Cut, "Test"));
  EXPECT_NE(prompt.shown.back().text.find("a été modifié sur le disque"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(soundFile).value(), theirs);
  EXPECT_EQ(edits().UndoMenuText(), "Undo: 0");
  prompt.answers = {Answer::Yes};
  EXPECT_TRUE(edits().MnuCopyCutPaste(CopyCutPasteMode::Cut, "Test"));
  EXPECT_EQ(Origins(soundFile), Frames(kSoundMark, 1, 41) + Frames(kSoundMark, 84, 300));
}

// A disk that fills while the result is written: the sound, its pointers
// and the undo levels stay as they were, nothing is left beside the sound,
// and the message says why.
TEST_F(SoundEditsTest, AFullDiskLeavesTheSoundItsPointersAndNoUndoLevel) {
  Select(5000, 5000);
  ASSERT_TRUE(ed().StripMenu(StripMenuEntry::Intro));
  ASSERT_TRUE(ed().StorePointers());
  const std::string original = ReadWholeFile(soundFile).value();
  const auto entries = [this] {
    auto names = test::FolderEntries(fs::path(soundFile).parent_path().string());
    std::sort(names.begin(), names.end());
    return names;
  };
  const auto folder = entries();
  Select(1000, 2000);
  ASSERT_TRUE(edits().MnuCopyCutPaste(CopyCutPasteMode::Copy, "Test"));  // 42 frames: written before the limit
  for (const CopyCutPasteMode mode : {CopyCutPasteMode::Cut, CopyCutPasteMode::PasteAtEnd}) {
    {
      test::FileSizeLimit full(100 * 1024);
      EXPECT_FALSE(edits().MnuCopyCutPaste(mode, "Test"));
    }
    EXPECT_NE(edits().lastMessage.find("disque plein"), std::string::npos) << edits().lastMessage;
    EXPECT_EQ(ReadWholeFile(soundFile).value(), original);
    EXPECT_EQ(entries(), folder);
    EXPECT_EQ(edits().UndoMenuText(), "Undo: 0");
    EXPECT_EQ(StoredPointers().position[data::kIntro], 5000);
    EXPECT_FALSE(edits().busy());
  }
}

TEST_F(SoundEditsTest, DeleteKeepsTheSoundAsAnUndoLevel) {
  Select(5000, 5000);
  ASSERT_TRUE(ed().StripMenu(StripMenuEntry::Intro));
  ASSERT_TRUE(ed().StorePointers());
  const std::string original = ReadWholeFile(soundFile).value();
  prompt.answers = {Answer::Yes};
  ASSERT_TRUE(edits().SoundDelete("Test"));
  EXPECT_FALSE(File_Exist(soundFile));
  EXPECT_EQ(StoredPointers().position[data::kIntro], 0);
  ASSERT_TRUE(edits().Undo("Test"));
  EXPECT_EQ(ReadWholeFile(soundFile).value(), original);
  EXPECT_EQ(StoredPointers().position[data::kIntro], 5000);
}

// Twenty random edits, each result decoded by FFmpeg without an error and
// the intro and hook following it (unchanged before the edit, moved by its
// length after it, drawn to a cut's start inside it), then undone one by
// one: every step gives back the sound byte for byte and the pointers as
// they were before that edit.
TEST_F(SoundEditsTest, RandomEditsUndoneStepByStepGiveEverythingBack) {
  Select(1000, 3000);
  ASSERT_TRUE(ed().StripMenu(StripMenuEntry::FadeIn));
  Select(6000, 6000);
  ASSERT_TRUE(ed().StripMenu(StripMenuEntry::Intro));
  Select(9000, 12000);
  ASSERT_TRUE(ed().StripMenu(StripMenuEntry::Hook));
  Select(16000, 18000);
  ASSERT_TRUE(ed().StripMenu(StripMenuEntry::FadeOut));
  ASSERT_TRUE(ed().StorePointers());

  std::mt19937 random(22);
  struct State {
    std::string bytes;
    PointerSnapshot pointers;
  };
  std::vector<State> before;
  for (int edit = 0; edit < 20; ++edit) {
    const int length = static_cast<int>(HouseFrameCount(soundFile) * kHouseFrameMs);
    ASSERT_GT(length, 4000);
    const int a = std::uniform_int_distribution<int>(0, length - 2000)(random);
    const int b = a + std::uniform_int_distribution<int>(100, 1500)(random);
    before.push_back({ReadWholeFile(soundFile).value(), StoredPointers()});
    Select(a, b);
    const int kind = std::uniform_int_distribution<int>(0, 4)(random);
    bool done = false;
    if (kind == 0) {
      done = edits().MnuCopyCutPaste(CopyCutPasteMode::Cut, "Test");
    } else if (kind == 4 && length > 12000) {
      Select(a / 4, a / 4 + length / 2);
      prompt.answers = {Answer::Yes};
      done = edits().SoundTrim("Test");
    } else {
      ASSERT_TRUE(edits().MnuCopyCutPaste(CopyCutPasteMode::Copy, "Test"));
      ed().playPosition = std::uniform_int_distribution<int>(0, length)(random);
      const auto mode = kind == 1 ? CopyCutPasteMode::Paste : kind == 2 ? CopyCutPasteMode::PasteAtBegin
                                                                        : CopyCutPasteMode::PasteAtEnd;
      done = edits().MnuCopyCutPaste(mode, "Test");
    }
    ASSERT_TRUE(done) << "edit " << edit << " kind " << kind << ": " << edits().lastMessage;
    ASSERT_EQ(ed().undoLevels, edit + 1);
    // Where the edit happened, in ms of the sound before it: [from, to) goes
    // (a cut), or the sound grows at `from` (a paste); a trim keeps [from, to).
    const long long delta = static_cast<long long>(HouseFrameCount(soundFile) * kHouseFrameMs) - length;
    const bool trim = kind == 4 && length > 12000;
    long long from = a, to = b;
    if (trim) {
      from = a / 4;
      to = a / 4 + length / 2;
    } else if (kind != 0) {
      from = to = kind == 1 ? ed().playPosition : kind == 2 ? 0 : length;
    }
    const PointerSnapshot now = StoredPointers();
    for (const auto slot : {data::kIntro, data::kHook}) {
      const auto i = static_cast<size_t>(slot);
      const auto& was = before.back().pointers;
      // Both ends of the pointer; frame rounding is kept out by a margin.
      const std::pair<long long, long long> ends[] = {{was.position[i], now.position[i]},
                                                      {was.position[i] + was.second[i], now.position[i] + now.second[i]}};
      for (const auto& [old, moved] : ends) {
        if (old == 0) continue;
        const bool nearEdit = std::abs(old - from) < 100 || std::abs(old - to) < 100;
        if (nearEdit || old > length - 200) continue;
        const std::string where = "edit " + std::to_string(edit) + " kind " + std::to_string(kind) + " slot " +
                                  std::to_string(slot) + " at " + std::to_string(old);
        if (trim) {
          if (old > from && old < to) {
            EXPECT_NEAR(moved, old - from, 48) << where;
          }
        } else if (old < from) {
          EXPECT_EQ(moved, old) << where;
        } else if (old >= to) {
          EXPECT_EQ(moved, old + delta) << where;
        } else {
          EXPECT_NEAR(moved, from, 48) << where;
        }
      }
    }
    // FFmpeg decodes every result without a word.
    int status = -1;
    const auto ff = test::RunProgram({"sh", "-c", "ffmpeg -v error -i \"$0\" -f null - 2>&1", soundFile}, &status);
    ASSERT_TRUE(ff.has_value());
    EXPECT_EQ(status, 0) << "edit " << edit;
    EXPECT_EQ(*ff, "") << "edit " << edit;
  }
  for (int edit = 19; edit >= 0; --edit) {
    ASSERT_TRUE(edits().Undo("Test")) << edit;
    ASSERT_EQ(ReadWholeFile(soundFile).value(), before[static_cast<size_t>(edit)].bytes) << "undo to " << edit;
    const PointerSnapshot now = StoredPointers();
    EXPECT_EQ(now.position, before[static_cast<size_t>(edit)].pointers.position) << "undo to " << edit;
    EXPECT_EQ(now.second, before[static_cast<size_t>(edit)].pointers.second) << "undo to " << edit;
  }
  EXPECT_EQ(SongDurationMs(2), ed().sound.duration);
}

}  // namespace
}  // namespace sono::editor
