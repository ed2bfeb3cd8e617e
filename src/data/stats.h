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
#pragma once
#include <string>
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
  };
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
    std::string take();
    void clear();
  };
  bool drain(Queue& queue, const Target& target);
  static std::vector<std::string> waiting(const Queue& queue);
  Library& lib_;
  Queue ListeArtistesCorrigerDuree, ListeCategoriesCorrigerDuree;
};

}  // namespace sono::data
