#include "tools/sample_generator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "backends/sqlite/sqlite_ardb.h"
#include "core/exception.h"
#include "storage/atlor_base.h"
#include "storage/contour_codec.h"
#include "storage/layers_sectors.h"
#include "storage/log_sink.h"
#include "storage/map_object.h"
#include "storage/schema.h"
#include "support/temp_folder.h"

namespace atlor::sample {
namespace {

using test::TempFolder;

IntfPtr<IArDb> NewDatabase(const std::string& file) {
  TSQLiteArDb::CreateDatabaseFile(file);
  IntfPtr<IArDb> db(new TSQLiteArDb);
  db->Open(TSQLiteArDb::MakeDescription(file));
  return db;
}

IntfPtr<IArDb> OpenDatabase(const std::string& file) {
  IntfPtr<IArDb> db(new TSQLiteArDb);
  db->Open(TSQLiteArDb::MakeDescription(file));
  return db;
}

// One row of ATLOR_SECTORS.
struct SectorRow {
  std::string Id, LayerId;
  TGeoRect Bounds;
  std::string Children[4];
  Bytes Objects;
};

std::map<std::string, SectorRow> ReadSectors(IArDb& db) {
  std::map<std::string, SectorRow> rows;
  IntfPtr<IArDbCursor> c = OpenTableCursor(db, "ATLOR_SECTORS");
  for (; !c->Eof(); c->Next()) {
    SectorRow row;
    row.Id = c->AsString("ID", "");
    row.LayerId = c->AsString("LAYERID", "");
    row.Bounds = TGeoRect{c->AsFloat("BOUNDSL", 0), c->AsFloat("BOUNDSB", 0),
                          c->AsFloat("BOUNDSR", 0), c->AsFloat("BOUNDST", 0)};
    const char* names[4] = {"S0", "S1", "S2", "S3"};
    for (int q = 0; q < 4; ++q) row.Children[q] = c->AsString(names[q], "");
    const Value blob = c->AsBlob("OBJECTS");
    if (!blob.IsNull()) row.Objects = blob.BytesRef();
    rows[row.Id] = std::move(row);
  }
  return rows;
}

// ID -> (LAYERID, SECTORID) of ATLOR_OBJINFO.
std::map<std::string, std::pair<std::string, std::string>> ReadObjInfo(IArDb& db) {
  std::map<std::string, std::pair<std::string, std::string>> rows;
  IntfPtr<IArDbCursor> c = OpenTableCursor(db, "ATLOR_OBJINFO");
  for (; !c->Eof(); c->Next())
    rows[c->AsString("ID", "")] = {c->AsString("LAYERID", ""), c->AsString("SECTORID", "")};
  return rows;
}

// ID -> ROOTSECTORID of ATLOR_LAYERS.
std::map<std::string, std::string> ReadLayers(IArDb& db) {
  std::map<std::string, std::string> rows;
  IntfPtr<IArDbCursor> c = OpenTableCursor(db, "ATLOR_LAYERS");
  for (; !c->Eof(); c->Next()) rows[c->AsString("ID", "")] = c->AsString("ROOTSECTORID", "");
  return rows;
}

// The version in a value's header (256 for a value without one).
int ValueVersion(const Bytes& value) {
  if (value.size() >= 4 && value[0] == 0xF3 && value[1] == 0xFF) return value[2] | (value[3] << 8);
  return kStorageVersionHeaderless;
}

// The object count a value announces.
int AnnouncedCount(const Bytes& value) {
  const size_t at = ValueVersion(value) == kStorageVersionHeaderless ? 0 : 4;
  return static_cast<int16_t>(value[at] | (value[at + 1] << 8));
}

int TreeDepth(const std::map<std::string, SectorRow>& sectors, const std::string& id,
              int* visited) {
  ++*visited;
  const SectorRow& s = sectors.at(id);
  int depth = 0;
  if (s.Children[0].empty()) return 0;
  for (int q = 0; q < 4; ++q) {
    const SectorRow& child = sectors.at(s.Children[q]);
    EXPECT_EQ(child.LayerId, s.LayerId);
    const TGeoRect quadrant = QuadrantOf(s.Bounds, q);
    EXPECT_EQ(child.Bounds, quadrant) << child.Id;
    depth = std::max(depth, 1 + TreeDepth(sectors, child.Id, visited));
  }
  return depth;
}

// A small database with every version and every tree, made once.
class SampleDatabaseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempFolder("atlor-sample");
    options_ = new TSampleOptions;
    options_->Seed = 7;
    options_->Layers = 3;
    options_->Maps = 2;
    options_->Objects = 2500;
    options_->Versions = {286, 265, 264, 262, 261, 260, 257, 256, 300};
    IntfPtr<IArDb> db = NewDatabase(folder_->File("sample.sqlite"));
    report_ = new TSampleReport(GenerateSampleDatabase(*db, *options_));
    db->Close();
  }
  static void TearDownTestSuite() {
    delete report_;
    delete options_;
    delete folder_;
  }
  void SetUp() override { db = OpenDatabase(folder_->File("sample.sqlite")); }

  static TempFolder* folder_;
  static TSampleOptions* options_;
  static TSampleReport* report_;
  IntfPtr<IArDb> db;
};

TempFolder* SampleDatabaseTest::folder_ = nullptr;
TSampleOptions* SampleDatabaseTest::options_ = nullptr;
TSampleReport* SampleDatabaseTest::report_ = nullptr;

TEST_F(SampleDatabaseTest, HasEveryTableAndTheIdentityRows) {
  for (const AtlorTableSchema& table : kAtlorTables)
    EXPECT_TRUE(db->TableExists(std::string(table.Name))) << table.Name;

  IntfPtr<IArDbCursor> info = OpenTableCursor(*db, "ATLOR_DBINFO");
  EXPECT_EQ(info->AsInteger("VERSION", 0), 265);
  EXPECT_EQ(info->AsString("DBCAPTION", ""), "Пример базы Atlor (зерно 7)");
  EXPECT_EQ(info->AsString("DBID", ""), report_->DbId);
  EXPECT_EQ(FormatId(info->AsInteger("IDGROUP", 0), info->AsInteger("IDNUMBER", 0)),
            report_->LastId);
  info->Next();
  EXPECT_TRUE(info->Eof()) << "one row only";

  IntfPtr<IArDbCursor> idmaper = OpenTableCursor(*db, "ATLOR_IDMAPER");
  ASSERT_FALSE(idmaper->Eof());
  EXPECT_EQ(idmaper->AsInteger("IDCLASS", -1), 0);
  EXPECT_EQ(idmaper->AsInteger("LOCALID", -1), kSampleIdGroup);
  const std::string guid = idmaper->AsString("GLOBALID", "");
  EXPECT_EQ(guid.size(), 38u);
  EXPECT_EQ(guid.front(), '{');
  EXPECT_EQ(guid.back(), '}');
  idmaper->Next();
  EXPECT_TRUE(idmaper->Eof());
}

TEST_F(SampleDatabaseTest, IdentifiersContinueAfterTheLastOneIssued) {
  // Every identifier in the database is below the last one recorded, and NewId goes on from it.
  std::set<std::string> ids;
  for (const char* table : {"ATLOR_AREAS", "ATLOR_MAPS", "ATLOR_LAYERS", "ATLOR_STYLES",
                            "ATLOR_SECTORS", "ATLOR_OBJINFO"}) {
    IntfPtr<IArDbCursor> c = OpenTableCursor(*db, table);
    for (; !c->Eof(); c->Next()) {
      const std::string id = c->AsString("ID", "");
      EXPECT_TRUE(IsValidId(TObjectId(id))) << id;
      EXPECT_LE(id, report_->LastId.Str());
      EXPECT_TRUE(ids.insert(id).second) << "issued twice: " << id;
    }
  }
  TNullLogSink log;
  TAtlorBase* base = nullptr;
  RefAssign(base, new TAtlorBase(db, log));
  const std::string last = report_->LastId.Str();
  const TObjectId next = base->NewId();
  RefFree(base);
  EXPECT_EQ(next, FormatId(kSampleIdGroup, std::stoll(last.substr(4), nullptr, 16) + 1));
}

TEST_F(SampleDatabaseTest, LayersLoadWithTheirMapExtentAndRootSector) {
  const std::map<std::string, std::string> layers = ReadLayers(*db);
  ASSERT_EQ(layers.size(), 3u);
  TNullLogSink log;
  TAtlorBase* base = nullptr;
  RefAssign(base, new TAtlorBase(db, log));
  for (const auto& [id, root] : layers) {
    TLayer* layer = base->LoadLayer(id);
    EXPECT_EQ(layer->Bounds(), kSampleExtent);
    EXPECT_EQ(layer->RootSectorId().Str(), root);
    RefRelease(layer);
    TSector* sector = base->LoadSector(root, "ATLOR_SECTORS");
    EXPECT_EQ(sector->LayerId().Str(), id);
    EXPECT_TRUE(sector->LoadObjects());
    RefRelease(sector);
  }
  RefFree(base);
}

TEST_F(SampleDatabaseTest, EverySectorDecodesAndHoldsItsObjects) {
  const std::map<std::string, SectorRow> sectors = ReadSectors(*db);
  const std::map<std::string, std::string> layers = ReadLayers(*db);
  const auto objinfo = ReadObjInfo(*db);
  std::set<std::string> root_ids;
  for (const auto& [layer, root] : layers) root_ids.insert(root);

  std::set<int> versions;
  std::set<std::string> decoded;
  bool arcs = false, single_points = false;
  for (const auto& [id, sector] : sectors) {
    versions.insert(ValueVersion(sector.Objects));
    TMemoryLogSink log;
    TMapObjectList list(nullptr, TObjectId(id));
    EXPECT_TRUE(list.LoadFromBytes(sector.Objects, log)) << id;
    EXPECT_TRUE(log.Lines().empty()) << id << ": " << log.Lines().front();
    for (int i = 0; i < list.Count(); ++i) {
      TMapObject* object = list[i];
      EXPECT_TRUE(decoded.insert(object->Id().Str()).second);
      // The stored bounds are those of the geometry as read back.
      EXPECT_FALSE(object->UpdateBounds()) << object->Id().Str();
      if (!root_ids.contains(id)) {
        EXPECT_TRUE(Contains(sector.Bounds, object->Bounds()));
      }
      const auto info = objinfo.find(object->Id().Str());
      ASSERT_NE(info, objinfo.end()) << object->Id().Str();
      EXPECT_EQ(info->second.first, sector.LayerId);
      EXPECT_EQ(info->second.second, id);
      for (int s = 0; s < object->Shapes().Count(); ++s) {
        TContour& contour = object->Shapes()[s].Contour();
        arcs = arcs || contour.Arcs().Count() > 0;
        single_points = single_points || contour.Nodes().Count() == 1;
      }
    }
  }
  EXPECT_EQ(static_cast<int>(decoded.size()), options_->Objects);
  EXPECT_EQ(static_cast<int>(objinfo.size()), options_->Objects);
  EXPECT_EQ(report_->Objects, options_->Objects);
  EXPECT_EQ(versions, std::set<int>(options_->Versions.begin(), options_->Versions.end()));
  EXPECT_TRUE(arcs);
  EXPECT_TRUE(single_points);
}

TEST_F(SampleDatabaseTest, TreesHaveTheirShapes) {
  const std::map<std::string, SectorRow> sectors = ReadSectors(*db);
  const std::map<std::string, std::string> layers = ReadLayers(*db);
  std::map<std::string, int> counts;  // decoded objects per sector
  for (const auto& [id, sector] : sectors) {
    TNullLogSink log;
    TMapObjectList list;
    list.LoadFromBytes(sector.Objects, log);
    counts[id] = list.Count();
  }
  ASSERT_EQ(report_->Layers.size(), 3u);
  const int per_layer[3] = {834, 833, 833};
  for (size_t l = 0; l < 3; ++l) {
    const TLayerReport& layer = report_->Layers[l];
    EXPECT_EQ(layer.Objects, per_layer[l]);
    int visited = 0;
    const std::string root = layers.at(layer.Id.Str());
    const int depth = TreeDepth(sectors, root, &visited);
    EXPECT_EQ(depth, layer.Depth);
    // Every sector of the layer hangs in its tree.
    EXPECT_EQ(visited, static_cast<int>(std::count_if(sectors.begin(), sectors.end(),
                                                       [&](const auto& s) {
                                                         return s.second.LayerId == layer.Id.Str();
                                                       })));
    EXPECT_EQ(visited, layer.Sectors);
    switch (layer.Tree) {
      case TTreeShape::kRoot:
        EXPECT_EQ(visited, 1);
        EXPECT_EQ(counts[root], layer.Objects);
        break;
      case TTreeShape::kDeep:
        EXPECT_EQ(depth, 12);
        EXPECT_EQ(visited, 85 + 36);
        EXPECT_GT(counts[root], 0) << "objects sit too high";
        break;
      default:
        EXPECT_GT(visited, 1);
        for (const auto& [id, sector] : sectors) {
          if (sector.LayerId != layer.Id.Str()) continue;
          // A sector keeps only objects that fit none of its quadrants once it is split or
          // holds more than 256.
          if (counts[id] <= 256 && sector.Children[0].empty()) continue;
          TNullLogSink log;
          TMapObjectList list;
          list.LoadFromBytes(sector.Objects, log);
          for (int i = 0; i < list.Count(); ++i)
            for (int q = 0; q < 4; ++q)
              EXPECT_FALSE(Contains(QuadrantOf(sector.Bounds, q), list[i]->Bounds()))
                  << list[i]->Id().Str();
        }
        break;
    }
  }
  EXPECT_EQ(report_->Layers[0].Tree, TTreeShape::kRoot);
  EXPECT_EQ(report_->Layers[1].Tree, TTreeShape::kDeep);
  EXPECT_EQ(report_->Layers[2].Tree, TTreeShape::kGood);
}

// ---------------------------------------------------------------------------------------------

struct Snapshot {
  std::map<std::string, SectorRow> Sectors;
  std::map<std::string, std::pair<std::string, std::string>> ObjInfo;
  std::string DbId;
};

Snapshot Generate(const TempFolder& folder, const std::string& name, const TSampleOptions& options) {
  IntfPtr<IArDb> db = NewDatabase(folder.File(name));
  GenerateSampleDatabase(*db, options);
  Snapshot s{ReadSectors(*db), ReadObjInfo(*db), ""};
  s.DbId = OpenTableCursor(*db, "ATLOR_DBINFO")->AsString("DBID", "");
  return s;
}

TEST(SampleGeneratorTest, SameSeedSameDatabase) {
  TempFolder folder("atlor-sample");
  TSampleOptions options;
  options.Seed = 42;
  options.Layers = 4;
  options.Objects = 600;
  options.Versions = {286, 264, 259};
  options.Damage = {TDamageKind::kHeader, TDamageKind::kBadId, TDamageKind::kTruncated,
                    TDamageKind::kBadContour, TDamageKind::kNoShapes, TDamageKind::kDuplicate};
  const Snapshot a = Generate(folder, "a.sqlite", options);
  const Snapshot b = Generate(folder, "b.sqlite", options);
  ASSERT_EQ(a.Sectors.size(), b.Sectors.size());
  for (const auto& [id, sector] : a.Sectors) {
    const SectorRow& other = b.Sectors.at(id);
    EXPECT_EQ(sector.Objects, other.Objects) << id;
    EXPECT_EQ(sector.Bounds, other.Bounds) << id;
  }
  EXPECT_EQ(a.ObjInfo, b.ObjInfo);
  EXPECT_EQ(a.DbId, b.DbId);

  // Other versions: other bytes, the same objects in the same sectors.
  TSampleOptions current = options;
  current.Versions = {286};
  current.Damage.clear();
  const Snapshot c = Generate(folder, "c.sqlite", current);
  EXPECT_EQ(c.ObjInfo, a.ObjInfo);

  options.Seed = 43;
  const Snapshot d = Generate(folder, "d.sqlite", options);
  int same = 0;
  for (const auto& [id, sector] : a.Sectors)
    if (d.Sectors.contains(id) && d.Sectors.at(id).Objects == sector.Objects &&
        sector.Objects.size() > 6)
      ++same;
  EXPECT_EQ(same, 0);
  EXPECT_NE(a.DbId, d.DbId);
}

TEST(SampleGeneratorTest, InjectedDamageIsReportedWhenDecoded) {
  TempFolder folder("atlor-sample");
  TSampleOptions options;
  options.Seed = 3;
  options.Layers = 3;
  options.Objects = 1200;
  options.Versions = {286, 262, 258};
  for (int k = 0; k < kDamageKindCount; ++k) options.Damage.push_back(static_cast<TDamageKind>(k));
  IntfPtr<IArDb> db = NewDatabase(folder.File("damaged.sqlite"));
  const TSampleReport report = GenerateSampleDatabase(*db, options);
  ASSERT_EQ(report.Damage.size(), static_cast<size_t>(kDamageKindCount));

  const std::map<std::string, SectorRow> sectors = ReadSectors(*db);
  const auto objinfo = ReadObjInfo(*db);
  EXPECT_EQ(static_cast<int>(objinfo.size()), options.Objects) << "sound objects keep their rows";

  std::map<std::string, const TDamageReport*> damaged;
  std::set<std::string> damaged_layers;
  for (const TDamageReport& d : report.Damage) {
    EXPECT_TRUE(damaged.emplace(d.SectorId.Str(), &d).second) << "one sector per kind";
    damaged_layers.insert(d.LayerId.Str());
  }
  EXPECT_EQ(damaged_layers.size(), 3u) << "kinds spread over the layers";

  std::set<std::string> decoded;
  int lost = 0;
  for (const auto& [id, sector] : sectors) {
    TMemoryLogSink log;
    TMapObjectList list(nullptr, TObjectId(id));
    const bool complete = list.LoadFromBytes(sector.Objects, log);
    for (int i = 0; i < list.Count(); ++i) decoded.insert(list[i]->Id().Str());
    const auto d = damaged.find(id);
    if (d == damaged.end()) {
      EXPECT_TRUE(complete) << id;
      EXPECT_TRUE(log.Lines().empty()) << id;
      continue;
    }
    const TDamageReport& damage = *d->second;
    SCOPED_TRACE(std::string(DamageKindName(damage.Kind)));
    EXPECT_EQ(log.Lines(), damage.ExpectedLog);
    if (damage.Kind != TDamageKind::kHeader) {
      EXPECT_EQ(ValueVersion(sector.Objects), damage.Version);
    }
    const int sound = static_cast<int>(std::count_if(
        objinfo.begin(), objinfo.end(), [&](const auto& row) { return row.second.second == id; }));
    switch (damage.Kind) {
      case TDamageKind::kHeader:
        EXPECT_FALSE(complete);
        EXPECT_EQ(list.Count(), 0);
        EXPECT_EQ(damage.LostObjects, sound);
        lost += sound;
        break;
      case TDamageKind::kBadId:
      case TDamageKind::kTruncated:
        EXPECT_FALSE(complete);
        EXPECT_EQ(list.Count(), sound);
        EXPECT_EQ(AnnouncedCount(sector.Objects), sound + 1);
        break;
      case TDamageKind::kBadContour: {
        EXPECT_TRUE(complete);
        EXPECT_GE(damage.Version, kStorageVersionPacked);
        EXPECT_EQ(list.Count(), sound + 1) << "the object keeps its sound shape";
        break;
      }
      case TDamageKind::kNoShapes:
        EXPECT_TRUE(complete);
        EXPECT_EQ(list.Count(), sound);
        EXPECT_EQ(AnnouncedCount(sector.Objects), sound + 1);
        break;
      case TDamageKind::kDuplicate:
        EXPECT_TRUE(complete);
        EXPECT_EQ(list.Count(), sound);
        EXPECT_EQ(AnnouncedCount(sector.Objects), sound + 1);
        if (!damage.OtherSectorId.Empty()) {
          // The third copy sits in the root sector of the layer.
          TNullLogSink root_log;
          TMapObjectList root;
          root.LoadFromBytes(sectors.at(damage.OtherSectorId.Str()).Objects, root_log);
          EXPECT_TRUE(root.ContainsId(TObjectId(damage.ObjectId)));
        }
        break;
    }
  }
  // The sound objects of every other sector come back.
  for (const auto& [object, where] : objinfo) {
    const auto d = damaged.find(where.second);
    if (d != damaged.end() && d->second->Kind == TDamageKind::kHeader) continue;
    EXPECT_TRUE(decoded.contains(object)) << object;
  }
  EXPECT_GT(static_cast<int>(decoded.size()), options.Objects - lost);  // the bad-contour object
}

TEST(SampleGeneratorTest, OptionsThatDoNotFitAreRefusedBeforeWriting) {
  struct Case {
    const char* what;
    TSampleOptions options;
    const char* message_part;
  };
  auto with = [](auto change) {
    TSampleOptions o;
    change(o);
    return o;
  };
  const Case cases[] = {
      {"no packed sector", with([](TSampleOptions& o) {
         o.Versions = {261, 256};
         o.Damage = {TDamageKind::kBadContour};
       }),
       "версии 262"},
      {"one sector, two kinds", with([](TSampleOptions& o) {
         o.Layers = 1;
         o.Tree = TTreeShape::kRoot;
         o.Damage = {TDamageKind::kBadId, TDamageKind::kTruncated};
       }),
       "свой сектор"},
      {"duplicate without objects", with([](TSampleOptions& o) {
         o.Objects = 0;
         o.Damage = {TDamageKind::kDuplicate};
       }),
       "с объектами"},
      {"objects without layers", with([](TSampleOptions& o) { o.Layers = 0; }), "ни одного слоя"},
      {"version too old", with([](TSampleOptions& o) { o.Versions = {255}; }), "255"},
      {"kind twice", with([](TSampleOptions& o) {
         o.Damage = {TDamageKind::kHeader, TDamageKind::kHeader};
       }),
       "дважды"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      TSampleGenerator generator(c.options);
      ADD_FAILURE() << "accepted";
    } catch (const ESampleOptionsError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message_part), std::string::npos) << e.what();
    }
  }
}

TEST(SampleGeneratorTest, AnOverfullRootPassesWhatItCannotHoldToItsQuadrants) {
  TempFolder folder("atlor-sample");
  TSampleOptions options;
  options.Layers = 1;
  options.Tree = TTreeShape::kRoot;
  options.Objects = kMaxSectorObjects + 300;
  options.Damage = {TDamageKind::kNoShapes};
  IntfPtr<IArDb> db = NewDatabase(folder.File("full.sqlite"));
  const TSampleReport report = GenerateSampleDatabase(*db, options);
  ASSERT_EQ(report.Layers.size(), 1u);
  EXPECT_EQ(report.Layers[0].Sectors, 5);
  EXPECT_EQ(report.Layers[0].LargestSector, kMaxSectorObjects);
  const std::string root = ReadLayers(*db).begin()->second;
  const auto sectors = ReadSectors(*db);
  EXPECT_EQ(AnnouncedCount(sectors.at(root).Objects), kMaxSectorObjects);
  // The damage went where there was room.
  EXPECT_NE(report.Damage.at(0).SectorId.Str(), root);
  int total = 0;
  for (const auto& [id, sector] : sectors) {
    TNullLogSink log;
    TMapObjectList list;
    list.LoadFromBytes(sector.Objects, log);
    total += list.Count();
  }
  EXPECT_EQ(total, options.Objects);
}

TEST(SampleGeneratorTest, EmptyLayersAndNoLayersStillMakeADatabase) {
  TempFolder folder("atlor-sample");
  TSampleOptions options;
  options.Layers = 2;
  options.Objects = 0;
  IntfPtr<IArDb> db = NewDatabase(folder.File("empty.sqlite"));
  GenerateSampleDatabase(*db, options);
  const auto sectors = ReadSectors(*db);
  EXPECT_FALSE(sectors.empty());
  for (const auto& [id, sector] : sectors) {
    TMemoryLogSink log;
    TMapObjectList list;
    EXPECT_TRUE(list.LoadFromBytes(sector.Objects, log));
    EXPECT_EQ(list.Count(), 0);
  }

  options.Layers = 0;
  IntfPtr<IArDb> none = NewDatabase(folder.File("none.sqlite"));
  GenerateSampleDatabase(*none, options);
  EXPECT_TRUE(OpenTableCursor(*none, "ATLOR_LAYERS")->Eof());
  EXPECT_EQ(OpenTableCursor(*none, "ATLOR_DBINFO")->AsInteger("VERSION", 0), 265);
}

TEST(SampleGeneratorTest, AnAtlorDatabaseIsNeverFilledAgain) {
  TempFolder folder("atlor-sample");
  TSampleOptions options;
  options.Objects = 10;
  IntfPtr<IArDb> db = NewDatabase(folder.File("once.sqlite"));
  GenerateSampleDatabase(*db, options);
  const auto before = ReadSectors(*db);
  options.Seed = 2;
  try {
    GenerateSampleDatabase(*db, options);
    ADD_FAILURE() << "filled twice";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("уже содержит таблицы Atlor"), std::string::npos);
  }
  const auto after = ReadSectors(*db);
  ASSERT_EQ(before.size(), after.size());
  for (const auto& [id, sector] : before) EXPECT_EQ(sector.Objects, after.at(id).Objects);
}

}  // namespace
}  // namespace atlor::sample
