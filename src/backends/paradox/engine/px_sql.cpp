#include "backends/paradox/engine/px_sql.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <map>
#include <set>
#include <unordered_set>
#include <vector>

#include "backends/paradox/engine/px_database.h"
#include "core/encoding.h"

namespace atlor::pxengine {

namespace {

constexpr const char* kModuleName = "atlor_px";

struct TypeName {
  FieldType type;
  const char* decl;
};

constexpr TypeName kTypeNames[] = {
    {FieldType::kAlpha, "TEXT"},
    {FieldType::kMemo, "MEMO TEXT"},
    {FieldType::kFmtMemo, "FMTMEMO TEXT"},
    {FieldType::kShort, "SHORT INTEGER"},
    {FieldType::kLong, "INTEGER"},
    {FieldType::kAutoInc, "AUTOINC INTEGER"},
    {FieldType::kNumber, "REAL"},
    {FieldType::kMoney, "MONEY REAL"},
    {FieldType::kBcd, "BCD REAL"},
    {FieldType::kLogical, "LOGICAL INTEGER"},
    {FieldType::kDate, "DATE REAL"},
    {FieldType::kTime, "TIME REAL"},
    {FieldType::kTimestamp, "TIMESTAMP REAL"},
    {FieldType::kBinary, "BLOB"},
    {FieldType::kOle, "OLE BLOB"},
    {FieldType::kGraphic, "GRAPHIC BLOB"},
    {FieldType::kBytes, "BYTES BLOB"},
};

bool IsTextType(FieldType t) { return t == FieldType::kAlpha || t == FieldType::kMemo || t == FieldType::kFmtMemo; }
bool IsIntegerType(FieldType t) { return t == FieldType::kShort || t == FieldType::kLong || t == FieldType::kAutoInc; }
bool IsDateType(FieldType t) { return t == FieldType::kDate || t == FieldType::kTime || t == FieldType::kTimestamp; }
bool IsNumericType(FieldType t) {
  return IsIntegerType(t) || IsDateType(t) || t == FieldType::kNumber || t == FieldType::kMoney ||
         t == FieldType::kBcd || t == FieldType::kLogical;
}

std::string Quote(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// Index plans of xBestIndex, in idxNum: kind | index << 8 | equal fields << 16.
enum Plan { kScan = 0, kRowid = 1, kIndex = 2 };

}  // namespace

const char* SqlColumnType(FieldType type) {
  for (const auto& t : kTypeNames)
    if (t.type == type) return t.decl;
  return "";
}

std::optional<FieldType> FieldTypeOfSqlColumn(std::string_view decl) {
  if (decl.empty()) return std::nullopt;
  for (const auto& t : kTypeNames)
    if (SameTextAscii(decl, t.decl)) return t.type;
  return std::nullopt;
}

// ---------------------------------------------------------------- connection state

struct SqlConnection::Impl {
  explicit Impl(Database& d) : db(d) {}

  Database& db;
  sqlite3* sql = nullptr;
  SqlStats stats;
  // The first exception a callback caught during the current SQLite call: passed on as it is.
  std::exception_ptr error;

  // Transaction of the SQL connection and the engine savepoints it opened.
  enum class Tx { kNone, kStatement, kExplicit };
  Tx tx = Tx::kNone;
  bool owns_engine_tx = false;
  bool committed = false;
  int base = 0;        // engine savepoints open before the transaction began
  int level_base = 0;  // engine savepoints that SQLite's savepoint 0 is opened over

  // Virtual tables.
  uint64_t synced_generation = ~uint64_t{0};
  uint64_t types_version = 0;  // grows whenever the SQL tables change
  bool syncing = false;
  std::map<std::string, TableInfo> known;  // by upper-case name: the definitions declared
  std::unordered_set<SqlStatement*> statements;

  void Catch(sqlite3_vtab* tab) {
    try {
      throw;
    } catch (const std::exception& e) {
      if (!error) error = std::current_exception();
      if (tab) {
        sqlite3_free(tab->zErrMsg);
        tab->zErrMsg = sqlite3_mprintf("%s", e.what());
      }
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }

  [[noreturn]] void Raise(const std::string& message) {
    if (error) {
      std::exception_ptr e = error;
      error = nullptr;
      std::rethrow_exception(e);
    }
    throw EPxError(message);
  }

  // -------- transactions (called by every table of a transaction; the first call acts)

  void Begin() {
    if (tx != Tx::kNone || db.ReadOnly()) return;  // on a read-only database the change itself fails
    base = db.SavepointCount();
    owns_engine_tx = false;
    committed = false;
    if (sqlite3_get_autocommit(sql)) {
      db.Savepoint();  // the statement's own: undone when it fails
      tx = Tx::kStatement;
    } else if (!db.InTransaction() && db.SavepointCount() == 0) {
      db.StartTransaction();
      owns_engine_tx = true;
      tx = Tx::kExplicit;
    } else {
      db.Savepoint();  // inside a transaction of the Database: the SQL transaction is a part of it
      tx = Tx::kExplicit;
    }
    level_base = db.SavepointCount();
  }
  void ReleaseTo(int count) {
    while (db.SavepointCount() > count) db.ReleaseSavepoint();
  }
  void UndoTo(int count) {
    while (db.SavepointCount() > count) {
      db.RollbackToSavepoint();
      db.ReleaseSavepoint();
    }
  }
  void SyncTx() {
    if (tx == Tx::kExplicit && owns_engine_tx && !committed) {
      if (db.InTransaction()) db.Commit();
      committed = true;
    }
  }
  void CommitTx() {
    const Tx was = tx;
    tx = Tx::kNone;
    if (was == Tx::kNone) return;
    if (was == Tx::kExplicit && owns_engine_tx) {
      if (!committed && db.InTransaction()) db.Commit();
      return;
    }
    ReleaseTo(base);
  }
  void RollbackTx() {
    const Tx was = tx;
    tx = Tx::kNone;
    if (was == Tx::kNone) return;
    if (was == Tx::kExplicit && owns_engine_tx) {
      if (!committed && db.InTransaction()) db.Rollback();
      return;
    }
    UndoTo(base);
  }
  void SavepointAt(int level) {
    if (tx == Tx::kNone) return;
    while (db.SavepointCount() < level_base + level + 1) db.Savepoint();
  }
  void ReleaseAt(int level) {
    if (tx == Tx::kNone) return;
    ReleaseTo(level_base + level);
  }
  void RollbackToLevel(int level) {
    if (tx == Tx::kNone) return;
    UndoTo(level_base + level + 1);
    if (db.SavepointCount() == level_base + level + 1) db.RollbackToSavepoint();
  }

  // -------- tables

  bool RunDdl(const std::string& text) {
    syncing = true;
    const int rc = sqlite3_exec(sql, text.c_str(), nullptr, nullptr, nullptr);
    syncing = false;
    error = nullptr;
    return rc == SQLITE_OK;
  }

  // Brings the virtual tables in line with the folder's tables.
  void SyncTables(bool force) {
    const uint64_t generation = db.SchemaGeneration();
    if (!force && generation == synced_generation) return;
    std::map<std::string, std::string> present;  // upper-case -> name, as SQLite has them
    {
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v2(sql, "SELECT name FROM sqlite_master WHERE type='table'", -1, &st, nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
          const std::string name(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
          present[UpperAscii(name)] = name;
        }
      }
      sqlite3_finalize(st);
    }
    std::map<std::string, std::string> desired;
    for (const auto& name : db.ListTables()) desired.emplace(UpperAscii(name), name);
    bool complete = true;
    for (const auto& [upper, name] : present) {
      auto want = desired.find(upper);
      auto have = known.find(upper);
      bool keep = want != desired.end() && have != known.end();
      if (keep) {
        try {
          const TableInfo info = db.ReadTableInfo(want->second);
          keep = info.fields == have->second.fields && info.indexes == have->second.indexes &&
                 info.name == have->second.name;
        } catch (const std::exception&) {
          keep = false;
        }
      }
      if (keep) {
        desired.erase(want);
        continue;
      }
      if (RunDdl("DROP TABLE " + Quote(name))) {
        known.erase(upper);
      } else {
        complete = false;  // in use by a running statement: again next time
        if (want != desired.end()) desired.erase(want);
      }
    }
    for (const auto& [upper, name] : desired) {
      known.erase(upper);
      RunDdl("CREATE VIRTUAL TABLE " + Quote(name) + " USING " + kModuleName);  // a table it cannot read stays out
    }
    for (auto it = known.begin(); it != known.end();) {
      if (!present.count(it->first) && !desired.count(it->first))
        it = known.erase(it);
      else
        ++it;
    }
    if (complete) synced_generation = generation;
    ++types_version;
  }
};

// ---------------------------------------------------------------- virtual tables

namespace {

using Impl = SqlConnection::Impl;

struct PxVtab {
  sqlite3_vtab base;  // first: SQLite sees this part
  Impl* conn;
  std::string name;
  TableInfo info;
  std::vector<std::vector<int>> index_fields;  // field positions of each index
  Table* table = nullptr;
  uint64_t serial = 0;
  uint64_t generation = ~uint64_t{0};
};

struct PxCursor {
  sqlite3_vtab_cursor base;  // first
  std::vector<RowId> rows;
  size_t pos = 0;
  Table* table = nullptr;
  uint64_t serial = 0;
  uint64_t generation = 0;
};

PxVtab* VtabOf(sqlite3_vtab* t) { return reinterpret_cast<PxVtab*>(t); }
PxCursor* CursorOf(sqlite3_vtab_cursor* c) { return reinterpret_cast<PxCursor*>(c); }
PxVtab* VtabOf(sqlite3_vtab_cursor* c) { return reinterpret_cast<PxVtab*>(c->pVtab); }

// The engine's table behind a virtual table, loaded on first use.
Table& Resolve(PxVtab* v) {
  Database& db = v->conn->db;
  if (v->table && v->generation == db.SchemaGeneration()) return *v->table;
  Table& t = db.OpenTable(v->name);
  if (t.Info().fields != v->info.fields || t.Info().indexes != v->info.indexes)
    throw EPxError("Table \"" + v->name + "\" has changed; prepare the statement again");
  v->table = &t;
  v->serial = t.Serial();
  v->generation = db.SchemaGeneration();
  return t;
}

// The cursor's table, checked against tables deleted or made anew while it was open.
Table& CursorTable(PxCursor* c, PxVtab* v) {
  if (c->generation != v->conn->db.SchemaGeneration()) {
    Table& t = Resolve(v);
    if (t.Serial() != c->serial)
      throw EPxError("Table \"" + v->name + "\" was deleted or replaced while a statement read it");
    c->generation = v->generation;
  }
  return *c->table;
}

int Connect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out, char** err) {
  Impl* conn = static_cast<Impl*>(aux);
  if (argc < 3) return SQLITE_ERROR;
  try {
    auto v = std::make_unique<PxVtab>();
    std::memset(&v->base, 0, sizeof v->base);
    v->conn = conn;
    v->name = argv[2];
    v->info = conn->db.ReadTableInfo(v->name);
    std::string decl = "CREATE TABLE x(";
    for (size_t i = 0; i < v->info.fields.size(); ++i) {
      if (i) decl += ", ";
      decl += Quote(v->info.fields[i].name) + " " + SqlColumnType(v->info.fields[i].type);
    }
    decl += ")";
    for (const auto& idx : v->info.indexes) {
      std::vector<int> fields;
      for (const auto& f : idx.fields) {
        for (size_t i = 0; i < v->info.fields.size(); ++i)
          if (SameTextAscii(v->info.fields[i].name, f)) fields.push_back(static_cast<int>(i));
      }
      v->index_fields.push_back(std::move(fields));
    }
    const int rc = sqlite3_declare_vtab(db, decl.c_str());
    if (rc != SQLITE_OK) {
      *err = sqlite3_mprintf("%s", sqlite3_errmsg(db));
      return rc;
    }
    conn->known[UpperAscii(v->name)] = v->info;
    *out = &v.release()->base;
    return SQLITE_OK;
  } catch (const std::exception& e) {
    *err = sqlite3_mprintf("%s", e.what());
    return SQLITE_ERROR;
  }
}

int Disconnect(sqlite3_vtab* t) {
  delete VtabOf(t);
  return SQLITE_OK;
}

int BestIndex(sqlite3_vtab* t, sqlite3_index_info* info) {
  PxVtab* v = VtabOf(t);
  const int n = static_cast<int>(v->info.fields.size());
  std::vector<int> eq(n, -1);
  int rowid_eq = -1;
  for (int i = 0; i < info->nConstraint; ++i) {
    const auto& c = info->aConstraint[i];
    if (!c.usable || c.op != SQLITE_INDEX_CONSTRAINT_EQ) continue;
    if (c.iColumn < 0)
      rowid_eq = i;
    else if (c.iColumn < n && eq[c.iColumn] < 0)
      eq[c.iColumn] = i;
  }
  const double rows = std::max<double>(1, v->table ? v->table->RecordCount() : v->info.record_count);
  if (rowid_eq >= 0) {
    info->aConstraintUsage[rowid_eq].argvIndex = 1;
    info->idxNum = kRowid;
    info->estimatedCost = 1;
    info->estimatedRows = 1;
    info->idxFlags = SQLITE_INDEX_SCAN_UNIQUE;
    return SQLITE_OK;
  }
  // The index with most leading fields under equality; the one that gives fewest rows.
  int best = -1, best_fields = 0;
  bool best_unique = false;
  double best_rows = rows + 1;
  for (size_t k = 0; k < v->index_fields.size(); ++k) {
    const auto& fields = v->index_fields[k];
    int m = 0;
    while (m < static_cast<int>(fields.size()) && eq[fields[m]] >= 0) ++m;
    if (m == 0) continue;
    const IndexDef& def = v->info.indexes[k];
    const bool unique = (def.primary || def.unique) && m == static_cast<int>(fields.size());
    const double est = unique ? 1 : std::max(1.0, rows / std::pow(10.0, m + 1));
    if (est < best_rows) {
      best = static_cast<int>(k);
      best_fields = m;
      best_rows = est;
      best_unique = unique;
    }
  }
  if (best >= 0) {
    for (int j = 0; j < best_fields; ++j) info->aConstraintUsage[eq[v->index_fields[best][j]]].argvIndex = j + 1;
    info->idxNum = kIndex | (best << 8) | (best_fields << 16);
    info->estimatedCost = 5 + best_rows;
    info->estimatedRows = static_cast<sqlite3_int64>(best_rows);
    if (best_unique) info->idxFlags = SQLITE_INDEX_SCAN_UNIQUE;
    return SQLITE_OK;
  }
  info->idxNum = kScan;
  info->estimatedCost = 100 + rows * 2;
  info->estimatedRows = static_cast<sqlite3_int64>(rows);
  return SQLITE_OK;
}

int Open(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
  auto* c = new PxCursor();
  std::memset(&c->base, 0, sizeof c->base);
  *out = &c->base;
  return SQLITE_OK;
}

int Close(sqlite3_vtab_cursor* c) {
  delete CursorOf(c);
  return SQLITE_OK;
}

// The value of a constraint on a field as the engine's index takes it; false when no field
// value can equal it (under SQLite's comparison rules, which apply the column's affinity).
bool KeyValue(sqlite3_value* a, FieldType type, Value& out) {
  const int kind = sqlite3_value_type(a);
  if (kind == SQLITE_NULL) return false;
  if (IsTextType(type)) {
    if (kind == SQLITE_BLOB) return false;
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(a));
    out = Value(std::string(p ? p : "", static_cast<size_t>(sqlite3_value_bytes(a))));
    return true;
  }
  if (IsNumericType(type)) {
    const int num = sqlite3_value_numeric_type(a);
    if (num == SQLITE_INTEGER) {
      const int64_t i = sqlite3_value_int64(a);
      if (IsDateType(type))
        out = Value(DateTime{static_cast<double>(i)});
      else if (type == FieldType::kLogical)
        out = Value(i != 0);
      else
        out = Value(i);
      return true;
    }
    if (num == SQLITE_FLOAT) {
      const double d = sqlite3_value_double(a);
      if (IsIntegerType(type)) {
        if (d != std::floor(d) || std::fabs(d) > 2147483647.0) return false;
        out = Value(static_cast<int64_t>(d));
      } else if (IsDateType(type)) {
        out = Value(DateTime{d});
      } else if (type == FieldType::kLogical) {
        out = Value(d != 0);
      } else {
        out = Value(d);
      }
      return true;
    }
    return false;
  }
  if (kind != SQLITE_BLOB) return false;
  const auto* p = static_cast<const uint8_t*>(sqlite3_value_blob(a));
  out = Value(Bytes(p, p + sqlite3_value_bytes(a)));
  return true;
}

void SkipDead(PxCursor* c) {
  while (c->pos < c->rows.size() && !c->table->IsLive(c->rows[c->pos])) ++c->pos;
}

int Filter(sqlite3_vtab_cursor* cur, int idx_num, const char*, int argc, sqlite3_value** argv) {
  PxCursor* c = CursorOf(cur);
  PxVtab* v = VtabOf(cur);
  Impl* conn = v->conn;
  try {
    Table& t = Resolve(v);
    c->table = &t;
    c->serial = t.Serial();
    c->generation = v->generation;
    c->rows.clear();
    c->pos = 0;
    switch (idx_num & 0xFF) {
      case kScan:
        c->rows = t.Rows();
        ++conn->stats.full_scans;
        break;
      case kRowid: {
        ++conn->stats.index_lookups;
        if (argc >= 1 && sqlite3_value_numeric_type(argv[0]) == SQLITE_INTEGER) {
          const int64_t r = sqlite3_value_int64(argv[0]);
          if (r >= 0 && r <= UINT32_MAX && t.IsLive(static_cast<RowId>(r))) c->rows.push_back(static_cast<RowId>(r));
        }
        break;
      }
      default: {
        ++conn->stats.index_lookups;
        const int index = (idx_num >> 8) & 0xFF;
        const int m = idx_num >> 16;
        const IndexDef& def = t.Info().indexes[index];
        std::vector<Value> values(static_cast<size_t>(m));
        for (int j = 0; j < m && j < argc; ++j)
          if (!KeyValue(argv[j], t.Field(v->index_fields[index][j]).type, values[j])) return SQLITE_OK;
        if (def.primary && m == t.Info().key_field_count) {
          if (auto r = t.FindKey(values)) c->rows.push_back(*r);
        } else {
          c->rows = t.FindEqual(index, values);
        }
        break;
      }
    }
    conn->stats.rows_visited += c->rows.size();
    SkipDead(c);
    return SQLITE_OK;
  } catch (...) {
    conn->Catch(cur->pVtab);
    return SQLITE_ERROR;
  }
}

int Next(sqlite3_vtab_cursor* cur) {
  PxCursor* c = CursorOf(cur);
  try {
    CursorTable(c, VtabOf(cur));
    ++c->pos;
    SkipDead(c);
    return SQLITE_OK;
  } catch (...) {
    VtabOf(cur)->conn->Catch(cur->pVtab);
    return SQLITE_ERROR;
  }
}

int Eof(sqlite3_vtab_cursor* cur) {
  PxCursor* c = CursorOf(cur);
  return c->pos >= c->rows.size();
}

void Result(sqlite3_context* ctx, Value&& v) {
  switch (v.Kind()) {
    case ValueKind::kEmpty:
    case ValueKind::kNull:
      sqlite3_result_null(ctx);
      break;
    case ValueKind::kBoolean:
      sqlite3_result_int(ctx, v.ToBoolean() ? 1 : 0);
      break;
    case ValueKind::kInteger:
    case ValueKind::kInt64:
      sqlite3_result_int64(ctx, v.ToInt64());
      break;
    case ValueKind::kFloat:
      sqlite3_result_double(ctx, v.ToFloat());
      break;
    case ValueKind::kCurrency:
      sqlite3_result_double(ctx, v.ToCurrency().ToDouble());
      break;
    case ValueKind::kDateTime:
      sqlite3_result_double(ctx, v.ToDateTime().days);
      break;
    case ValueKind::kString: {
      const std::string& s = v.StringRef();
      sqlite3_result_text64(ctx, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
    }
    case ValueKind::kBytes: {
      const Bytes& b = v.BytesRef();
      if (b.empty())
        sqlite3_result_zeroblob(ctx, 0);
      else
        sqlite3_result_blob64(ctx, b.data(), b.size(), SQLITE_TRANSIENT);
      break;
    }
    case ValueKind::kArray:
      sqlite3_result_null(ctx);
      break;
  }
}

int Column(sqlite3_vtab_cursor* cur, sqlite3_context* ctx, int col) {
  if (sqlite3_vtab_nochange(ctx)) return SQLITE_OK;  // an UPDATE that leaves this column as it is
  PxCursor* c = CursorOf(cur);
  try {
    Table& t = CursorTable(c, VtabOf(cur));
    Result(ctx, t.Get(c->rows[c->pos], col));
    return SQLITE_OK;
  } catch (const std::exception& e) {
    VtabOf(cur)->conn->Catch(cur->pVtab);
    sqlite3_result_error(ctx, e.what(), -1);
    return SQLITE_ERROR;
  }
}

int Rowid(sqlite3_vtab_cursor* cur, sqlite3_int64* out) {
  PxCursor* c = CursorOf(cur);
  *out = c->rows[c->pos];
  return SQLITE_OK;
}

// A value SQLite gives for a field, as the engine takes it.
Value FieldValue(sqlite3_value* a, const FieldDef& f) {
  const int kind = sqlite3_value_type(a);
  if (kind == SQLITE_NULL) return Value::Null();
  auto text = [&]() {
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(a));
    return std::string(p ? p : "", static_cast<size_t>(sqlite3_value_bytes(a)));
  };
  auto blob = [&]() {
    const auto* p = static_cast<const uint8_t*>(sqlite3_value_blob(a));
    return Bytes(p, p + sqlite3_value_bytes(a));
  };
  if (IsTextType(f.type)) return kind == SQLITE_BLOB ? Value(blob()) : Value(text());
  if (IsNumericType(f.type)) {
    const int num = sqlite3_value_numeric_type(a);
    if (num == SQLITE_INTEGER) {
      const int64_t i = sqlite3_value_int64(a);
      if (IsDateType(f.type)) return Value(DateTime{static_cast<double>(i)});
      if (f.type == FieldType::kLogical) return Value(i != 0);
      return Value(i);
    }
    if (num == SQLITE_FLOAT) {
      const double d = sqlite3_value_double(a);
      if (IsDateType(f.type)) return Value(DateTime{d});
      if (f.type == FieldType::kLogical) return Value(d != 0);
      if (IsIntegerType(f.type) && d != std::floor(d))
        throw EPxError("The value for field \"" + f.name + "\" is not an integer");
      return Value(d);
    }
    if (kind == SQLITE_BLOB)
      throw EPxError("The value for field \"" + f.name + "\" is a byte array, not a number");
    return Value(text());  // converted (or refused) by the engine
  }
  if (kind == SQLITE_BLOB) return Value(blob());
  if (kind == SQLITE_TEXT) return Value(text());
  throw EPxError("The value for field \"" + f.name + "\" is not a byte array");
}

int Update(sqlite3_vtab* tab, int argc, sqlite3_value** argv, sqlite3_int64* rowid) {
  PxVtab* v = VtabOf(tab);
  try {
    Table& t = Resolve(v);
    auto row_of = [&](sqlite3_value* a) -> RowId {
      const int64_t r = sqlite3_value_int64(a);
      if (r < 0 || r > UINT32_MAX || !t.IsLive(static_cast<RowId>(r)))
        throw EPxError("Table \"" + v->name + "\": the record no longer exists");
      return static_cast<RowId>(r);
    };
    if (argc == 1) {
      t.Delete(row_of(argv[0]));
      return SQLITE_OK;
    }
    const int n = t.FieldCount();
    if (argc != n + 2) return SQLITE_ERROR;
    std::vector<Value> values(static_cast<size_t>(n));
    const bool insert = sqlite3_value_type(argv[0]) == SQLITE_NULL;
    for (int i = 0; i < n; ++i) {
      sqlite3_value* a = argv[2 + i];
      if (!insert && sqlite3_value_nochange(a)) continue;  // Empty: the field stays as it is
      values[i] = FieldValue(a, t.Field(i));
    }
    if (insert) {
      if (sqlite3_value_type(argv[1]) != SQLITE_NULL)
        throw EPxError("Table \"" + v->name + "\": a row id cannot be given");
      *rowid = t.Insert(values);
      return SQLITE_OK;
    }
    const RowId row = row_of(argv[0]);
    if (sqlite3_value_int64(argv[1]) != sqlite3_value_int64(argv[0]))
      throw EPxError("Table \"" + v->name + "\": the row id cannot be changed");
    t.Update(row, values);
    return SQLITE_OK;
  } catch (...) {
    v->conn->Catch(tab);
    return SQLITE_ERROR;
  }
}

template <class F>
int TxCall(sqlite3_vtab* tab, F f) {
  Impl* conn = VtabOf(tab)->conn;
  try {
    f(*conn);
    return SQLITE_OK;
  } catch (...) {
    conn->Catch(tab);
    return SQLITE_ERROR;
  }
}

int Begin(sqlite3_vtab* t) { return TxCall(t, [](Impl& c) { c.Begin(); }); }
int Sync(sqlite3_vtab* t) { return TxCall(t, [](Impl& c) { c.SyncTx(); }); }
int Commit(sqlite3_vtab* t) { return TxCall(t, [](Impl& c) { c.CommitTx(); }); }
int Rollback(sqlite3_vtab* t) { return TxCall(t, [](Impl& c) { c.RollbackTx(); }); }
int Savepoint(sqlite3_vtab* t, int n) { return TxCall(t, [n](Impl& c) { c.SavepointAt(n); }); }
int Release(sqlite3_vtab* t, int n) { return TxCall(t, [n](Impl& c) { c.ReleaseAt(n); }); }
int RollbackTo(sqlite3_vtab* t, int n) { return TxCall(t, [n](Impl& c) { c.RollbackToLevel(n); }); }

sqlite3_module MakeModule() {
  sqlite3_module m;
  std::memset(&m, 0, sizeof m);
  m.iVersion = 2;
  m.xCreate = Connect;
  m.xConnect = Connect;
  m.xBestIndex = BestIndex;
  m.xDisconnect = Disconnect;
  m.xDestroy = Disconnect;
  m.xOpen = Open;
  m.xClose = Close;
  m.xFilter = Filter;
  m.xNext = Next;
  m.xEof = Eof;
  m.xColumn = Column;
  m.xRowid = Rowid;
  m.xUpdate = Update;
  m.xBegin = Begin;
  m.xSync = Sync;
  m.xCommit = Commit;
  m.xRollback = Rollback;
  m.xSavepoint = Savepoint;
  m.xRelease = Release;
  m.xRollbackTo = RollbackTo;
  return m;
}

const sqlite3_module kModule = MakeModule();

// Statements that change the schema, attach files or change settings are not for this SQL.
int Authorize(void* aux, int action, const char*, const char*, const char*, const char*) {
  if (static_cast<Impl*>(aux)->syncing) return SQLITE_OK;
  switch (action) {
    case SQLITE_CREATE_INDEX:
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_TEMP_INDEX:
    case SQLITE_CREATE_TEMP_TABLE:
    case SQLITE_CREATE_TEMP_TRIGGER:
    case SQLITE_CREATE_TEMP_VIEW:
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_CREATE_VIEW:
    case SQLITE_DROP_INDEX:
    case SQLITE_DROP_TABLE:
    case SQLITE_DROP_TEMP_INDEX:
    case SQLITE_DROP_TEMP_TABLE:
    case SQLITE_DROP_TEMP_TRIGGER:
    case SQLITE_DROP_TEMP_VIEW:
    case SQLITE_DROP_TRIGGER:
    case SQLITE_DROP_VIEW:
    case SQLITE_ALTER_TABLE:
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
    case SQLITE_PRAGMA:
    case SQLITE_REINDEX:
    case SQLITE_ANALYZE:
    case SQLITE_CREATE_VTABLE:
    case SQLITE_DROP_VTABLE:
      return SQLITE_DENY;
    default:
      return SQLITE_OK;
  }
}

bool OnlySpace(const char* p, const char* end) {
  for (; p < end; ++p)
    if (!std::isspace(static_cast<unsigned char>(*p)) && *p != ';') return false;
  return true;
}

}  // namespace

// ---------------------------------------------------------------- SqlConnection

SqlConnection::SqlConnection(Database& db) : impl_(std::make_unique<Impl>(db)) {
  const int rc = sqlite3_open_v2(":memory:", &impl_->sql, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    const std::string msg = impl_->sql ? sqlite3_errmsg(impl_->sql) : "out of memory";
    sqlite3_close(impl_->sql);
    throw EPxError("Cannot open an SQL connection: " + msg);
  }
  sqlite3_extended_result_codes(impl_->sql, 1);
  sqlite3_db_config(impl_->sql, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(impl_->sql, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_create_module_v2(impl_->sql, kModuleName, &kModule, impl_.get(), nullptr);
  sqlite3_set_authorizer(impl_->sql, Authorize, impl_.get());
  try {
    impl_->SyncTables(true);
  } catch (...) {
    sqlite3_close(impl_->sql);
    throw;
  }
}

SqlConnection::~SqlConnection() {
  for (SqlStatement* s : impl_->statements) {
    sqlite3_finalize(s->stmt_);
    s->stmt_ = nullptr;
    s->conn_ = nullptr;
  }
  impl_->statements.clear();
  sqlite3_close(impl_->sql);
}

Database& SqlConnection::Db() const { return impl_->db; }
sqlite3* SqlConnection::Handle() const { return impl_->sql; }
const SqlStats& SqlConnection::Stats() const { return impl_->stats; }
void SqlConnection::ResetStats() { impl_->stats = SqlStats{}; }
bool SqlConnection::InTransaction() const { return !sqlite3_get_autocommit(impl_->sql); }
void SqlConnection::Refresh() { impl_->SyncTables(true); }

SqlStatement SqlConnection::Prepare(std::string_view text) {
  Impl& c = *impl_;
  c.SyncTables(false);
  sqlite3_stmt* st = nullptr;
  const char* tail = nullptr;
  c.error = nullptr;
  int rc = sqlite3_prepare_v3(c.sql, text.data(), static_cast<int>(text.size()), SQLITE_PREPARE_PERSISTENT, &st, &tail);
  if (rc != SQLITE_OK && std::strncmp(sqlite3_errmsg(c.sql), "no such table: ", 15) == 0) {
    // A table another program made, or one this connection could not declare.
    const std::string missing = sqlite3_errmsg(c.sql) + 15;
    c.SyncTables(true);
    rc = sqlite3_prepare_v3(c.sql, text.data(), static_cast<int>(text.size()), SQLITE_PREPARE_PERSISTENT, &st, &tail);
    if (rc != SQLITE_OK && c.db.TableExists(missing)) c.db.ReadTableInfo(missing);  // raises why it is out
  }
  if (rc != SQLITE_OK) {
    const std::string msg = sqlite3_errmsg(c.sql);
    if ((rc & 0xFF) == SQLITE_AUTH)
      c.Raise("Only queries, INSERT, UPDATE, DELETE and transactions can be run as SQL here; tables are made "
              "through the database: \"" + std::string(text) + "\"");
    c.Raise(msg + " in \"" + std::string(text) + "\"");
  }
  if (!st) throw EPxError("No SQL statement in \"" + std::string(text) + "\"");
  if (!OnlySpace(tail, text.data() + text.size())) {
    sqlite3_finalize(st);
    throw EPxError("Only one SQL statement can be prepared at a time: \"" + std::string(text) + "\"");
  }
  return SqlStatement(impl_.get(), st, std::string(text));
}

void SqlConnection::Execute(std::string_view text) {
  const char* p = text.data();
  const char* end = text.data() + text.size();
  while (!OnlySpace(p, end)) {
    const char* tail = nullptr;
    sqlite3_stmt* st = nullptr;
    impl_->SyncTables(false);
    impl_->error = nullptr;
    const int rc = sqlite3_prepare_v2(impl_->sql, p, static_cast<int>(end - p), &st, &tail);
    if (rc != SQLITE_OK) {
      const std::string msg = sqlite3_errmsg(impl_->sql);
      if ((rc & 0xFF) == SQLITE_AUTH)
        impl_->Raise("Only queries, INSERT, UPDATE, DELETE and transactions can be run as SQL here; tables are "
                     "made through the database: \"" + std::string(text) + "\"");
      impl_->Raise(msg + " in \"" + std::string(text) + "\"");
    }
    if (!st) break;
    SqlStatement s(impl_.get(), st, std::string(p, tail));
    s.Execute();
    p = tail;
  }
}

// ---------------------------------------------------------------- SqlStatement

SqlStatement::SqlStatement(SqlConnection::Impl* conn, sqlite3_stmt* stmt, std::string sql)
    : conn_(conn), stmt_(stmt), sql_(std::move(sql)) {
  conn_->statements.insert(this);
}

SqlStatement::~SqlStatement() { Finalize(); }

void SqlStatement::Finalize() {
  if (conn_) conn_->statements.erase(this);
  if (stmt_) sqlite3_finalize(stmt_);
  stmt_ = nullptr;
  conn_ = nullptr;
}

SqlStatement::SqlStatement(SqlStatement&& o) noexcept { *this = std::move(o); }

SqlStatement& SqlStatement::operator=(SqlStatement&& o) noexcept {
  if (this == &o) return *this;
  Finalize();
  conn_ = o.conn_;
  stmt_ = o.stmt_;
  sql_ = std::move(o.sql_);
  started_ = o.started_;
  changes_ = o.changes_;
  types_version_ = o.types_version_;
  column_types_ = std::move(o.column_types_);
  if (conn_) {
    conn_->statements.erase(&o);
    conn_->statements.insert(this);
  }
  o.conn_ = nullptr;
  o.stmt_ = nullptr;
  return *this;
}

void SqlStatement::Check() const {
  if (!stmt_) throw EPxError("The SQL statement is not prepared, or its connection is closed");
}

bool SqlStatement::ReadOnly() const {
  Check();
  return sqlite3_stmt_readonly(stmt_) != 0;
}

int SqlStatement::ParameterCount() const {
  Check();
  return sqlite3_bind_parameter_count(stmt_);
}

std::string SqlStatement::ParameterName(int index) const {
  Check();
  const char* n = sqlite3_bind_parameter_name(stmt_, index + 1);
  return n ? n : "";
}

int SqlStatement::ParameterIndex(std::string_view name) const {
  Check();
  std::string n(name);
  if (!n.empty() && (n[0] == ':' || n[0] == '@' || n[0] == '$' || n[0] == '?'))
    return sqlite3_bind_parameter_index(stmt_, n.c_str()) - 1;
  for (const char* prefix : {":", "@", "$"}) {
    const int i = sqlite3_bind_parameter_index(stmt_, (prefix + n).c_str());
    if (i > 0) return i - 1;
  }
  return -1;
}

void SqlStatement::Bind(int index, const Value& value) {
  Check();
  if (started_) Reset();
  const int pos = index + 1;
  int rc = SQLITE_OK;
  switch (value.Kind()) {
    case ValueKind::kEmpty:
    case ValueKind::kNull:
      rc = sqlite3_bind_null(stmt_, pos);
      break;
    case ValueKind::kBoolean:
      rc = sqlite3_bind_int(stmt_, pos, value.ToBoolean() ? 1 : 0);
      break;
    case ValueKind::kInteger:
    case ValueKind::kInt64:
      rc = sqlite3_bind_int64(stmt_, pos, value.ToInt64());
      break;
    case ValueKind::kFloat:
      rc = sqlite3_bind_double(stmt_, pos, value.ToFloat());
      break;
    case ValueKind::kCurrency:
      rc = sqlite3_bind_double(stmt_, pos, value.ToCurrency().ToDouble());
      break;
    case ValueKind::kDateTime:
      rc = sqlite3_bind_double(stmt_, pos, value.ToDateTime().days);
      break;
    case ValueKind::kString: {
      const std::string& s = value.StringRef();
      rc = sqlite3_bind_text64(stmt_, pos, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
    }
    case ValueKind::kBytes: {
      const Bytes& b = value.BytesRef();
      rc = b.empty() ? sqlite3_bind_zeroblob(stmt_, pos, 0)
                     : sqlite3_bind_blob64(stmt_, pos, b.data(), b.size(), SQLITE_TRANSIENT);
      break;
    }
    case ValueKind::kArray:
      throw EPxError("An array cannot be given as an SQL parameter");
  }
  if (rc == SQLITE_RANGE)
    throw EPxError("The SQL statement has no parameter " + std::to_string(index) + ": \"" + sql_ + "\"");
  if (rc != SQLITE_OK) throw EPxError(sqlite3_errstr(rc));
}

void SqlStatement::Bind(std::string_view name, const Value& value) {
  const int i = ParameterIndex(name);
  if (i < 0) throw EPxError("The SQL statement has no parameter \"" + std::string(name) + "\": \"" + sql_ + "\"");
  Bind(i, value);
}

void SqlStatement::ClearBindings() {
  Check();
  if (started_) Reset();
  sqlite3_clear_bindings(stmt_);
}

void SqlStatement::Reset() {
  Check();
  sqlite3_reset(stmt_);
  started_ = false;
}

void SqlStatement::Fail(int rc) {
  const std::string msg = sqlite3_errmsg(sqlite3_db_handle(stmt_));
  (void)rc;
  sqlite3_reset(stmt_);
  started_ = false;
  conn_->Raise(msg);
}

bool SqlStatement::Step() {
  Check();
  if (!started_) {
    if (conn_->db.SchemaGeneration() != conn_->synced_generation) conn_->SyncTables(false);
    changes_ = 0;
  }
  conn_->error = nullptr;
  const int rc = sqlite3_step(stmt_);
  started_ = true;
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) {
    changes_ = sqlite3_stmt_readonly(stmt_) ? 0 : sqlite3_changes64(sqlite3_db_handle(stmt_));
    sqlite3_reset(stmt_);
    started_ = false;
    return false;
  }
  Fail(rc);
}

int64_t SqlStatement::Execute() {
  Check();
  if (started_) Reset();
  while (Step()) {
  }
  return changes_;
}

int SqlStatement::ColumnCount() const {
  Check();
  return sqlite3_column_count(stmt_);
}

std::string SqlStatement::ColumnName(int index) const {
  Check();
  const char* n = sqlite3_column_name(stmt_, index);
  return n ? n : "";
}

std::string SqlStatement::ColumnDeclType(int index) const {
  Check();
  const char* n = sqlite3_column_decltype(stmt_, index);
  return n ? n : "";
}

std::string SqlStatement::ColumnTableName(int index) const {
  Check();
  const char* n = sqlite3_column_table_name(stmt_, index);
  return n ? n : "";
}

std::string SqlStatement::ColumnOriginName(int index) const {
  Check();
  const char* n = sqlite3_column_origin_name(stmt_, index);
  return n ? n : "";
}

void SqlStatement::LoadColumnTypes() const {
  const int n = sqlite3_column_count(stmt_);
  if (types_version_ == conn_->types_version && static_cast<int>(column_types_.size()) == n) return;
  column_types_.assign(static_cast<size_t>(n), '\0');
  for (int i = 0; i < n; ++i) {
    const char* d = sqlite3_column_decltype(stmt_, i);
    if (!d) continue;
    if (auto t = FieldTypeOfSqlColumn(d)) column_types_[i] = static_cast<char>(*t);
  }
  types_version_ = conn_->types_version;
}

std::optional<FieldType> SqlStatement::ColumnFieldType(int index) const {
  Check();
  LoadColumnTypes();
  if (index < 0 || index >= static_cast<int>(column_types_.size()) || column_types_[index] == 0) return std::nullopt;
  return static_cast<FieldType>(static_cast<uint8_t>(column_types_[index]));
}

bool SqlStatement::ColumnIsNull(int index) const {
  Check();
  return sqlite3_column_type(stmt_, index) == SQLITE_NULL;
}

Value SqlStatement::ColumnValue(int index) const {
  Check();
  const int kind = sqlite3_column_type(stmt_, index);
  if (kind == SQLITE_NULL) return Value::Null();
  LoadColumnTypes();
  const int code = index >= 0 && index < static_cast<int>(column_types_.size())
                       ? static_cast<uint8_t>(column_types_[index])
                       : 0;
  const FieldType type = static_cast<FieldType>(code);
  switch (kind) {
    case SQLITE_INTEGER: {
      const int64_t i = sqlite3_column_int64(stmt_, index);
      if (code) {
        if (type == FieldType::kLogical) return Value(i != 0);
        if (IsDateType(type)) return Value(DateTime{static_cast<double>(i)});
        if (type == FieldType::kMoney && i > -900000000000000 && i < 900000000000000)
          return Value(Currency{i * Currency::kScale});
        if (type == FieldType::kNumber || type == FieldType::kBcd) return Value(static_cast<double>(i));
      }
      if (i >= INT32_MIN && i <= INT32_MAX) return Value(static_cast<int32_t>(i));
      return Value(i);
    }
    case SQLITE_FLOAT: {
      const double d = sqlite3_column_double(stmt_, index);
      if (code) {
        if (IsDateType(type)) return Value(DateTime{d});
        if (type == FieldType::kLogical) return Value(d != 0);
        if (type == FieldType::kMoney && std::isfinite(d) && std::fabs(d) < 9.2e14) return Value(Currency::FromDouble(d));
      }
      return Value(d);
    }
    case SQLITE_TEXT: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, index));
      return Value(std::string(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(stmt_, index))));
    }
    default: {
      const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, index));
      const int n = sqlite3_column_bytes(stmt_, index);
      return Value(p ? Bytes(p, p + n) : Bytes());
    }
  }
}

}  // namespace atlor::pxengine
