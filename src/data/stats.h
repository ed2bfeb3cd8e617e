// Average durations for scheduling: every artist record and every "CATEG"
// entry keeps the number of songs counted and their total seconds. Saving a
// song only queues its artists and category; the queues are drained later by
// recounting the songs of each code, station by station.
//
// A count or total wider than its field (4 and 8 digits) is written as all
// nines and logged. The VPN-workstation option skips the recounts: the queues
// are emptied without any write. Recounts are written in batches, each one
// transaction over every station; a batch that meets an error goes back
// whole ("Err: Statistics not recounted: …") and the recount reports false.
//
// Decision (speed): a queue of many codes (a whole library's recount) is
// counted in one read of every song of each station, each song added to its
// code's count, before the writes; a short queue (a song saved) reads only
// the songs of its codes by key. Both give the same counts. A code queued
// again after that read began (a song saved while the recount lets the
// window answer) is counted again by key at its turn, so that it is never
// written from a count older than its last save.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "data/fields.h"
#include "data/library.h"

namespace sono::data {

class DurationStatistics {
 public:
  explicit DurationStatistics(Library& lib) : lib_(lib) {}

  // Queues the song's artists and category (each code once).
  void MAJDureesEtDureeMoyenne(const std::string& songRecord);
  void queueArtist(const std::string& code);
  void queueCategory(const std::string& code);
  // False when a code could not be recounted or written (nothing of its
  // batch is then stored).
  bool MAJDureeMoyenneArtistes();
  bool MAJDureeMoyenneCategories();
  // Both, the songs read once for the two when either queue is long.
  bool RecountArtistsAndCategories();
  // Recounts one category on one station without writing anything.
  bool VerifierDureeMoyenneCategorie(int station, const std::string& category, long long& count,
                                     long long& total);

  // The codes waiting, first to be recounted first.
  std::vector<std::string> artistQueue() const { return waiting(ListeArtistesCorrigerDuree); }
  std::vector<std::string> categoryQueue() const { return waiting(ListeCategoriesCorrigerDuree); }
  bool skipRecount = false;  // the VPN-workstation option

 private:
  // Where a recount writes: the record of `file` found by keyPrefix + code,
  // the songs counted on key `songKey` of the song file.
  struct Target {
    const char* procedure;
    std::string what;
    FileNumber file;
    KeyNumber songKey;  // the songs' key holding the code
    std::string keyPrefix;
    Field counted;  // length 0 when the record has no such flag
    Field count, total;
    Field songField;    // the song record's field that key holds
    size_t onePassFrom;  // codes queued from which every song is read once
  };
  // Count and total of the songs of each code (its 5 bytes packed).
  struct Tally {
    long long count = 0, total = 0;
  };
  using Tallies = std::unordered_map<uint64_t, Tally>;
  // Per station (index 0 unused): the tallies of one read, none where the
  // songs could not all be read.
  using StationTallies = std::vector<std::optional<Tallies>>;
  // Every song of every station read once, each added to the tally of its
  // artist (into `artists`) and of its category (`categories`), either one
  // null when not asked.
  void countAll(StationTallies* artists, StationTallies* categories);
  // Count and total of the songs whose key `keyNumber` equals `code`; false
  // when the songs could not all be read.
  bool count(int station, KeyNumber keyNumber, const std::string& code, long long& count, long long& total);
  void writeNumber(std::string& record, Field f, long long value, const std::string& what);
  // A queue of codes, each once, taken from the front.
  struct Queue {
    std::vector<std::string> codes;
    std::unordered_set<std::string> queued;
    size_t next = 0;  // codes before it are taken
    void add(const std::string& code);
    bool empty() const { return next == codes.size(); }
    size_t size() const { return codes.size() - next; }
    // Codes queued (again or for the first time) since `tallying` was set.
    bool tallying = false;
    std::unordered_set<std::string> queuedSinceTally;
    std::string take();
    void clear();
  };
  // `tallies`: what a read of every song made for this queue, or empty.
  bool drain(Queue& queue, const Target& target, StationTallies tallies = {});
  static const Target& ArtistTarget();
  static const Target& CategoryTarget();
  static std::vector<std::string> waiting(const Queue& queue);
  Library& lib_;
  Queue ListeArtistesCorrigerDuree, ListeCategoriesCorrigerDuree;
};

}  // namespace sono::data
