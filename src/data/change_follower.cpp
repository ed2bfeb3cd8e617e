#include "data/change_follower.h"

#include <algorithm>

#include "data/btr/base_changes.h"
#include "data/btr/btr.h"

namespace sono::data {

namespace {

// The folder and the name of a file's path.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {"", path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

}  // namespace

size_t ChangeFollower::rowsDue() const { return static_cast<size_t>(std::count(due_.begin(), due_.end(), true)); }

FollowUp ChangeFollower::tick(SongSearch& search, int station, TitleOption titles, size_t first, size_t last) {
  FollowUp out;
  SongGrid& grid = search.grid;
  // The grid changed under us (a new search, a sort, a save): the rows are
  // others, or in another order. Rows still due stay due, all of them.
  if (grid.generation() != generation_) {
    const bool anyDue = std::find(due_.begin(), due_.end(), true) != due_.end();
    due_.assign(grid.size(), anyDue);
    generation_ = grid.generation();
  }
  const auto [folder, name] = SplitPath(lib_.db().NomFichierBTR(lib_.base(), kSongs, station));
  if (!folder.empty()) {
    const btr::BaseChanges changes = btr::TakeBaseChanges(folder);
    const auto changed = [&changes](const std::string& file) {
      return changes.everything || std::find(changes.files.begin(), changes.files.end(), file) != changes.files.end();
    };
    out.everything = changes.everything;
    out.songFileChanged = changed(name);
    out.pointerFileChanged = changed(SplitPath(lib_.db().NomFichierBTR(lib_.base(), kPointers, station)).second);
  }
  if (out.songFileChanged) due_.assign(grid.size(), true);
  if (first <= last && first < grid.size()) {
    last = std::min(last, grid.size() - 1);
    for (size_t row = first; row <= last; ++row) {
      if (!due_[row]) continue;
      due_[row] = false;
      if (search.RafraichirLigne(row, station, titles)) out.rowsRead.push_back(row);
    }
  }
  generation_ = grid.generation();
  return out;
}

// Questions and the step window of the search run again: nobody asked for
// it, so nothing shows; what it would have said is logged.
class GridFollower::QuietPrompt : public Prompt {
 public:
  explicit QuietPrompt(TraceLogger& log) : log_(log) {}
  Answer message(const std::string& text, Icon, Buttons buttons, const std::string&) override {
    log_.TraceLog("Follow: search run again: not asked |" + text);
    switch (buttons) {
      case Buttons::Ok: return Answer::Ok;
      case Buttons::OkCancel: case Buttons::YesNoCancel: return Answer::Cancel;
      case Buttons::YesNo: return Answer::No;
      case Buttons::AbortRetryIgnore: return Answer::Abort;
    }
    return Answer::Cancel;
  }
  std::optional<std::string> pickFolder(const std::string&, const std::string&) override { return std::nullopt; }
  std::optional<std::string> pickFile(const std::string&, const std::string&, const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> pickSaveFile(const std::string&, const std::string&, const std::string&) override {
    return std::nullopt;
  }
  std::optional<int> chooseItem(const std::string&, const std::vector<std::string>&, int) override {
    return std::nullopt;
  }
  void showStepWindow(bool) override {}
  void setStepLabel(const std::string&) override {}

 private:
  TraceLogger& log_;
};

// The window's events, run for the search: a database call made meanwhile
// moved the positions the search reads from, so the search is given up (its
// next reads find the end of the file without reaching the record manager).
class GridFollower::WatchedEvents : public EventLoop {
 public:
  WatchedEvents(EventLoop& inner, PervasiveLayer& db) : inner_(inner), db_(db) {}
  void processEvents() override {
    if (disturbed) {
      inner_.processEvents();
      return;
    }
    PervasiveLayer::CallFn own = db_.call;
    bool used = false;
    db_.call = [&used, own](int op, void* block, void* data, std::uint32_t& length, void* key, int keyLength,
                            int keyNumber) {
      used = true;
      return own(op, block, data, length, key, keyLength, keyNumber);
    };
    inner_.processEvents();
    db_.call = own;
    if (!used) return;
    disturbed = true;
    if (onDisturbed) onDisturbed();
    saved_ = std::move(own);
    db_.call = [](int, void*, void*, std::uint32_t&, void*, int, int) { return btr::status::kEndOfFile; };
  }
  // The search is over: the record manager answers again.
  void reset() {
    if (saved_) db_.call = std::move(saved_);
    saved_ = nullptr;
    disturbed = false;
  }
  bool disturbed = false;
  std::function<void()> onDisturbed;

 private:
  EventLoop& inner_;
  PervasiveLayer& db_;
  PervasiveLayer::CallFn saved_;
};

GridFollower::GridFollower(Library& lib, DurationStatistics& stats)
    : lib_(lib),
      prompt_(std::make_unique<QuietPrompt>(lib.log())),
      events_(std::make_unique<WatchedEvents>(lib.events(), lib.db())) {
  quietLib_ = std::make_unique<Library>(
      LibraryPorts{lib.db(), lib.config(), lib.log(), *prompt_, *events_, lib.clock()});
  search_ = std::make_unique<SongSearch>(*quietLib_, stats);
  search_->skipDurationRepair = true;
  search_->makeCompanions = false;
  events_->onDisturbed = [this] { search_->stopRequested = true; };
}

GridFollower::~GridFollower() = default;

bool GridFollower::follow(const SearchRequest& request, const SearchFilters& filters, SongGrid& shown) {
  if (!due_ || running_) return false;
  due_ = false;
  running_ = true;
  const uint64_t generation = shown.generation();
  search_->filters = filters;
  search_->RechercheDansLaBase_01_Morceau(request);
  SongGrid& fresh = search_->grid;
  if (!events_->disturbed && shown.sortColumn >= 0) fresh.sortBy(shown.sortColumn, shown.sortAscending);
  // Given up: the window used the database, or changed the grid (a search
  // asked for, a sort) while this one ran.
  const bool givenUp = events_->disturbed || search_->stopRequested || shown.generation() != generation;
  events_->reset();
  running_ = false;
  if (givenUp) {
    ++givenUp_;
    fresh.clear();
    due_ = true;
    lib_.log().TraceLog("Follow: search run again given up: the window used the database meanwhile");
    return false;
  }
  shown.mergeRows(fresh);
  return true;
}

}  // namespace sono::data
