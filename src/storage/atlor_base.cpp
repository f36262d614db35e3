#include "storage/atlor_base.h"

#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "ardb/ardb_utils.h"
#include "core/exception.h"
#include "storage/layers_sectors.h"

namespace atlor {

namespace {

constexpr int32_t kLastIdNumber = std::numeric_limits<int32_t>::max();
constexpr int32_t kFirstIdNumberOfGroup = 1000;
constexpr int32_t kIdGroupClass = 0;  // ATLOR_IDMAPER rows of the identifier groups

const char* const kIdmaperSelectSql =
    "SELECT * FROM [ATLOR_IDMAPER] ORDER BY [ATLOR_IDMAPER].[LOCALID]";
const char* const kLayerBoundsSql =
    " SELECT A.[BOUNDSL] As x1, A.[BOUNDSR] As x2, A.[BOUNDST] As y2, A.[BOUNDSB] As y1 FROM "
    "[ATLOR_MAPS] M, [ATLOR_AREAS] A WHERE (M.[ID] = ?) AND (M.[GPID] = A.[ID])";

// Closes the cursor when the scope ends, whatever happens; the command that produced it can
// then run again.
class TCursorScope {
 public:
  explicit TCursorScope(IntfPtr<IArDbCursor> cursor) : cursor_(std::move(cursor)) {
    // A statement that produces rows always hands out a cursor; without one there is nothing
    // to read from.
    if (!cursor_) throw EArDbException(kArDbCursorClosedText);
  }
  TCursorScope(const TCursorScope&) = delete;
  TCursorScope& operator=(const TCursorScope&) = delete;
  ~TCursorScope() {
    try {
      cursor_->Close();
    } catch (...) {  // the error that ended the scope, if any, is the one to report
    }
  }
  IArDbCursor* operator->() const { return cursor_.get(); }

 private:
  IntfPtr<IArDbCursor> cursor_;
};

// The command in slot, made by make on first use.
template <class Make>
IArDbSQLCommand& Cached(IntfPtr<IArDbSQLCommand>& slot, Make make) {
  if (!slot) slot = make();
  return *slot;
}

}  // namespace

TAtlorBase::TAtlorBase(IntfPtr<IArDb> db, ILogSink& log) : db_(std::move(db)), log_(&log) {
  ATLOR_ASSERT(db_, "Object not initialized");
}

TAtlorBase::~TAtlorBase() { TAtlorBase::Disconnect(); }

void TAtlorBase::Disconnect() { ClearCommandCache(); }

void TAtlorBase::ClearCommandCache() {
  dbinfo_select_ = nullptr;
  dbinfo_update_ = nullptr;
  idmaper_select_ = nullptr;
  idmaper_insert_ = nullptr;
  layer_select_ = nullptr;
  layer_bounds_ = nullptr;
  sector_commands_.clear();
}

// ---------------------------------------------------------------------------------------------
// Identifiers

TObjectId TAtlorBase::NewId() {
  int32_t group;
  int32_t number;
  {
    // The whole table, as OpenTableCursor reads it.
    IArDbSQLCommand& select = Cached(dbinfo_select_, [this] {
      return BuildSelectCommand(*db_, kAtlorDbinfoTable, {}, {}, false);
    });
    TCursorScope cursor(select.Execute(nullptr, 0));
    group = cursor->AsInteger("IDGROUP", 0);
    number = cursor->AsInteger("IDNUMBER", 0);
  }
  if (number == kLastIdNumber) {
    group = NewIdGroup();
    number = kFirstIdNumberOfGroup;
  } else {
    ++number;
  }
  IArDbSQLCommand& update = Cached(dbinfo_update_, [this] {
    const TArDbParam fields[] = {IntegerParam("IDGROUP"), IntegerParam("IDNUMBER")};
    return BuildUpdateCommand(*db_, kAtlorDbinfoTable, fields, {}, true);
  });
  update.Execute({Value(group), Value(number)});
  return FormatId(group, number);
}

int32_t TAtlorBase::NewIdGroup() {
  const std::string global_id = NewGuid().ToString();
  // The rows come in LOCALID order: the lowest positive LOCALID that no row of any class uses.
  // Rows whose LOCALID was passed already (another class sharing it, or 0 and below) are
  // stepped over, so the new class-0 row never takes a key or a group that is in use.
  int32_t counter = 1;
  {
    IArDbSQLCommand& select = Cached(idmaper_select_, [this] {
      return NewCommand(*db_, kIdmaperSelectSql, {}, true);
    });
    TCursorScope cursor(select.Execute(nullptr, 0));
    while (!cursor->Eof()) {
      const int32_t local_id = cursor->AsInteger("LOCALID", 0);
      if (local_id == counter) {
        ++counter;
      } else if (local_id > counter) {
        break;
      }
      cursor->Next();
    }
  }
  IArDbSQLCommand& insert = Cached(idmaper_insert_, [this] {
    const TArDbParam fields[] = {IntegerParam("IDCLASS"), IntegerParam("LOCALID"),
                                 StringParam("GLOBALID")};
    return BuildInsertCommand(*db_, kAtlorIdmaperTable, fields, true);
  });
  insert.Execute({Value(kIdGroupClass), Value(counter), Value(global_id)});
  return counter;
}

// ---------------------------------------------------------------------------------------------
// OBJECTS values

TAtlorBase::TSectorCommands& TAtlorBase::SectorCommands(const std::string& table_name) {
  std::unique_ptr<TSectorCommands>& slot = sector_commands_[table_name];
  if (!slot) slot = std::make_unique<TSectorCommands>();
  return *slot;
}

Value TAtlorBase::ReadObjectsBlob(const TObjectId& id, const std::string& table_name) {
  TSectorCommands& commands = SectorCommands(table_name);
  IArDbSQLCommand& select = Cached(commands.ReadObjects, [&] {
    const std::string fields[] = {"OBJECTS"};
    const TArDbParam keys[] = {StringParam("ID")};
    return BuildSelectCommand(*db_, table_name, fields, keys, true);
  });
  TCursorScope cursor(select.Execute({Value(id.Str())}));
  return cursor->AsBlob(Value(0));
}

void TAtlorBase::WriteObjectsBlob(const TObjectId& id, const Value& blob,
                                  const std::string& table_name) {
  TSectorCommands& commands = SectorCommands(table_name);
  IArDbSQLCommand& update = Cached(commands.WriteObjects, [&] {
    const TArDbParam fields[] = {BinaryParam("OBJECTS")};
    const TArDbParam keys[] = {StringParam("ID")};
    return BuildUpdateCommand(*db_, table_name, fields, keys, true);
  });
  const Value params[] = {blob, Value(id.Str())};
  update.Execute(params);
}

void TAtlorBase::WriteSectorChildren(const TObjectId& id, const TObjectId (&children)[4],
                                     const std::string& table_name) {
  TSectorCommands& commands = SectorCommands(table_name);
  IArDbSQLCommand& update = Cached(commands.UpdateChildren, [&] {
    const TArDbParam fields[] = {StringParam("S0"), StringParam("S1"), StringParam("S2"),
                                 StringParam("S3")};
    const TArDbParam keys[] = {StringParam("ID")};
    return BuildUpdateCommand(*db_, table_name, fields, keys, true);
  });
  update.Execute({Value(children[0].Str()), Value(children[1].Str()), Value(children[2].Str()),
                  Value(children[3].Str()), Value(id.Str())});
}

// ---------------------------------------------------------------------------------------------
// Layers and sectors

TLayer* TAtlorBase::LoadLayer(const std::string& id) {
  RefHolder<TLayer> layer(new TLayer(this, TObjectId(id)));

  IArDbSQLCommand& select = Cached(layer_select_, [this] {
    const std::string fields[] = {"PLANEID", "LAYERNAME", "VISIBLEMIN", "VISIBLEMAX",
                                  "ROOTSECTORID"};
    const TArDbParam keys[] = {StringParam("ID")};
    return BuildSelectCommand(*db_, kAtlorLayersTable, fields, keys, true);
  });
  {
    TCursorScope cursor(select.Execute({Value(id)}));
    layer->SetPlaneId(TObjectId(cursor->AsString("PLANEID", std::string())));
    layer->SetLayerName(cursor->AsString("LAYERNAME", std::string()));
    layer->SetVisibleMin(cursor->AsFloat("VISIBLEMIN", 0));
    layer->SetVisibleMax(cursor->AsFloat("VISIBLEMAX", 0));
    layer->SetRootSectorId(TObjectId(cursor->AsString("ROOTSECTORID", std::string())));
  }

  IArDbSQLCommand& bounds_select = Cached(layer_bounds_, [this] {
    const TArDbDataType types[] = {dtString};
    return NewCommand(*db_, kLayerBoundsSql, types, true);
  });
  {
    TCursorScope cursor(bounds_select.Execute({Value(layer->PlaneId().Str())}));
    TGeoRect bounds;
    bounds.X1 = cursor->AsFloat("x1", 0);
    bounds.Y1 = cursor->AsFloat("y1", 0);
    bounds.X2 = cursor->AsFloat("x2", 0);
    bounds.Y2 = cursor->AsFloat("y2", 0);
    layer->SetBounds(bounds);
  }

  TLayer* result = layer.get();
  result->AddRef();  // the caller's reference
  return result;
}

TSector* TAtlorBase::LoadSector(const std::string& id, const std::string& table_name) {
  RefHolder<TSector> sector(new TSector(this, TObjectId(id), table_name));

  TSectorCommands& commands = SectorCommands(table_name);
  IArDbSQLCommand& select = Cached(commands.Select, [&] {
    const std::string fields[] = {"LAYERID", "BOUNDSL", "BOUNDSR", "BOUNDST", "BOUNDSB",
                                  "S0",      "S1",      "S2",      "S3"};
    const TArDbParam keys[] = {StringParam("ID")};
    return BuildSelectCommand(*db_, table_name, fields, keys, true);
  });
  {
    TCursorScope cursor(select.Execute({Value(id)}));
    sector->SetLayerId(TObjectId(cursor->AsString(Value(0), std::string())));
    TGeoRect bounds;
    bounds.X1 = cursor->AsFloat(Value(1), 0);
    bounds.X2 = cursor->AsFloat(Value(2), 0);
    bounds.Y2 = cursor->AsFloat(Value(3), 0);
    bounds.Y1 = cursor->AsFloat(Value(4), 0);
    sector->SetBounds(bounds);
    for (int q = 0; q < TSector::kChildCount; ++q)
      sector->SetChildren(q, TObjectId(cursor->AsString(Value(5 + q), std::string())));
  }

  TSector* result = sector.get();
  result->AddRef();  // the caller's reference
  return result;
}

TSector* TAtlorBase::CreateSector(const TObjectId& layer_id, const TGeoRect& bounds,
                                  const std::string& table_name) {
  const TObjectId sector_id = NewId();
  TSectorCommands& commands = SectorCommands(table_name);
  IArDbSQLCommand& insert = Cached(commands.Insert, [&] {
    const TArDbParam fields[] = {StringParam("ID"),     StringParam("LAYERID"),
                                 FloatParam("BOUNDSL"), FloatParam("BOUNDSR"),
                                 FloatParam("BOUNDST"), FloatParam("BOUNDSB")};
    return BuildInsertCommand(*db_, table_name, fields, true);
  });
  insert.Execute({Value(sector_id.Str()), Value(layer_id.Str()), Value(bounds.X1),
                  Value(bounds.X2), Value(bounds.Y2), Value(bounds.Y1)});

  RefHolder<TSector> sector(LoadSector(sector_id, table_name), kAdoptRef);
  sector->SaveObjects();

  TSector* result = sector.get();
  result->AddRef();  // the caller's reference
  return result;
}

}  // namespace atlor
