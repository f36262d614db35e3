#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ardb/ardbs.h"
#include "core/value.h"
#include "optimizer/optimizer_view.h"
#include "storage/geometry.h"

// The optimizer run: it rebuilds the sector tree of every layer into temporary tables, rebuilds
// the object-to-sector table from the new trees, and swaps the new tables in for the live ones,
// undoing the renames already done when one fails. The live tables change only in the swap.
namespace atlor {

class TAtlorBase;
class TLayer;
class TSector;
class TRefObjectList;
class TDecodeLossCounter;

// What one layer's rebuild found and made, for the summary after a run.
struct TLayerSummary {
  std::string LayerId;
  std::string LayerName;
  int OldSectors = 0;     // sectors of the layer in the live table
  int NewSectors = 0;     // sectors of the new tree
  int Objects = 0;        // objects placed in the new tree
  int Depth = 0;          // levels below the root of the deepest new sector
  int LargestSector = 0;  // objects of the fullest new sector
  int LostObjects = 0;    // objects lost to damaged data (the run log says which)
};

enum class RunOutcome {
  kNotStarted,  // the backup warning was answered No
  kFinished,
  kStopped,
  kFailed,
};

// Bounds of the new trees.
inline constexpr int kSplitThreshold = 256;  // a sector holding more objects is split
inline constexpr int kMaxSectorDepth = 32;   // a sector this many levels below the root is never split

class TOptimizerRun {
 public:
  // The run works on db through base (the storage facade over db); view is its window.
  TOptimizerRun(IArDb& db, TAtlorBase& base, IOptimizerView& view);
  TOptimizerRun(const TOptimizerRun&) = delete;
  TOptimizerRun& operator=(const TOptimizerRun&) = delete;
  ~TOptimizerRun();

  // One run, from the backup warning to the final message. Errors of the phases and the swap
  // are reported (message box and run log) and do not propagate; an error while creating the
  // temporary tables does.
  RunOutcome StartClick();
  // Asks whether to stop and, on Yes, sets the stop flag.
  void StopClick();
  // Sets the stop flag without asking (Ctrl-C on a terminal).
  void RequestStop() { FStopped = true; }
  bool Stopped() const { return FStopped; }

  const std::vector<TLayerSummary>& Summary() const { return summary_; }
  const std::string& LastError() const { return last_error_; }
  const ProgressState& Progress() const { return progress_; }

  // The temporary and saved table names.
  static constexpr const char* kLayersTable = "ATLOR_LAYERS";
  static constexpr const char* kSectorsTable = "ATLOR_SECTORS";
  static constexpr const char* kObjInfoTable = "ATLOR_OBJINFO";

  // Steps of a run, public for the tests that drive them one by one.
  void CreateTempTables();
  void OptimizeLayers();
  void OptimizeLayer(TLayer& layer);
  void RebuildObjInfo();
  void SwapTables();
  void RenameTable(const std::string& from, const std::string& to);
  void DropTempTables();

  // Progress display.
  void BeginProgress(const std::string& text, int max);
  void StepProgress();
  void BeginSubProgress(const std::string& text, int max);
  void StepSubProgress();
  void ShowSubProgress();
  void HideSubProgress();

 private:
  struct WorkList;

  void RecalcObjectBounds(TSector& sector);
  void MoveObjects(TSector& sector, WorkList& work_list);
  TSector& FindTargetSector(WorkList& work_list, const TGeoRect& r);
  void SplitSectors(WorkList& work_list);
  void SaveNewSectors(TLayer& layer, WorkList& work_list);

  void InTransaction(const std::function<void()>& phase);
  void SetTitle(const std::string& title);
  void ShowProgress();

  IArDb& FDb;
  TAtlorBase& FBase;
  IOptimizerView& view_;
  bool FStopped = false;
  std::string FSectorsTmp = "ATLOR_SECTORS_TMP";
  std::string FObjInfoTmp = "ATLOR_OBJINFO_TMP";
  std::string FLayersTmp = "ATLOR_LAYERS_TMP";

  ProgressState progress_;
  std::vector<TLayerSummary> summary_;
  std::string last_error_;
  TDecodeLossCounter* losses_ = nullptr;  // during a run: counts objects lost to damaged data
};

// The date and time that the first log line of a run names.
std::string RunStartDateText(const DateTime& when);

// Checks that db is an Atlor database of the format version this program works on (265,
// ignoring bit 0x1000 of ATLOR_DBINFO.VERSION). On success sets caption to the database caption;
// otherwise shows the refusal in a message box and answers false.
bool CheckDatabaseVersion(IArDb& db, std::string& caption, IOptimizerView& view);

// The texts of the refusals.
inline constexpr const char* kNoAtlorDatabaseText = "В указанном каталоге база ГИС Atlor не найдена";
inline constexpr const char* kWrongVersionText = "Не та версия базы данных";
inline constexpr int kAtlorDatabaseVersion = 265;

}  // namespace atlor
