// The conversion queue (fpSpreadConversion): rows waiting for the converter,
// converted one after the other by ConversionDesSons, which TimerConvert
// starts every 500 ms while rows wait. Three sheets: "Fichiers à convertir",
// "Fichiers convertis", "Erreurs de conversion"; a row moves to the second or
// the third once done. The desktop shows the sheets; the command line and
// tests drive the same model.
#pragma once
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "convert/convert_driver.h"
#include "core/ports.h"

namespace sono::convert {

enum class QueueSheet { ToConvert = 0, Converted = 1, Errors = 2 };
inline constexpr int kQueueSheets = 3;
inline constexpr std::array<const char*, kQueueSheets> kQueueSheetNames = {
    "Fichiers à convertir", "Fichiers convertis", "Erreurs de conversion"};
inline constexpr int kQueueColumns = 22;
// The "Send UDP" column, the one cell of a waiting row the user switches.
inline constexpr int kSendUdpColumn = 18;
// The headers of a sheet, in the grid's order.
std::array<std::string, kQueueColumns> QueueHeaders(QueueSheet sheet);

inline constexpr const char* kTimerConvert = "TimerConvert";
inline constexpr int kTimerConvertMs = 500;

struct QueueRow {
  std::string source, target;  // on the error sheet, `explanation` shows in the second column
  std::string explanation;
  std::string timing;          // "HH:MM:SS" when it was done
  ConversionRequest request;   // Param 1 to 5: format code, frequency, bit rate, channels, bits
  std::string code;            // "Morceau": the song's code, blank for an export
  bool toDo = true;            // "A Traiter"
  bool updateBase = true;      // "MAJ Base"
  bool sendUdp = true;         // "Send UDP": the suite is told of the converted sound (off: nothing sent)
  bool keepPtx = true;         // "Keep Ptx"
  bool isExport = false;       // "Export"
  std::string localTarget;     // "Fichier cible local": converted there, then copied to the target
  bool append = false;         // converted into the local target, then appended to the end of the target
  std::array<std::string, kQueueColumns> cells(QueueSheet sheet) const;
};

class ConversionQueue {
 public:
  ConversionQueue(ConverterPorts ports, ConverterDriver& driver) : p_(ports), driver_(driver) {}

  // Registers TimerConvert's work with the scheduler (500 ms, on).
  void attach(Scheduler& scheduler);

  // AddToConvertListS48: logs the request, finds or makes its row
  // (DetermineNoLigConvert) and fills it; returns the row's index.
  int AddToConvertListS48(const std::string& code, const std::string& source, const std::string& target,
                          const std::string& localTarget, const std::string& callerMark,
                          const ConversionRequest& request, bool isExport = false, bool append = false);
  // The row of `source` when it is queued and the user chooses to replace
  // that conversion; a new row otherwise.
  int DetermineNoLigConvert(const std::string& source);

  // ConversionDesSons: converts every row to do, in order. Does nothing while
  // already running (the converter's wait lets the timer fire).
  void ConversionDesSons(bool showMessages = true);

  // The "Send UDP" cell of a row still to convert, switched by the user: off,
  // the conversion's change notification is not queued. An export tells no
  // song and keeps it off. False when the row cannot take the value.
  bool setSendUdp(size_t row, bool on);

  const std::vector<QueueRow>& sheet(QueueSheet s) const { return sheets_[static_cast<size_t>(s)]; }
  int pending() const;
  bool running() const { return running_; }
  // A change to show (rows added, moved, done).
  std::function<void()> onChanged;
  // A song's new sound is in place: reload it, write its durations; tell the
  // suite when `sendUdp` (the row's "Send UDP").
  std::function<void(const std::string& code, const std::string& target, bool sendUdp)> onSongConverted;
  // A song's sound was replaced (not appended to), before onSongConverted.
  std::function<void(const std::string& code)> onSoundReplaced;
  // After the queue: recount the average durations (artists, then categories).
  std::function<void()> recountArtists, recountCategories;
  // AfficherPopupConvert; by default an information box.
  std::function<void(const std::string& text)> onPopup;

 private:
  bool processRow(QueueRow& row, std::string& error);
  void changed() {
    if (onChanged) onChanged();
  }
  ConverterPorts p_;
  ConverterDriver& driver_;
  std::array<std::vector<QueueRow>, kQueueSheets> sheets_;
  bool running_ = false;
};


}  // namespace sono::convert
