#include "optimizer/optimizer_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <utility>

#include "core/encoding.h"
#include "core/exception.h"
#include "core/ref_object.h"
#include "core/value.h"
#include "optimizer/long_operations.h"
#include "optimizer/run_log.h"
#include "storage/atlor_base.h"
#include "storage/schema.h"
#include "storage/layers_sectors.h"
#include "storage/map_object.h"

namespace atlor {
namespace {

constexpr const char* kAppTitle = "Оптимизатор";
// Largest object count a sector's OBJECTS value can hold (a signed 16-bit count).
constexpr int kMaxSectorObjects = 32767;

// Cuts a text read from a cursor to 255 characters, as identifiers are read.
std::string Cut255(const std::string& s) { return Utf8Prefix(s, 255); }

const char* ExceptionMessage(const std::exception& e) { return e.what(); }

}  // namespace

// Passes the decoder's damaged-data lines on to the run log and counts the objects lost.
class TDecodeLossCounter final : public ILogSink {
 public:
  void WriteLine(const std::string& line) override { RunLogSink().WriteLine(line); }
  void ObjectsLost(int count) override { lost_ += count; }
  int TakeLost() { return std::exchange(lost_, 0); }

 private:
  int lost_ = 0;
};

namespace {

// Points the facade's damaged-data reports at a sink for a scope.
class ScopedFacadeLog {
 public:
  ScopedFacadeLog(TAtlorBase& base, ILogSink& log) : base_(base), previous_(base.Log()) {
    base_.SetLog(log);
  }
  ~ScopedFacadeLog() { base_.SetLog(previous_); }

 private:
  TAtlorBase& base_;
  ILogSink& previous_;
};

}  // namespace

// The new sectors of one layer, in creation order; index 0 is the root. Each sector is held by
// one reference; Levels[i] is the depth of sector i below the root.
struct TOptimizerRun::WorkList {
  TRefObjectList Sectors{false};
  std::vector<int> Levels;

  int Count() const { return Sectors.Count(); }
  TSector& operator[](int i) const { return *static_cast<TSector*>(Sectors[i]); }
  void Add(TSector* sector, int level) {
    Sectors.Add(sector);
    Levels.push_back(level);
  }
};

TOptimizerRun::TOptimizerRun(IArDb& db, TAtlorBase& base, IOptimizerView& view)
    : FDb(db), FBase(base), view_(view) {}

TOptimizerRun::~TOptimizerRun() = default;

// ---------------------------------------------------------------------------------------------
// The run

RunOutcome TOptimizerRun::StartClick() {
  if (view_.MessageBox("Перед началом работы оптимизатора, \n\rрекомендуется создать резервную "
                       "копию базы данных.\n\rПродолжить ?",
                       "Предупреждение", mb::kYesNo | mb::kIconWarning) != mb::kIdYes)
    return RunOutcome::kNotStarted;

  FStopped = false;
  summary_.clear();
  last_error_.clear();
  view_.SetButtons(false, true, false);
  TDecodeLossCounter losses;
  ScopedFacadeLog facade_log(FBase, losses);
  losses_ = &losses;
  WriteLogFmt("Запуск оптимизатора, дата: %s", RunStartDateText(Now()));

  RunOutcome outcome = RunOutcome::kFailed;
  struct FinalBlock {
    TOptimizerRun& run;
    ~FinalBlock() {
      run.losses_ = nullptr;
      // Tables the cached statements named were created, renamed or dropped.
      run.FBase.ClearCommandCache();
      run.SetTitle(kAppTitle);
      run.view_.SetButtons(true, false, true);
      run.progress_.info_text.clear();
      run.progress_.position = 0;
      run.ShowProgress();
    }
  } final_block{*this};

  FBase.ClearCommandCache();
  try {
    CreateTempTables();
  } catch (...) {
    // The error goes on to the caller; the temporary tables made before it do not stay behind.
    try {
      DropTempTables();
    } catch (const std::exception& cleanup) {
      WriteLogFmt("Ошибка: %s", std::string(cleanup.what()));
    }
    throw;
  }
  try {
    if (!FStopped) InTransaction([this] { OptimizeLayers(); });
    if (!FStopped) InTransaction([this] { RebuildObjInfo(); });
    if (!FStopped)
      SwapTables();
    else
      DropTempTables();
    if (!FStopped) {
      view_.MessageBox("Работа закончена", kAppTitle, mb::kTopmost | mb::kIconInformation);
      WriteLog("Работа закончена");
      outcome = RunOutcome::kFinished;
    } else {
      view_.MessageBox("Оптимизатор остановлен пользователем. База не оптимизирована", kAppTitle,
                       mb::kTopmost | mb::kIconInformation);
      WriteLog("Оптимизатор остановлен пользователем");
      outcome = RunOutcome::kStopped;
    }
  } catch (const std::exception& e) {
    last_error_ = ExceptionMessage(e);
    // The temporary tables go whatever failed; a failure of that cleanup must not hide the
    // error that ended the run, so it is only logged.
    try {
      DropTempTables();
    } catch (const std::exception& cleanup) {
      WriteLogFmt("Ошибка: %s", std::string(cleanup.what()));
    }
    const std::string text = FormatLogLine("Ошибка: %s", {last_error_});
    view_.MessageBox(text, "Ошибка", mb::kTopmost | mb::kIconError);
    WriteLog(text);
    outcome = RunOutcome::kFailed;
  }
  return outcome;
}

void TOptimizerRun::StopClick() {
  if (!FStopped)
    FStopped = view_.MessageBox("Вы действительно хотите прервать работу", "Вопрос",
                                mb::kYesNo | mb::kIconQuestion) == mb::kIdYes;
}

// Each rebuild phase writes its temporary rows in one transaction: its cursors stay open across
// its writes, and a database that keeps a log of writes (SQLite's write-ahead log) cannot start
// that log over while a read is open, so statement-by-statement commits let it grow by gigabytes
// on a large database. One transaction per phase writes each page about once. The live tables
// are not touched by the phases, so nothing of them depends on it.
void TOptimizerRun::InTransaction(const std::function<void()>& phase) {
  FDb.StartTransaction();
  try {
    phase();
  } catch (...) {
    try {
      if (FDb.InTransaction()) FDb.Rollback();
    } catch (const std::exception& rollback) {
      WriteLogFmt("Ошибка: %s", std::string(rollback.what()));
    }
    throw;
  }
  FDb.Commit();
}

// ---------------------------------------------------------------------------------------------
// Temporary tables and the swap

void TOptimizerRun::CreateTempTables() {
  LongOperation busy("Создание таблиц");
  struct Temp {
    const std::string& name;
    const AtlorTableSchema* schema;
  };
  const Temp temps[] = {{FLayersTmp, FindAtlorTable(kLayersTable)},
                        {FSectorsTmp, FindAtlorTable(kSectorsTable)},
                        {FObjInfoTmp, FindAtlorTable(kObjInfoTable)}};
  for (const Temp& t : temps) {
    if (FDb.TableExists(t.name)) FDb.DropTable(t.name);
    CreateTableFromDefs(FDb, t.name, t.schema->Fields, t.schema->Indexes);
  }
}

void TOptimizerRun::SwapTables() {
  // No statement of the facade may hold a table that is about to be renamed.
  FBase.ClearCommandCache();
  {
    LongOperation busy("Переименовывание таблиц");
    RenameTable("ATLOR_LAYERS", "ATLOR_LAYERS_OLD");
    try {
      RenameTable(FLayersTmp, "ATLOR_LAYERS");
      RenameTable("ATLOR_SECTORS", "ATLOR_SECTORS_OLD");
      try {
        RenameTable(FSectorsTmp, "ATLOR_SECTORS");
        RenameTable("ATLOR_OBJINFO", "ATLOR_OBJINFO_OLD");
        try {
          RenameTable(FObjInfoTmp, "ATLOR_OBJINFO");
        } catch (...) {
          RenameTable("ATLOR_OBJINFO_OLD", "ATLOR_OBJINFO");
          throw;
        }
      } catch (...) {
        RenameTable("ATLOR_SECTORS_OLD", "ATLOR_SECTORS");
        throw;
      }
    } catch (...) {
      RenameTable("ATLOR_LAYERS_OLD", "ATLOR_LAYERS");
      throw;
    }
  }

  const std::string changed = FormatLogLine(
      "Изменились таблицы:\n\r\n\r%s.db,\n\r\n\r%s.db,\n\r\n\r%s.db.\n\r\n\rСохранить старые копии "
      "таблиц ?",
      {"ATLOR_LAYERS", "ATLOR_SECTORS", "ATLOR_OBJINFO"});
  if (view_.MessageBox(changed, kAppTitle, mb::kTopmost | mb::kIconQuestion | mb::kYesNo) ==
      mb::kIdYes) {
    view_.MessageBox(FormatLogLine("Таблицы сохранены в: \n\r\n\r%s.db,\n\r\n\r%s.db,\n\r\n\r%s.db.",
                                   {"ATLOR_LAYERS_OLD", "ATLOR_SECTORS_OLD", "ATLOR_OBJINFO_OLD"}),
                     "Информация", mb::kIconInformation);
  } else {
    LongOperation busy("Удаление таблиц");
    FDb.DropTable("ATLOR_LAYERS_OLD");
    FDb.DropTable("ATLOR_SECTORS_OLD");
    FDb.DropTable("ATLOR_OBJINFO_OLD");
  }
}

void TOptimizerRun::RenameTable(const std::string& from, const std::string& to) {
  IntfPtr<IArDbTableDef> def = FDb.GetTableDef(from);
  if (FDb.TableExists(to)) FDb.DropTable(to);
  def->SetTableName(to);
  def->ApplyChanges();
}

void TOptimizerRun::DropTempTables() {
  for (const std::string* name : {&FLayersTmp, &FSectorsTmp, &FObjInfoTmp})
    if (FDb.TableExists(*name)) FDb.DropTable(*name);
}

// ---------------------------------------------------------------------------------------------
// The layers phase

void TOptimizerRun::OptimizeLayers() {
  WriteLog("Оптимизация");
  ShowSubProgress();
  int layer_count = 0;
  {
    IntfPtr<IArDbSQLCommand> count =
        NewCommand(FDb, "select count(ID) from [ATLOR_LAYERS]", {}, true);
    IntfPtr<IArDbCursor> cursor = count->Execute(nullptr, 0);
    layer_count = cursor ? cursor->AsInteger(0, 0) : 0;
    if (cursor) cursor->Close();
  }
  BeginProgress("Оптимизация слоев", layer_count + 1);

  const std::string id_field[] = {"ID"};
  IntfPtr<IArDbSQLCommand> list = BuildSelectCommand(FDb, kLayersTable, id_field, {}, true);
  IntfPtr<IArDbCursor> cursor = list->Execute(nullptr, 0);
  try {
    while (cursor && !cursor->Eof() && !FStopped) {
      const std::string id = Cut255(cursor->AsString(0, ""));
      RefHolder<TLayer> layer(FBase.LoadLayer(id), kAdoptRef);
      WriteLogFmt("Слой %s", layer->LayerName());
      OptimizeLayer(*layer.get());
      cursor->Next();
      StepProgress();
    }
  } catch (...) {
    if (cursor) cursor->Close();
    HideSubProgress();
    throw;
  }
  if (cursor) cursor->Close();
  HideSubProgress();
}

void TOptimizerRun::OptimizeLayer(TLayer& layer) {
  WorkList work_list;
  TLayerSummary summary;
  summary.LayerId = layer.Id().Str();
  summary.LayerName = layer.LayerName();

  {
    RefHolder<TSector> root(FBase.CreateSector(layer.Id(), layer.Bounds(), FSectorsTmp),
                            kAdoptRef);
    work_list.Add(root.get(), 0);
    const TArDbParam layer_fields[] = {StringParam("ID"),         StringParam("PLANEID"),
                                       StringParam("LAYERNAME"),  FloatParam("VISIBLEMIN"),
                                       FloatParam("VISIBLEMAX"), StringParam("ROOTSECTORID")};
    IntfPtr<IArDbSQLCommand> insert = BuildInsertCommand(FDb, FLayersTmp, layer_fields, true);
    insert->Execute({Value(layer.Id().Str()), Value(layer.PlaneId().Str()),
                     Value(layer.LayerName()), Value(layer.VisibleMin()),
                     Value(layer.VisibleMax()), Value(root->Id().Str())});
  }

  int old_count = 0;
  {
    const TArDbDataType types[] = {dtString};
    IntfPtr<IArDbSQLCommand> count = NewCommand(
        FDb,
        "select count([ATLOR_SECTORS].[ID]) from [ATLOR_SECTORS] where "
        "[ATLOR_SECTORS].[LAYERID]=?",
        types, true);
    IntfPtr<IArDbCursor> cursor = count->Execute({Value(layer.Id().Str())});
    old_count = cursor ? cursor->AsInteger(0, 0) : 0;
    if (cursor) cursor->Close();
  }
  summary.OldSectors = old_count;
  BeginSubProgress(FormatLogLine("Оптимизация слоя: %s", {layer.LayerName()}), 4 * old_count + 1);

  const std::string id_field[] = {"ID"};
  const TArDbParam layer_key[] = {StringParam("LAYERID")};
  IntfPtr<IArDbSQLCommand> list = BuildSelectCommand(FDb, kSectorsTable, id_field, layer_key, true);
  IntfPtr<IArDbCursor> cursor = list->Execute({Value(layer.Id().Str())});
  if (losses_) losses_->TakeLost();
  while (cursor && !cursor->Eof() && !FStopped) {
    RefHolder<TSector> old(FBase.LoadSector(Cut255(cursor->AsString(0, "")), kSectorsTable),
                           kAdoptRef);
    old->LoadObjects();
    StepSubProgress();
    RecalcObjectBounds(*old.get());
    StepSubProgress();
    MoveObjects(*old.get(), work_list);
    StepSubProgress();
    SplitSectors(work_list);
    StepSubProgress();
    cursor->Next();
  }
  if (cursor) cursor->Close();
  if (losses_) summary.LostObjects = losses_->TakeLost();

  if (!FStopped) {
    SaveNewSectors(layer, work_list);
    StepSubProgress();
  }

  summary.NewSectors = work_list.Count();
  for (int i = 0; i < work_list.Count(); ++i) {
    const int n = work_list[i].Objects().Count();
    summary.Objects += n;
    summary.LargestSector = std::max(summary.LargestSector, n);
    summary.Depth = std::max(summary.Depth, work_list.Levels[static_cast<size_t>(i)]);
  }
  summary_.push_back(std::move(summary));
}

void TOptimizerRun::SaveNewSectors(TLayer& layer, WorkList& work_list) {
  // A sector's object count is a signed 16-bit value in its OBJECTS value: refuse a tree that
  // cannot be written before writing any of it.
  for (int i = 0; i < work_list.Count(); ++i) {
    TSector& sector = work_list[i];
    if (sector.Objects().Count() > kMaxSectorObjects)
      throw Exception(FormatLogLine(
          "Слой %s: сектор %s должен хранить %d объектов, а формат допускает не более %d",
          {layer.LayerName(), sector.Id().Str(), sector.Objects().Count(), kMaxSectorObjects}));
  }
  view_.SetHourglass(true);
  try {
    for (int i = 0; i < work_list.Count(); ++i) work_list[i].SaveObjects();
  } catch (...) {
    view_.SetHourglass(false);
    throw;
  }
  view_.SetHourglass(false);
}

void TOptimizerRun::RecalcObjectBounds(TSector& sector) {
  TMapObjectList& objects = sector.Objects();
  for (int i = 0; i < objects.Count(); ++i) objects[i]->UpdateBounds();
}

void TOptimizerRun::MoveObjects(TSector& sector, WorkList& work_list) {
  TMapObjectList& objects = sector.Objects();
  for (int n = objects.Count(); n > 0; --n) {
    RefHolder<TMapObject> object(objects[0]);
    objects.Remove(object.get());
    TSector& target = FindTargetSector(work_list, object->Bounds());
    target.Objects().Add(object.get());
  }
}

TSector& TOptimizerRun::FindTargetSector(WorkList& work_list, const TGeoRect& r) {
  for (int i = work_list.Count() - 1; i >= 0; --i)
    if (Contains(work_list[i].Bounds(), r)) return work_list[i];
  return work_list[0];
}

void TOptimizerRun::SplitSectors(WorkList& work_list) {
  for (int i = 0; i < work_list.Count(); ++i) {
    TSector& s = work_list[i];
    const int level = work_list.Levels[static_cast<size_t>(i)];
    // Objects that keep fitting one ever smaller quadrant (coincident points, say) would be
    // split forever: the tree stops deepening at kMaxSectorDepth.
    if (s.Objects().Count() > kSplitThreshold && !s.HasChildren() && level < kMaxSectorDepth &&
        s.CanSplit()) {
      s.Split();
      for (int q = 0; q < 4; ++q) {
        RefHolder<TSector> child(FBase.LoadSector(s.Children(q), FSectorsTmp), kAdoptRef);
        work_list.Add(child.get(), level + 1);
      }
      MoveObjects(s, work_list);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The object-info phase

void TOptimizerRun::RebuildObjInfo() {
  WriteLog("Востановление таблицы atlor_objinfo");
  int sector_count = 0;
  {
    IntfPtr<IArDbSQLCommand> count =
        FDb.CreateCommand("select count(ID) from [" + FSectorsTmp + "]", nullptr, 0, true);
    IntfPtr<IArDbCursor> cursor = count->Execute(nullptr, 0);
    sector_count = cursor ? cursor->AsInteger(0, 0) : 0;
    if (cursor) cursor->Close();
  }
  BeginProgress("Востановление таблицы atlor_objinfo", sector_count);

  const std::string id_field[] = {"ID"};
  IntfPtr<IArDbSQLCommand> list = BuildSelectCommand(FDb, FSectorsTmp, id_field, {}, true);
  IntfPtr<IArDbCursor> cursor = list->Execute(nullptr, 0);
  const TArDbParam row_fields[] = {StringParam("ID"), StringParam("LAYERID"),
                                   StringParam("SECTORID")};
  IntfPtr<IArDbSQLCommand> insert = BuildInsertCommand(FDb, FObjInfoTmp, row_fields, true);
  try {
    while (cursor && !cursor->Eof() && !FStopped) {
      RefHolder<TSector> s(FBase.LoadSector(Cut255(cursor->AsString(0, "")), FSectorsTmp),
                           kAdoptRef);
      s->LoadObjects();
      const TMapObjectList& objects = s->Objects();
      const Value layer_id(s->LayerId().Str()), sector_id(s->Id().Str());
      for (int i = 0; i < objects.Count(); ++i)
        insert->Execute({Value(objects[i]->Id().Str()), layer_id, sector_id});
      cursor->Next();
      StepProgress();
    }
  } catch (...) {
    if (cursor) cursor->Close();
    throw;
  }
  if (cursor) cursor->Close();
}

// ---------------------------------------------------------------------------------------------
// Progress

void TOptimizerRun::SetTitle(const std::string& title) { view_.SetTitle(title); }

void TOptimizerRun::ShowProgress() {
  view_.ShowProgress(progress_);
  view_.ProcessMessages();
}

void TOptimizerRun::BeginProgress(const std::string& text, int max) {
  progress_.info_text = text;
  progress_.position = 0;
  progress_.maximum = max;
  SetTitle(FormatLogLine("Оптимизатор {%s 0%%}", {text}));
  ShowProgress();
}

void TOptimizerRun::StepProgress() {
  if (progress_.position < progress_.maximum) ++progress_.position;
  if (progress_.maximum != 0) {
    const int percent = static_cast<int>(
        std::nearbyint(progress_.position * 100.0 / progress_.maximum));
    SetTitle(FormatLogLine("Оптимизатор {%s %d%%}", {progress_.info_text, percent}));
  }
  ShowProgress();
}

void TOptimizerRun::BeginSubProgress(const std::string& text, int max) {
  progress_.sub_text = text;
  progress_.sub_position = 0;
  progress_.sub_maximum = max;
  ShowProgress();
}

void TOptimizerRun::StepSubProgress() {
  if (progress_.sub_position < progress_.sub_maximum) ++progress_.sub_position;
  ShowProgress();
}

void TOptimizerRun::ShowSubProgress() {
  progress_.sub_visible = true;
  ShowProgress();
}

void TOptimizerRun::HideSubProgress() {
  progress_.sub_visible = false;
  ShowProgress();
}

// ---------------------------------------------------------------------------------------------

// Both parts always: the text of a date-time value leaves out a time of exactly midnight.
std::string RunStartDateText(const DateTime& when) {
  const DateTimeParts p = DecodeDateTime(when);
  char text[80];
  std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", p.day, p.month, p.year, p.hour,
                p.minute, p.second);
  return text;
}

bool CheckDatabaseVersion(IArDb& db, std::string& caption, IOptimizerView& view) {
  if (!db.TableExists("ATLOR_DBINFO")) {
    view.MessageBox(kNoAtlorDatabaseText, "Ошибка", mb::kOkCancel | mb::kIconError);
    return false;
  }
  IntfPtr<IArDbCursor> cursor = OpenTableCursor(db, "ATLOR_DBINFO");
  int version = cursor->AsInteger("VERSION", 0);
  if (version & 0x1000) version &= ~0x1000;
  if (version != kAtlorDatabaseVersion) {
    cursor->Close();
    view.MessageBox(kWrongVersionText, "Ошибка", mb::kOkCancel | mb::kIconError);
    return false;
  }
  caption = cursor->AsString("DBCAPTION", "");
  cursor->Close();
  return true;
}

}  // namespace atlor
