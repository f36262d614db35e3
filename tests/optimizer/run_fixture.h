#pragma once

// A small Atlor database in a temporary SQLite file, a scripted window for the run, and helpers
// to lay out layers, sectors and map objects for the optimizer tests.

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ardb/ardbs.h"
#include "backends/sqlite/sqlite_ardb.h"
#include "optimizer/optimizer_view.h"
#include "storage/geometry.h"
#include "storage/map_object.h"

namespace atlor::test {

// The run's window, answering message boxes from a script and recording what it was shown.
class ScriptedView : public IOptimizerView {
 public:
  struct Box {
    std::string text, caption;
    uint32_t flags;
  };

  // Answers for the Yes/No boxes, in order; when they run out the answer is Yes.
  std::vector<int> answers;
  std::vector<Box> boxes;
  std::vector<std::string> titles;
  ProgressState last_progress;
  // Called at every event pass (where a Stop request arrives).
  std::function<void(const ProgressState&)> on_events;

  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override {
    boxes.push_back({text, caption, flags});
    if ((flags & mb::kButtonsMask) != mb::kYesNo) return mb::kIdOk;
    if (answer_ < answers.size()) return answers[answer_++];
    return mb::kIdYes;
  }
  void ShowProgress(const ProgressState& state) override { last_progress = state; }
  void SetTitle(const std::string& title) override {
    if (titles.empty() || titles.back() != title) titles.push_back(title);
  }
  void SetButtons(bool, bool, bool) override {}
  void SetHourglass(bool) override {}
  void ProcessMessages() override {
    if (on_events) on_events(last_progress);
  }

 private:
  size_t answer_ = 0;
};

// One map object to store: its identifier and the rectangle its single shape outlines.
struct ObjectSpec {
  std::string id;
  TGeoRect rect;
};

// The rows of a table, each row's values as text, sorted (a table's content, order aside).
using TableRows = std::vector<std::vector<std::string>>;

class RunDatabase {
 public:
  RunDatabase();
  // A database copied from a file written by SaveCopy.
  explicit RunDatabase(const std::filesystem::path& copy_of);
  ~RunDatabase();

  // Writes the database, as it is now, to a file (the database stays open).
  void SaveCopy(const std::filesystem::path& file);

  IArDb& Db() { return *db_; }
  IntfPtr<IArDb> DbPtr() { return db_; }
  const std::filesystem::path& Folder() const { return folder_; }

  // A map area with the bounds, its map, and a layer on it; returns the layer's identifier.
  std::string AddLayer(const std::string& name, const TGeoRect& bounds);
  // An old sector of the layer with the objects (encoded in the current format); returns its id.
  std::string AddSector(const std::string& layer_id, const TGeoRect& bounds,
                        const std::vector<ObjectSpec>& objects);
  // An old sector whose OBJECTS value is the given bytes.
  std::string AddRawSector(const std::string& layer_id, const TGeoRect& bounds, const Bytes& value);

  TableRows Rows(const std::string& table);
  bool Exists(const std::string& table) { return db_->TableExists(table); }

  // The new tree of a layer: every sector's bounds, children and object identifiers.
  struct SectorInfo {
    std::string id;
    TGeoRect bounds;
    std::string children[4];
    std::vector<std::string> objects;
    int level = 0;
  };
  std::vector<SectorInfo> Tree(const std::string& layer_id, const std::string& table = "ATLOR_SECTORS");

  std::string NextId();  // identifiers for the fixture's own rows

 private:
  void OpenFile(const std::string& file);

  std::filesystem::path folder_;
  IntfPtr<IArDb> db_;
  int next_number_ = 1;
};

// Object specs: count small squares of side `size` at the given origin step.
std::vector<ObjectSpec> Squares(const std::string& prefix, int count, double x, double y,
                                double size, double step_x = 0, double step_y = 0);

}  // namespace atlor::test
