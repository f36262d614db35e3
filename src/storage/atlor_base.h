#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "ardb/ardbs.h"
#include "core/interface.h"
#include "core/ref_object.h"
#include "core/value.h"
#include "storage/geometry.h"
#include "storage/log_sink.h"
#include "storage/object_id.h"

// The storage facade: the single entry through which the storage model reads and writes the
// Atlor system tables of one open database. It issues new identifiers, reads and writes the
// OBJECTS value of sector rows, and loads and creates layers and sectors (layers_sectors.h).
//
// Statements are made once per facade (per sectors table for the sector statements) and
// executed as often as needed; the whole-table read of ATLOR_DBINFO is an unprepared command,
// every other statement a prepared one.
namespace atlor {

class TLayer;
class TSector;

// The live tables the facade reads.
inline constexpr const char* kAtlorDbinfoTable = "ATLOR_DBINFO";
inline constexpr const char* kAtlorIdmaperTable = "ATLOR_IDMAPER";
inline constexpr const char* kAtlorLayersTable = "ATLOR_LAYERS";
inline constexpr const char* kAtlorSectorsTable = "ATLOR_SECTORS";

class TAtlorBase : public TRefObject {
 public:
  // Holds a reference to db for its lifetime. Sectors loaded through this facade report damaged
  // OBJECTS values to log (the program passes its run log); log must outlive the facade.
  TAtlorBase(IntfPtr<IArDb> db, ILogSink& log);
  ~TAtlorBase() override;

  // Drops the prepared statements (the database reference stays).
  void Disconnect() override;

  IArDb& Db() const { return *db_; }
  const IntfPtr<IArDb>& DbPtr() const { return db_; }
  ILogSink& Log() const { return *log_; }
  void SetLog(ILogSink& log) { log_ = &log; }

  // Forgets the prepared statements; the next use prepares them again. Call it after tables the
  // statements name were dropped, renamed or created anew (after a run's table swap, for one).
  void ClearCommandCache();

  // The next identifier of this database: ATLOR_DBINFO's IDNUMBER plus one in group IDGROUP
  // (a new group, number 1000, once the number reaches 2147483647), stored back in every row.
  TObjectId NewId();
  // Claims the lowest identifier group not yet recorded in ATLOR_IDMAPER (class 0, with a new
  // globally unique identifier) and returns it.
  int32_t NewIdGroup();

  // The OBJECTS value of the row id of a sectors table: Null or Bytes.
  Value ReadObjectsBlob(const TObjectId& id, const std::string& table_name);
  // Stores blob (Bytes or Null) as the OBJECTS value of the row id of a sectors table.
  void WriteObjectsBlob(const TObjectId& id, const Value& blob, const std::string& table_name);

  // Loading and creating layers and sectors. Each result carries one reference that belongs to
  // the caller: release it with RefRelease, or hand it to RefHolder(result, kAdoptRef).
  //
  // The layer id of ATLOR_LAYERS with its map's extent. A missing layer, map or map area raises
  // the closed-cursor error of the database layer.
  TLayer* LoadLayer(const std::string& id);
  // The sector id of the sectors table table_name (its objects are not read: LoadObjects). A
  // missing row raises the closed-cursor error.
  TSector* LoadSector(const std::string& id, const std::string& table_name);
  TSector* LoadSector(const TObjectId& id, const std::string& table_name) {
    return LoadSector(id.Str(), table_name);
  }
  // A new leaf row of layer layer_id with the bounds, under a new identifier, whose OBJECTS
  // holds an empty object list; loaded back.
  TSector* CreateSector(const TObjectId& layer_id, const TGeoRect& bounds,
                        const std::string& table_name);

 private:
  friend class TSector;

  // The statements on one sectors table.
  struct TSectorCommands {
    IntfPtr<IArDbSQLCommand> ReadObjects;
    IntfPtr<IArDbSQLCommand> WriteObjects;
    IntfPtr<IArDbSQLCommand> Select;
    IntfPtr<IArDbSQLCommand> Insert;
    IntfPtr<IArDbSQLCommand> UpdateChildren;
  };

  TSectorCommands& SectorCommands(const std::string& table_name);
  // Stores S0..S3 of the row id.
  void WriteSectorChildren(const TObjectId& id, const TObjectId (&children)[4],
                           const std::string& table_name);

  IntfPtr<IArDb> db_;
  ILogSink* log_;
  IntfPtr<IArDbSQLCommand> dbinfo_select_;
  IntfPtr<IArDbSQLCommand> dbinfo_update_;
  IntfPtr<IArDbSQLCommand> idmaper_select_;
  IntfPtr<IArDbSQLCommand> idmaper_insert_;
  IntfPtr<IArDbSQLCommand> layer_select_;
  IntfPtr<IArDbSQLCommand> layer_bounds_;
  std::unordered_map<std::string, std::unique_ptr<TSectorCommands>> sector_commands_;
};

}  // namespace atlor
