#include "optimizer/optimizer_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "core/ref_object.h"
#include "core/value.h"
#include "faulty_db.h"
#include "optimizer/long_operations.h"
#include "optimizer/run_log.h"
#include "run_fixture.h"
#include "storage/atlor_base.h"

namespace atlor {
namespace {

using test::ObjectSpec;
using test::RunDatabase;
using test::ScriptedView;
using test::Squares;

const TGeoRect kBounds{0, 0, 100, 100};
const char* const kWarning =
    "Перед началом работы оптимизатора, \n\rрекомендуется создать резервную копию базы "
    "данных.\n\rПродолжить ?";

class OptimizerRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_file_ = (db_.Folder() / "run.log").string();
    SetRunLogFile(log_file_);
  }

  // One run over db (the fixture's database when null) with the view's scripted answers.
  RunOutcome Run(ScriptedView& view, IArDb* db = nullptr) {
    IntfPtr<IArDb> target = db ? IntfPtr<IArDb>(db) : db_.DbPtr();
    RefHolder<TAtlorBase> base(new TAtlorBase(target, RunLogSink()));
    TOptimizerRun run(*target, *base.get(), view);
    run_ = &run;
    const RunOutcome outcome = run.StartClick();
    summary_ = run.Summary();
    run_ = nullptr;
    return outcome;
  }

  std::vector<std::string> LogLines() {
    std::ifstream in(log_file_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }

  // The live tables and the table names a run may leave.
  struct Snapshot {
    test::TableRows layers, sectors, objinfo;
    std::set<std::string> extra;
    bool operator==(const Snapshot&) const = default;
  };
  Snapshot Take(RunDatabase& db) {
    Snapshot s{db.Rows("ATLOR_LAYERS"), db.Rows("ATLOR_SECTORS"), db.Rows("ATLOR_OBJINFO"), {}};
    for (const char* t : {"ATLOR_LAYERS_TMP", "ATLOR_SECTORS_TMP", "ATLOR_OBJINFO_TMP",
                          "ATLOR_LAYERS_OLD", "ATLOR_SECTORS_OLD", "ATLOR_OBJINFO_OLD"})
      if (db.Exists(t)) s.extra.insert(t);
    return s;
  }

  // Every object of the layer's new tree appears once, inside its sector (the root aside), and
  // ATLOR_OBJINFO says so.
  std::vector<RunDatabase::SectorInfo> CheckTree(const std::string& layer_id) {
    const auto tree = db_.Tree(layer_id);
    std::set<std::string> seen;
    test::TableRows expected_info;
    for (const auto& s : tree) {
      for (const std::string& id : s.objects) {
        EXPECT_TRUE(seen.insert(id).second) << "object " << id << " twice";
        expected_info.push_back({id, layer_id, s.id});
      }
    }
    test::TableRows info;
    for (const auto& row : db_.Rows("ATLOR_OBJINFO"))
      if (row[1] == layer_id) info.push_back(row);
    std::sort(expected_info.begin(), expected_info.end());
    EXPECT_EQ(info, expected_info);
    return tree;
  }

  RunDatabase db_;
  std::string log_file_;
  std::vector<TLayerSummary> summary_;
  TOptimizerRun* run_ = nullptr;
};

TEST_F(OptimizerRunTest, NoToTheWarningChangesNothingAndLogsNothing) {
  const std::string layer = db_.AddLayer("Дороги", kBounds);
  db_.AddSector(layer, kBounds, Squares("0003", 5, 1, 1, 1, 2));
  const Snapshot before = Take(db_);
  ScriptedView view;
  view.answers = {mb::kIdNo};
  EXPECT_EQ(Run(view), RunOutcome::kNotStarted);
  EXPECT_EQ(Take(db_), before);
  EXPECT_TRUE(LogLines().empty());
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0].text, kWarning);
  EXPECT_EQ(view.boxes[0].caption, "Предупреждение");
  EXPECT_EQ(view.boxes[0].flags, 0x34u);
}

TEST_F(OptimizerRunTest, RebuildsTheTreeAndTheObjectTableThenDropsTheOldTables) {
  const std::string layer = db_.AddLayer("Дома", kBounds);
  // 300 small objects in the lower left quarter, 10 across the centre lines, spread over two
  // old sectors.
  auto small = Squares("0003", 300, 1, 1, 0.5, 0.1, 0.1);
  db_.AddSector(layer, kBounds, std::vector<ObjectSpec>(small.begin(), small.begin() + 150));
  db_.AddSector(layer, kBounds, std::vector<ObjectSpec>(small.begin() + 150, small.end()));
  db_.AddSector(layer, kBounds, Squares("0004", 10, 40, 40, 20, 0.5, 0));

  ScriptedView view;
  view.answers = {mb::kIdYes, mb::kIdNo};  // go; do not keep the old tables
  ASSERT_EQ(Run(view), RunOutcome::kFinished);

  const auto tree = CheckTree(layer);
  ASSERT_GT(tree.size(), 1u);
  EXPECT_EQ(tree[0].objects.size(), 10u);  // the centre-line objects stay in the root
  size_t placed = 0;
  for (const auto& s : tree) {
    placed += s.objects.size();
    EXPECT_LE(s.objects.size(), 256u);
  }
  EXPECT_EQ(placed, 310u);
  EXPECT_EQ(db_.Rows("ATLOR_LAYERS").size(), 1u);
  EXPECT_EQ(db_.Rows("ATLOR_LAYERS")[0][5], tree[0].id);
  EXPECT_TRUE(Take(db_).extra.empty());

  ASSERT_EQ(summary_.size(), 1u);
  EXPECT_EQ(summary_[0].Objects, 310);
  EXPECT_EQ(summary_[0].OldSectors, 3);
  EXPECT_EQ(summary_[0].NewSectors, static_cast<int>(tree.size()));
  EXPECT_EQ(summary_[0].LostObjects, 0);

  const auto log = LogLines();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0].rfind("Запуск оптимизатора, дата: ", 0), 0u);
  EXPECT_EQ(log[1], "Оптимизация");
  EXPECT_EQ(log[2], "Слой Дома");
  EXPECT_EQ(log[3], "Востановление таблицы atlor_objinfo");
  EXPECT_EQ(log[4], "Работа закончена");

  ASSERT_EQ(view.boxes.size(), 3u);
  EXPECT_EQ(view.boxes[1].text,
            "Изменились таблицы:\n\r\n\rATLOR_LAYERS.db,\n\r\n\rATLOR_SECTORS.db,\n\r\n\r"
            "ATLOR_OBJINFO.db.\n\r\n\rСохранить старые копии таблиц ?");
  EXPECT_EQ(view.boxes[1].flags, 0x40024u);
  EXPECT_EQ(view.boxes[2].text, "Работа закончена");
  EXPECT_EQ(view.boxes[2].flags, 0x40040u);
  EXPECT_EQ(view.titles.front(), "Оптимизатор {Оптимизация слоев 0%}");
  EXPECT_NE(std::find(view.titles.begin(), view.titles.end(), "Оптимизатор {Оптимизация слоев 50%}"),
            view.titles.end());
  EXPECT_EQ(view.titles.back(), "Оптимизатор");
  EXPECT_EQ(LongOperationDepth(), 0);
}

TEST_F(OptimizerRunTest, SplitsOnlyAboveTheThresholdAndOnlyWhenAnObjectFitsAQuadrant) {
  struct Case {
    const char* name;
    int count;
    bool across_centre;
    size_t sectors;
  };
  const Case cases[] = {
      {"256 in a quadrant", 256, false, 1},
      {"257 in a quadrant", 257, false, 0},  // split (0: more than one)
      {"257 across the centre lines", 257, true, 1},
  };
  for (const Case& c : cases) {
    RunDatabase db;
    SetRunLogFile((db.Folder() / "run.log").string());
    const std::string layer = db.AddLayer("L", kBounds);
    db.AddSector(layer, kBounds,
                 c.across_centre ? Squares("0003", c.count, 40, 40, 20, 0.01, 0)
                                 : Squares("0003", c.count, 60, 60, 1, 0.1, 0.1));
    ScriptedView view;
    view.answers = {mb::kIdYes, mb::kIdNo};
    RefHolder<TAtlorBase> base(new TAtlorBase(db.DbPtr(), RunLogSink()));
    TOptimizerRun run(db.Db(), *base.get(), view);
    ASSERT_EQ(run.StartClick(), RunOutcome::kFinished) << c.name;
    const auto tree = db.Tree(layer);
    if (c.sectors)
      EXPECT_EQ(tree.size(), c.sectors) << c.name;
    else
      EXPECT_GT(tree.size(), 1u) << c.name;
  }
}

TEST_F(OptimizerRunTest, PlacesEdgeObjectsInTheLaterChildOutsidersInTheRootAndDropsDuplicates) {
  const std::string layer = db_.AddLayer("L", kBounds);
  auto objects = Squares("0003", 257, 10, 60, 1, 0.1, 0.1);   // force a split of the root
  objects.push_back({"000500000001", {50, 60, 50, 70}});      // on the line between q0 and q1
  objects.push_back({"000500000002", {200, 200, 210, 210}});  // outside the layer
  db_.AddSector(layer, kBounds, objects);
  db_.AddSector(layer, kBounds, {{"000500000003", {70, 10, 71, 11}}});
  db_.AddSector(layer, kBounds, {{"000500000003", {70, 10, 71, 11}}});  // the same object again

  ScriptedView view;
  view.answers = {mb::kIdYes, mb::kIdNo};
  ASSERT_EQ(Run(view), RunOutcome::kFinished);
  const auto tree = CheckTree(layer);
  const auto& root = tree[0];
  ASSERT_FALSE(root.children[0].empty());
  auto holder = [&](const std::string& id) {
    for (const auto& s : tree)
      if (std::find(s.objects.begin(), s.objects.end(), id) != s.objects.end()) return s.id;
    return std::string();
  };
  EXPECT_EQ(holder("000500000001"), root.children[1]);
  EXPECT_EQ(holder("000500000002"), root.id);
  EXPECT_EQ(holder("000500000003"), root.children[3]);
}

TEST_F(OptimizerRunTest, KeepsTheOldTablesAndASecondRunReplacesThem) {
  const std::string layer = db_.AddLayer("L", kBounds);
  db_.AddSector(layer, kBounds, Squares("0003", 20, 1, 1, 1, 3, 3));
  const Snapshot original = Take(db_);

  ScriptedView first;
  first.answers = {mb::kIdYes, mb::kIdYes};  // keep the old tables
  ASSERT_EQ(Run(first), RunOutcome::kFinished);
  EXPECT_EQ(first.boxes[2].text,
            "Таблицы сохранены в: \n\r\n\rATLOR_LAYERS_OLD.db,\n\r\n\rATLOR_SECTORS_OLD.db,\n\r\n\r"
            "ATLOR_OBJINFO_OLD.db.");
  EXPECT_EQ(first.boxes[2].caption, "Информация");
  EXPECT_EQ(first.boxes[2].flags, 0x40u);
  EXPECT_EQ(db_.Rows("ATLOR_LAYERS_OLD"), original.layers);
  EXPECT_EQ(db_.Rows("ATLOR_SECTORS_OLD"), original.sectors);
  const Snapshot after_first = Take(db_);

  ScriptedView second;
  second.answers = {mb::kIdYes, mb::kIdYes};
  ASSERT_EQ(Run(second), RunOutcome::kFinished);
  EXPECT_EQ(db_.Rows("ATLOR_SECTORS_OLD"), after_first.sectors);
  EXPECT_EQ(db_.Rows("ATLOR_OBJINFO_OLD"), after_first.objinfo);
  CheckTree(layer);
  const auto log = LogLines();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& l) { return l.rfind("Запуск оптимизатора", 0) == 0; }),
            2);
}

TEST_F(OptimizerRunTest, DatabaseWithoutLayersStillSwapsEmptyTables) {
  ScriptedView view;
  view.answers = {mb::kIdYes, mb::kIdNo};
  ASSERT_EQ(Run(view), RunOutcome::kFinished);
  EXPECT_TRUE(db_.Rows("ATLOR_LAYERS").empty());
  EXPECT_TRUE(db_.Rows("ATLOR_OBJINFO").empty());
  EXPECT_NE(std::find(view.titles.begin(), view.titles.end(),
                      "Оптимизатор {Востановление таблицы atlor_objinfo 0%}"),
            view.titles.end());
  const auto log = LogLines();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[1], "Оптимизация");
  EXPECT_EQ(log[2], "Востановление таблицы atlor_objinfo");
}

TEST_F(OptimizerRunTest, LayerWithoutSectorsGetsAnEmptyRoot) {
  const std::string layer = db_.AddLayer("Пустой", kBounds);
  ScriptedView view;
  view.answers = {mb::kIdYes, mb::kIdNo};
  int sub_max_seen = -1, sub_pos_seen = -1;
  view.on_events = [&](const ProgressState& p) {
    if (p.sub_text == "Оптимизация слоя: Пустой") sub_max_seen = p.sub_maximum, sub_pos_seen = p.sub_position;
  };
  ASSERT_EQ(Run(view), RunOutcome::kFinished);
  const auto tree = db_.Tree(layer);
  ASSERT_EQ(tree.size(), 1u);
  EXPECT_TRUE(tree[0].objects.empty());
  EXPECT_EQ(tree[0].bounds, kBounds);
  EXPECT_EQ(sub_max_seen, 1);
  EXPECT_EQ(sub_pos_seen, 1);
}

TEST_F(OptimizerRunTest, StopDuringTheLayersPhaseLeavesTheLiveTablesUntouched) {
  for (const char* name : {"A", "B", "C"}) {
    const std::string layer = db_.AddLayer(name, kBounds);
    db_.AddSector(layer, kBounds, Squares("0003", 5, 1, 1, 1, 2, 2));
  }
  const Snapshot before = Take(db_);
  ScriptedView view;
  view.answers = {mb::kIdYes, mb::kIdNo, mb::kIdYes};  // go; Stop? No; Stop? Yes
  int asked = 0;
  view.on_events = [&](const ProgressState& p) {
    if (p.sub_text == "Оптимизация слоя: A" && asked == 0) ++asked, run_->StopClick();
    if (p.sub_text == "Оптимизация слоя: B" && asked == 1) ++asked, run_->StopClick();
  };
  ASSERT_EQ(Run(view), RunOutcome::kStopped);
  EXPECT_EQ(Take(db_), before);
  ASSERT_EQ(view.boxes.size(), 4u);  // warning, Stop? No, Stop? Yes, the end
  for (int i : {1, 2}) {
    EXPECT_EQ(view.boxes[i].text, "Вы действительно хотите прервать работу");
    EXPECT_EQ(view.boxes[i].caption, "Вопрос");
    EXPECT_EQ(view.boxes[i].flags, 0x24u);
  }
  EXPECT_EQ(view.boxes.back().text, "Оптимизатор остановлен пользователем. База не оптимизирована");
  EXPECT_EQ(view.boxes.back().caption, "Оптимизатор");
  EXPECT_EQ(view.boxes.back().flags, 0x40040u);
  const auto log = LogLines();
  EXPECT_EQ(log.back(), "Оптимизатор остановлен пользователем");
  EXPECT_EQ(std::count(log.begin(), log.end(), std::string("Слой C")), 0);
  EXPECT_EQ(std::count(log.begin(), log.end(), std::string("Востановление таблицы atlor_objinfo")), 0);
}

TEST_F(OptimizerRunTest, TemporaryTablesOfAnInterruptedRunAreReplaced) {
  const std::string layer = db_.AddLayer("L", kBounds);
  db_.AddSector(layer, kBounds, Squares("0003", 3, 1, 1, 1, 2, 2));
  const TArDbFieldDef junk[] = {{"X", dtInteger, 0, false}};
  CreateTableFromDefs(db_.Db(), "ATLOR_SECTORS_TMP", junk, {});
  ScriptedView view;
  view.answers = {mb::kIdYes, mb::kIdNo};
  ASSERT_EQ(Run(view), RunOutcome::kFinished);
  CheckTree(layer);
  EXPECT_TRUE(Take(db_).extra.empty());
}

TEST_F(OptimizerRunTest, DamagedSectorsAreLoggedSkippedAndCounted) {
  const std::string layer = db_.AddLayer("L", kBounds);
  db_.AddSector(layer, kBounds, Squares("0003", 2, 1, 1, 1, 2, 2));
  const std::string empty_value = db_.AddRawSector(layer, kBounds, {});
  // Three objects, cut inside the second: the first is kept, two are lost.
  TMapObjectList three;
  {
    RunDatabase scratch;
    const std::string l = scratch.AddLayer("S", kBounds);
    const std::string s = scratch.AddSector(l, kBounds, Squares("0006", 3, 5, 5, 1, 2, 2));
    IntfPtr<IArDbCursor> c = OpenTableCursor(scratch.Db(), "ATLOR_SECTORS");
    Bytes bytes = c->AsBlob("OBJECTS").BytesRef();
    bytes.resize(6 + (bytes.size() - 6) / 3 + 20);
    const std::string cut = db_.AddRawSector(layer, kBounds, bytes);
    ScriptedView view;
    view.answers = {mb::kIdYes, mb::kIdNo};
    ASSERT_EQ(Run(view), RunOutcome::kFinished);
    const auto log = LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "Ошибка. Ошибка при загрузке заголовка сектора " + empty_value),
              log.end());
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "Ошибка. Не могу загрузить сектор " + cut + ". Потерянно 2 объектов"),
              log.end());
  }
  ASSERT_EQ(summary_.size(), 1u);
  EXPECT_EQ(summary_[0].Objects, 3);
  EXPECT_EQ(summary_[0].LostObjects, 2);
  CheckTree(layer);
}

TEST_F(OptimizerRunTest, CoincidentObjectsStopSplittingThirtyTwoLevelsDown) {
  const std::string layer = db_.AddLayer("L", kBounds);
  db_.AddSector(layer, kBounds, Squares("0003", 300, 10, 10, 0));  // 300 identical points
  ScriptedView view;
  view.answers = {mb::kIdYes, mb::kIdNo};
  ASSERT_EQ(Run(view), RunOutcome::kFinished);
  const auto tree = CheckTree(layer);
  int deepest = 0, holder_level = -1;
  for (const auto& s : tree) {
    deepest = std::max(deepest, s.level);
    if (!s.objects.empty()) {
      EXPECT_EQ(s.objects.size(), 300u);
      holder_level = s.level;
    }
  }
  EXPECT_EQ(deepest, kMaxSectorDepth);
  EXPECT_EQ(holder_level, kMaxSectorDepth);
  EXPECT_EQ(summary_[0].Depth, kMaxSectorDepth);
  EXPECT_EQ(summary_[0].LargestSector, 300);
}

TEST_F(OptimizerRunTest, ASectorTooFullForTheFormatFailsTheRunBeforeTheSwap) {
  const std::string layer = db_.AddLayer("Плотный", kBounds);
  // 32,768 objects across the centre lines: no split can take any of them from the root.
  auto crossing = Squares("0003", 32768, 40, 40, 20, 0.0001, 0);
  db_.AddSector(layer, kBounds, std::vector<ObjectSpec>(crossing.begin(), crossing.begin() + 16384));
  db_.AddSector(layer, kBounds, std::vector<ObjectSpec>(crossing.begin() + 16384, crossing.end()));
  const Snapshot before = Take(db_);
  ScriptedView view;
  view.answers = {mb::kIdYes, mb::kIdNo};
  ASSERT_EQ(Run(view), RunOutcome::kFailed);
  EXPECT_EQ(Take(db_), before);
  const std::string& error = view.boxes.back().text;
  EXPECT_EQ(error.rfind("Ошибка: Слой Плотный: сектор ", 0), 0u) << error;
  EXPECT_NE(error.find("32768"), std::string::npos) << error;
  EXPECT_EQ(view.boxes.back().flags, 0x40010u);
  EXPECT_EQ(LogLines().back(), error);
}

// Every statement of a small run, failed in turn, leaves the live tables as they were (or, when
// it fails after the swap, as the finished run leaves them) and no temporary table behind.
TEST_F(OptimizerRunTest, AFailureAtAnyStatementLeavesTheLiveTablesIntact) {
  const std::string layer = db_.AddLayer("L", kBounds);
  auto objects = Squares("0003", 258, 60, 60, 1, 0.1, 0.1);
  db_.AddSector(layer, kBounds, std::vector<ObjectSpec>(objects.begin(), objects.begin() + 200));
  db_.AddSector(layer, kBounds, std::vector<ObjectSpec>(objects.begin() + 200, objects.end()));
  const std::filesystem::path original = db_.Folder() / "original.sqlite";
  db_.SaveCopy(original);
  const Snapshot before = Take(db_);

  // A clean run: how many statements, and how many were done when the swap was complete.
  int total = 0, swapped_at = 0;
  Snapshot finished;
  {
    RunDatabase db(original);
    IntfPtr<test::FaultyDb> faulty(new test::FaultyDb(db.DbPtr(), 0));
    ScriptedView view;
    view.answers = {mb::kIdYes, mb::kIdNo};
    RefHolder<TAtlorBase> base(new TAtlorBase(IntfPtr<IArDb>(faulty.get()), RunLogSink()));
    TOptimizerRun run(*faulty, *base.get(), view);
    ASSERT_EQ(run.StartClick(), RunOutcome::kFinished);
    total = faulty->Statements();
    finished = Take(db);
    // Statements after the question: the three drops of the old tables.
    swapped_at = total - 3;
  }
  ASSERT_GT(total, 50);

  for (int k = 1; k <= total; ++k) {
    RunDatabase db(original);
    IntfPtr<test::FaultyDb> faulty(new test::FaultyDb(db.DbPtr(), k));
    ScriptedView view;
    view.answers = {mb::kIdYes, mb::kIdNo};
    RefHolder<TAtlorBase> base(new TAtlorBase(IntfPtr<IArDb>(faulty.get()), RunLogSink()));
    TOptimizerRun run(*faulty, *base.get(), view);
    RunOutcome outcome;
    try {
      outcome = run.StartClick();
    } catch (const Exception&) {
      outcome = RunOutcome::kFailed;  // creating the temporary tables failed
    }
    ASSERT_TRUE(faulty->Failed()) << "k=" << k;
    EXPECT_EQ(outcome, RunOutcome::kFailed) << "k=" << k;
    const Snapshot after = Take(db);
    if (k <= swapped_at) {
      EXPECT_EQ(after, before) << "k=" << k;
    } else {
      // The new tables are live; the old ones that could not be dropped are still there.
      EXPECT_EQ(after.layers, finished.layers) << "k=" << k;
      EXPECT_EQ(after.sectors.size(), finished.sectors.size()) << "k=" << k;
      for (const std::string& t : after.extra) EXPECT_EQ(t.find("_TMP"), std::string::npos) << t;
    }
  }
}

TEST_F(OptimizerRunTest, EveryStatementHasItsTextParameterTypesAndPreparedFlag) {
  const std::string layer = db_.AddLayer("L", kBounds);
  db_.AddSector(layer, kBounds, Squares("0003", 300, 1, 1, 0.5, 0.1, 0.1));  // one split
  IntfPtr<test::FaultyDb> recording(new test::FaultyDb(db_.DbPtr(), 0));
  ScriptedView view;
  view.answers = {mb::kIdYes, mb::kIdNo};
  ASSERT_EQ(Run(view, recording.get()), RunOutcome::kFinished);

  const TArDbDataType S = dtString, F = dtFloat, I = dtInteger, B = dtBinary;
  using Made = test::FaultyDb::Made;
  const std::vector<Made> expected = {
      // The layers phase.
      {"select count(ID) from [ATLOR_LAYERS]", {}, true},
      {"SELECT [ATLOR_LAYERS].[ID] FROM [ATLOR_LAYERS] ", {}, true},
      {"SELECT [ATLOR_LAYERS].[PLANEID],[ATLOR_LAYERS].[LAYERNAME],[ATLOR_LAYERS].[VISIBLEMIN],"
       "[ATLOR_LAYERS].[VISIBLEMAX],[ATLOR_LAYERS].[ROOTSECTORID] FROM [ATLOR_LAYERS] WHERE "
       "([ATLOR_LAYERS].[ID]=?)",
       {S}, true},
      {" SELECT A.[BOUNDSL] As x1, A.[BOUNDSR] As x2, A.[BOUNDST] As y2, A.[BOUNDSB] As y1 FROM "
       "[ATLOR_MAPS] M, [ATLOR_AREAS] A WHERE (M.[ID] = ?) AND (M.[GPID] = A.[ID])",
       {S}, true},
      {"SELECT * FROM [ATLOR_DBINFO] ", {}, false},
      {"UPDATE [ATLOR_DBINFO] SET [ATLOR_DBINFO].[IDGROUP]=?,[ATLOR_DBINFO].[IDNUMBER]=? ", {I, I},
       true},
      {"INSERT INTO [ATLOR_SECTORS_TMP] ([ATLOR_SECTORS_TMP].[ID],[ATLOR_SECTORS_TMP].[LAYERID],"
       "[ATLOR_SECTORS_TMP].[BOUNDSL],[ATLOR_SECTORS_TMP].[BOUNDSR],[ATLOR_SECTORS_TMP].[BOUNDST],"
       "[ATLOR_SECTORS_TMP].[BOUNDSB]) VALUES(?,?,?,?,?,?)",
       {S, S, F, F, F, F}, true},
      {"SELECT [ATLOR_SECTORS_TMP].[LAYERID],[ATLOR_SECTORS_TMP].[BOUNDSL],"
       "[ATLOR_SECTORS_TMP].[BOUNDSR],[ATLOR_SECTORS_TMP].[BOUNDST],[ATLOR_SECTORS_TMP].[BOUNDSB],"
       "[ATLOR_SECTORS_TMP].[S0],[ATLOR_SECTORS_TMP].[S1],[ATLOR_SECTORS_TMP].[S2],"
       "[ATLOR_SECTORS_TMP].[S3] FROM [ATLOR_SECTORS_TMP] WHERE ([ATLOR_SECTORS_TMP].[ID]=?)",
       {S}, true},
      {"UPDATE [ATLOR_SECTORS_TMP] SET [ATLOR_SECTORS_TMP].[OBJECTS]=? WHERE "
       "([ATLOR_SECTORS_TMP].[ID]=?)",
       {B, S}, true},
      {"INSERT INTO [ATLOR_LAYERS_TMP] ([ATLOR_LAYERS_TMP].[ID],[ATLOR_LAYERS_TMP].[PLANEID],"
       "[ATLOR_LAYERS_TMP].[LAYERNAME],[ATLOR_LAYERS_TMP].[VISIBLEMIN],"
       "[ATLOR_LAYERS_TMP].[VISIBLEMAX],[ATLOR_LAYERS_TMP].[ROOTSECTORID]) VALUES(?,?,?,?,?,?)",
       {S, S, S, F, F, S}, true},
      {"select count([ATLOR_SECTORS].[ID]) from [ATLOR_SECTORS] where [ATLOR_SECTORS].[LAYERID]=?",
       {S}, true},
      {"SELECT [ATLOR_SECTORS].[ID] FROM [ATLOR_SECTORS] WHERE ([ATLOR_SECTORS].[LAYERID]=?)", {S},
       true},
      {"SELECT [ATLOR_SECTORS].[LAYERID],[ATLOR_SECTORS].[BOUNDSL],[ATLOR_SECTORS].[BOUNDSR],"
       "[ATLOR_SECTORS].[BOUNDST],[ATLOR_SECTORS].[BOUNDSB],[ATLOR_SECTORS].[S0],"
       "[ATLOR_SECTORS].[S1],[ATLOR_SECTORS].[S2],[ATLOR_SECTORS].[S3] FROM [ATLOR_SECTORS] WHERE "
       "([ATLOR_SECTORS].[ID]=?)",
       {S}, true},
      {"SELECT [ATLOR_SECTORS].[OBJECTS] FROM [ATLOR_SECTORS] WHERE ([ATLOR_SECTORS].[ID]=?)", {S},
       true},
      {"UPDATE [ATLOR_SECTORS_TMP] SET [ATLOR_SECTORS_TMP].[S0]=?,[ATLOR_SECTORS_TMP].[S1]=?,"
       "[ATLOR_SECTORS_TMP].[S2]=?,[ATLOR_SECTORS_TMP].[S3]=? WHERE ([ATLOR_SECTORS_TMP].[ID]=?)",
       {S, S, S, S, S}, true},
      // The object-info phase.
      {"select count(ID) from [ATLOR_SECTORS_TMP]", {}, true},
      {"SELECT [ATLOR_SECTORS_TMP].[ID] FROM [ATLOR_SECTORS_TMP] ", {}, true},
      {"INSERT INTO [ATLOR_OBJINFO_TMP] ([ATLOR_OBJINFO_TMP].[ID],[ATLOR_OBJINFO_TMP].[LAYERID],"
       "[ATLOR_OBJINFO_TMP].[SECTORID]) VALUES(?,?,?)",
       {S, S, S}, true},
      {"SELECT [ATLOR_SECTORS_TMP].[OBJECTS] FROM [ATLOR_SECTORS_TMP] WHERE "
       "([ATLOR_SECTORS_TMP].[ID]=?)",
       {S}, true},
  };
  std::vector<Made> made = recording->Commands();
  for (const Made& e : expected)
    EXPECT_NE(std::find(made.begin(), made.end(), e), made.end()) << e.sql;
  for (const Made& m : made)
    EXPECT_NE(std::find(expected.begin(), expected.end(), m), expected.end()) << m.sql;
}

TEST_F(OptimizerRunTest, AFailedRenameOfTheNewSectorsUndoesSectorsThenLayers) {
  const std::string layer = db_.AddLayer("L", kBounds);
  db_.AddSector(layer, kBounds, Squares("0003", 3, 1, 1, 1, 2, 2));
  const std::filesystem::path original = db_.Folder() / "original.sqlite";
  db_.SaveCopy(original);
  const Snapshot before = Take(db_);

  int fail_at = 0;
  {
    RunDatabase db(original);
    IntfPtr<test::FaultyDb> clean(new test::FaultyDb(db.DbPtr(), 0));
    ScriptedView view;
    view.answers = {mb::kIdYes, mb::kIdNo};
    ASSERT_EQ(Run(view, clean.get()), RunOutcome::kFinished);
    for (const auto& r : clean->Renames())
      if (r.from == "ATLOR_SECTORS_TMP") fail_at = r.statement;
  }
  ASSERT_GT(fail_at, 0);

  IntfPtr<test::FaultyDb> faulty(new test::FaultyDb(db_.DbPtr(), fail_at));
  ScriptedView view;
  view.answers = {mb::kIdYes, mb::kIdNo};
  ASSERT_EQ(Run(view, faulty.get()), RunOutcome::kFailed);
  std::vector<std::pair<std::string, std::string>> renames;
  for (const auto& r : faulty->Renames())
    if (!r.from.empty()) renames.emplace_back(r.from, r.to);  // not the three creations
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"ATLOR_LAYERS", "ATLOR_LAYERS_OLD"},   {"ATLOR_LAYERS_TMP", "ATLOR_LAYERS"},
      {"ATLOR_SECTORS", "ATLOR_SECTORS_OLD"}, {"ATLOR_SECTORS_OLD", "ATLOR_SECTORS"},
      {"ATLOR_LAYERS_OLD", "ATLOR_LAYERS"}};
  EXPECT_EQ(renames, expected);
  EXPECT_EQ(Take(db_), before);
  ASSERT_EQ(view.boxes.size(), 2u);
  const std::string error = "Ошибка: injected failure at statement " + std::to_string(fail_at);
  EXPECT_EQ(view.boxes[1].text, error);
  EXPECT_EQ(view.boxes[1].caption, "Ошибка");
  EXPECT_EQ(view.boxes[1].flags, 0x40010u);
  EXPECT_EQ(LogLines().back(), error);
  EXPECT_EQ(view.titles.back(), "Оптимизатор");
}

TEST_F(OptimizerRunTest, TheBusyWindowNamesEachTableOperation) {
  struct Recorder : IBusyWindow {
    std::vector<std::string> events;
    void Show() override { events.push_back("show"); }
    void SetText(const std::string& text) override { events.push_back(text); }
    void Close() override { events.push_back("close"); }
  } recorder;
  SetBusyWindow(&recorder);
  ScriptedView view;
  view.answers = {mb::kIdYes, mb::kIdNo};  // go; drop the old tables
  const RunOutcome outcome = Run(view);
  SetBusyWindow(nullptr);
  ASSERT_EQ(outcome, RunOutcome::kFinished);
  const std::vector<std::string> expected = {
      "show", "Создание таблиц",         "close", "show", "Переименовывание таблиц",
      "close", "show", "Удаление таблиц", "close"};
  EXPECT_EQ(recorder.events, expected);
}

TEST_F(OptimizerRunTest, TitlePercentRoundsHalfToEvenAndWaitsForAMaximum) {
  ScriptedView view;
  RefHolder<TAtlorBase> base(new TAtlorBase(db_.DbPtr(), RunLogSink()));
  TOptimizerRun run(db_.Db(), *base.get(), view);
  run.BeginProgress("Шаг", 8);
  EXPECT_EQ(view.titles.back(), "Оптимизатор {Шаг 0%}");
  const char* const expected[] = {"12", "25", "38", "50", "62", "75", "88", "100"};  // n * 12.5
  for (const char* percent : expected) {
    run.StepProgress();
    EXPECT_EQ(view.titles.back(), std::string("Оптимизатор {Шаг ") + percent + "%}");
  }
  run.BeginProgress("Пусто", 0);
  run.StepProgress();
  EXPECT_EQ(view.titles.back(), "Оптимизатор {Пусто 0%}");
}

TEST(RunStartDateTest, DateAndTimeAlwaysBothShown) {
  EXPECT_EQ(RunStartDateText(EncodeDateTime(2026, 12, 11, 0, 0, 0)), "11.12.2026 00:00:00");
  EXPECT_EQ(RunStartDateText(EncodeDateTime(2026, 1, 2, 3, 4, 5, 999)), "02.01.2026 03:04:05");
}

TEST(CheckDatabaseVersionTest, AcceptsOnlyVersion265WithOrWithoutBit0x1000) {
  struct Case {
    int version;
    bool accepted;
  };
  for (const Case c : {Case{265, true}, Case{265 + 0x1000, true}, Case{264, false}, Case{266, false}}) {
    RunDatabase db;
    db.Db().CreateCommand("UPDATE [ATLOR_DBINFO] SET [VERSION]=?", std::array{dtInteger}.data(), 1,
                          false)->Execute({Value(c.version)});
    ScriptedView view;
    std::string caption;
    EXPECT_EQ(CheckDatabaseVersion(db.Db(), caption, view), c.accepted) << c.version;
    if (c.accepted) {
      EXPECT_EQ(caption, "Тестовая база");
      EXPECT_TRUE(view.boxes.empty());
    } else {
      ASSERT_EQ(view.boxes.size(), 1u);
      EXPECT_EQ(view.boxes[0].text, "Не та версия базы данных");
      EXPECT_EQ(view.boxes[0].flags, 0x11u);
    }
  }
  RunDatabase db;
  db.Db().DropTable("ATLOR_DBINFO");
  ScriptedView view;
  std::string caption;
  EXPECT_FALSE(CheckDatabaseVersion(db.Db(), caption, view));
  EXPECT_EQ(view.boxes.at(0).text, "В указанном каталоге база ГИС Atlor не найдена");
}

TEST(LongOperationTest, NestedLevelsShowTheEnclosingTextAgain) {
  BeginLongOperation("A");
  BeginLongOperation("B");
  EXPECT_EQ(LongOperationText(), "B");
  EndLongOperation();
  EXPECT_EQ(LongOperationText(), "A");
  EndLongOperation();
  EXPECT_EQ(LongOperationDepth(), 0);
  EXPECT_EQ(LongOperationText(), "");
  EndLongOperation();  // without a matching begin: nothing
  EXPECT_EQ(LongOperationDepth(), 0);
}

}  // namespace
}  // namespace atlor
