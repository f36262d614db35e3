#include "run_fixture.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "core/ref_object.h"
#include "storage/object_id.h"
#include "storage/schema.h"

namespace atlor::test {

namespace {

std::filesystem::path NewFolder() {
  char tmpl[] = "/tmp/atlor-run-XXXXXX";
  return mkdtemp(tmpl);
}

}  // namespace

void RunDatabase::OpenFile(const std::string& file) {
  db_ = IntfPtr<IArDb>(new TSQLiteArDb());
  db_->Open(TSQLiteArDb::MakeDescription(file));
}

RunDatabase::RunDatabase(const std::filesystem::path& copy_of) : folder_(NewFolder()) {
  const std::filesystem::path file = folder_ / "atlor.sqlite";
  std::filesystem::copy_file(copy_of, file);
  OpenFile(file.string());
  next_number_ = 100000;
}

void RunDatabase::SaveCopy(const std::filesystem::path& file) {
  db_->Close();  // folds the write-ahead log into the database file
  const std::filesystem::path own = folder_ / "atlor.sqlite";
  std::filesystem::copy_file(own, file, std::filesystem::copy_options::overwrite_existing);
  OpenFile(own.string());
}

RunDatabase::RunDatabase() : folder_(NewFolder()) {
  const std::string file = (folder_ / "atlor.sqlite").string();
  TSQLiteArDb::CreateDatabaseFile(file);
  OpenFile(file);
  for (const AtlorTableSchema& table : kAtlorTables)
    CreateTableFromDefs(*db_, std::string(table.Name), table.Fields, table.Indexes);
  const TArDbParam fields[] = {StringParam("DBID"), StringParam("DBCAPTION"),
                               IntegerParam("IDGROUP"), IntegerParam("IDNUMBER"),
                               IntegerParam("VERSION")};
  BuildInsertCommand(*db_, "ATLOR_DBINFO", fields, false)
      ->Execute({Value("TESTDB"), Value("Тестовая база"), Value(1), Value(5000), Value(265)});
}

RunDatabase::~RunDatabase() {
  db_->Close();
  db_.reset();
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

std::string RunDatabase::NextId() { return FormatId(2, next_number_++).Str(); }

std::string RunDatabase::AddLayer(const std::string& name, const TGeoRect& b) {
  const std::string area = NextId(), map = NextId(), layer = NextId();
  const TArDbParam area_fields[] = {StringParam("ID"), FloatParam("BOUNDSL"), FloatParam("BOUNDSR"),
                                    FloatParam("BOUNDST"), FloatParam("BOUNDSB")};
  BuildInsertCommand(*db_, "ATLOR_AREAS", area_fields, false)
      ->Execute({Value(area), Value(b.X1), Value(b.X2), Value(b.Y2), Value(b.Y1)});
  const TArDbParam map_fields[] = {StringParam("ID"), StringParam("GPID")};
  BuildInsertCommand(*db_, "ATLOR_MAPS", map_fields, false)->Execute({Value(map), Value(area)});
  const TArDbParam layer_fields[] = {StringParam("ID"), StringParam("PLANEID"),
                                     StringParam("LAYERNAME"), FloatParam("VISIBLEMIN"),
                                     FloatParam("VISIBLEMAX")};
  BuildInsertCommand(*db_, "ATLOR_LAYERS", layer_fields, false)
      ->Execute({Value(layer), Value(map), Value(name), Value(0.0), Value(1000.0)});
  return layer;
}

std::string RunDatabase::AddRawSector(const std::string& layer_id, const TGeoRect& b,
                                      const Bytes& value) {
  const std::string id = NextId();
  const TArDbParam fields[] = {StringParam("ID"),      StringParam("LAYERID"),
                               FloatParam("BOUNDSL"),  FloatParam("BOUNDSR"),
                               FloatParam("BOUNDST"),  FloatParam("BOUNDSB"),
                               BinaryParam("OBJECTS")};
  BuildInsertCommand(*db_, "ATLOR_SECTORS", fields, false)
      ->Execute({Value(id), Value(layer_id), Value(b.X1), Value(b.X2), Value(b.Y2), Value(b.Y1),
                 Value(value)});
  return id;
}

std::string RunDatabase::AddSector(const std::string& layer_id, const TGeoRect& bounds,
                                   const std::vector<ObjectSpec>& objects) {
  TMapObjectList list;
  for (const ObjectSpec& wanted : objects) {
    RefHolder<TMapObject> object(new TMapObject());
    object->SetId(TObjectId(wanted.id));
    TShape& shape = object->Shapes().Add();
    const TGeoRect& r = wanted.rect;
    shape.Contour().MoveTo({r.X1, r.Y1});
    shape.Contour().LineTo({r.X2, r.Y1});
    shape.Contour().LineTo({r.X2, r.Y2});
    shape.Contour().LineTo({r.X1, r.Y2});
    shape.Contour().ClosePath();
    shape.SetStyleId(TObjectId("0001000000AA"));
    // Stored bounds stay (0, 0, 0, 0): the run computes them from the geometry.
    list.Add(object.get());
  }
  return AddRawSector(layer_id, bounds, list.SaveToBytes());
}

TableRows RunDatabase::Rows(const std::string& table) {
  TableRows rows;
  IntfPtr<IArDbCursor> c = OpenTableCursor(*db_, table);
  while (c && !c->Eof()) {
    std::vector<std::string> row;
    for (int i = 0; i < c->FieldCount(); ++i) {
      const Value v = c->AsVariant(i);
      if (v.IsNull())
        row.push_back("<null>");
      else if (v.Kind() == ValueKind::kBytes)
        row.push_back(std::string(v.BytesRef().begin(), v.BytesRef().end()));
      else
        row.push_back(v.ToString());
    }
    rows.push_back(std::move(row));
    c->Next();
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::vector<RunDatabase::SectorInfo> RunDatabase::Tree(const std::string& layer_id,
                                                       const std::string& table) {
  std::string root;
  {
    IntfPtr<IArDbCursor> c = db_->CreateCommand(
        "SELECT [ROOTSECTORID] FROM [ATLOR_LAYERS] WHERE [ID]=?", std::array{dtString}.data(), 1,
        false)->Execute({Value(layer_id)});
    root = c->AsString(0, "");
  }
  std::vector<SectorInfo> tree;
  std::vector<std::pair<std::string, int>> pending{{root, 0}};
  const TArDbDataType key[] = {dtString};
  IntfPtr<IArDbSQLCommand> select = db_->CreateCommand(
      "SELECT [ID],[BOUNDSL],[BOUNDSR],[BOUNDST],[BOUNDSB],[S0],[S1],[S2],[S3],[OBJECTS] FROM [" +
          table + "] WHERE [ID]=?",
      key, 1, false);
  while (!pending.empty()) {
    auto [id, level] = pending.back();
    pending.pop_back();
    IntfPtr<IArDbCursor> c = select->Execute({Value(id)});
    SectorInfo s;
    s.id = id;
    s.level = level;
    s.bounds = {c->AsFloat(1, 0), c->AsFloat(4, 0), c->AsFloat(2, 0), c->AsFloat(3, 0)};
    for (int q = 0; q < 4; ++q) s.children[q] = c->AsString(5 + q, "");
    const Value blob = c->AsBlob(9);
    TMapObjectList list;
    TMemoryLogSink log;
    if (!blob.IsNull()) list.LoadFromBytes(blob.BytesRef(), log);
    for (int i = 0; i < list.Count(); ++i) s.objects.push_back(list[i]->Id().Str());
    c->Close();
    for (int q = 3; q >= 0; --q)
      if (!s.children[q].empty()) pending.push_back({s.children[q], level + 1});
    tree.push_back(std::move(s));
  }
  return tree;
}

std::vector<ObjectSpec> Squares(const std::string& prefix, int count, double x, double y,
                                double size, double step_x, double step_y) {
  std::vector<ObjectSpec> specs;
  for (int i = 0; i < count; ++i) {
    char id[16];
    std::snprintf(id, sizeof id, "%s%08X", prefix.c_str(), i);
    specs.push_back({id, {x + i * step_x, y + i * step_y, x + i * step_x + size, y + i * step_y + size}});
  }
  return specs;
}

}  // namespace atlor::test
