#include "backends/paradox/bde/bde_components.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>

#include <sqlite3.h>
#include <unordered_map>

#include "backends/paradox/bde/bde_values.h"
#include "backends/paradox/engine/px_database.h"
#include "backends/paradox/engine/px_sql.h"
#include "backends/paradox/engine/px_table.h"
#include "core/encoding.h"

namespace atlor::bde {

namespace px = atlor::pxengine;

// ---------------------------------------------------------------------------------------------
// The components alive in the process and the engines they share.

struct TEngineHandle {
  std::string key;  // the folder, canonical
  std::unique_ptr<px::Database> engine;
  std::unique_ptr<px::SqlConnection> sql;  // over engine: declared after it, destroyed first
  std::map<std::string, int> open_tables;  // upper-case name -> datasets holding it open
  bool pending = false;                    // changes not written yet
  TDatabase* transaction_owner = nullptr;

  TEngineHandle() = default;
  TEngineHandle(const TEngineHandle&) = delete;
  TEngineHandle& operator=(const TEngineHandle&) = delete;
  ~TEngineHandle();
};

namespace {

std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}
std::vector<TSession*>& Sessions() {
  static std::vector<TSession*> list;
  return list;
}
std::vector<TDatabase*>& Databases() {
  static std::vector<TDatabase*> list;
  return list;
}
std::map<std::string, std::weak_ptr<TEngineHandle>>& Engines() {
  static std::map<std::string, std::weak_ptr<TEngineHandle>> map;
  return map;
}

std::string FolderKey(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(fs::path(folder), ec), ec);
  if (ec) return folder;
  return p.string();
}

std::string TableKey(std::string_view name) { return UpperAscii(name); }

std::vector<std::string> SplitFields(std::string_view text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    std::string piece = TrimText(text.substr(start, end - start));
    if (!piece.empty()) out.push_back(std::move(piece));
    start = end + 1;
  }
  return out;
}

px::FieldDef ParadoxFieldOf(const TFieldDefItem& def) {
  px::FieldDef f;
  f.name = def.Name;
  f.size = 0;
  f.required = def.Required;
  switch (def.DataType) {
    case TFieldType::ftString:
    case TFieldType::ftFixedChar:
    case TFieldType::ftWideString:
      f.type = px::FieldType::kAlpha;
      f.size = def.Size;
      break;
    case TFieldType::ftSmallint:
      f.type = px::FieldType::kShort;
      break;
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
      f.type = px::FieldType::kLong;
      break;
    case TFieldType::ftAutoInc:
      f.type = px::FieldType::kAutoInc;
      break;
    case TFieldType::ftBoolean:
      f.type = px::FieldType::kLogical;
      break;
    case TFieldType::ftFloat:
      f.type = px::FieldType::kNumber;
      break;
    case TFieldType::ftCurrency:
      f.type = px::FieldType::kMoney;
      break;
    case TFieldType::ftBCD:
      f.type = px::FieldType::kBcd;
      f.size = def.Size;
      break;
    case TFieldType::ftDate:
      f.type = px::FieldType::kDate;
      break;
    case TFieldType::ftTime:
      f.type = px::FieldType::kTime;
      break;
    case TFieldType::ftDateTime:
      f.type = px::FieldType::kTimestamp;
      break;
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
      f.type = px::FieldType::kBytes;
      f.size = def.Size;
      break;
    case TFieldType::ftBlob:
    case TFieldType::ftTypedBinary:
      f.type = px::FieldType::kBinary;
      f.size = def.Size;
      break;
    case TFieldType::ftMemo:
      f.type = px::FieldType::kMemo;
      f.size = def.Size;
      break;
    case TFieldType::ftFmtMemo:
      f.type = px::FieldType::kFmtMemo;
      f.size = def.Size;
      break;
    case TFieldType::ftGraphic:
      f.type = px::FieldType::kGraphic;
      f.size = def.Size;
      break;
    case TFieldType::ftParadoxOle:
    case TFieldType::ftDBaseOle:
      f.type = px::FieldType::kOle;
      f.size = def.Size;
      break;
    default:
      throw EBdeError(std::string("Field type not supported by Paradox tables: ") +
                      FieldTypeName(def.DataType) + " (field " + def.Name + ")");
  }
  return f;
}

}  // namespace

TEngineHandle::~TEngineHandle() {
  std::lock_guard<std::mutex> guard(RegistryLock());
  auto it = Engines().find(key);
  if (it != Engines().end() && it->second.expired()) Engines().erase(it);
}

// ---------------------------------------------------------------------------------------------
// Field types

bool IsBlobFieldType(TFieldType type) {
  switch (type) {
    case TFieldType::ftBlob:
    case TFieldType::ftMemo:
    case TFieldType::ftGraphic:
    case TFieldType::ftFmtMemo:
    case TFieldType::ftParadoxOle:
    case TFieldType::ftDBaseOle:
    case TFieldType::ftTypedBinary:
    case TFieldType::ftOraBlob:
    case TFieldType::ftOraClob:
      return true;
    default:
      return false;
  }
}

const char* FieldTypeName(TFieldType type) {
  static const char* const kNames[] = {
      "ftUnknown",    "ftString",     "ftSmallint", "ftInteger",     "ftWord",      "ftBoolean",
      "ftFloat",      "ftCurrency",   "ftBCD",      "ftDate",        "ftTime",      "ftDateTime",
      "ftBytes",      "ftVarBytes",   "ftAutoInc",  "ftBlob",        "ftMemo",      "ftGraphic",
      "ftFmtMemo",    "ftParadoxOle", "ftDBaseOle", "ftTypedBinary", "ftCursor",    "ftFixedChar",
      "ftWideString", "ftLargeint",   "ftADT",      "ftArray",       "ftReference", "ftDataSet",
      "ftOraBlob",    "ftOraClob",    "ftVariant",  "ftInterface",   "ftIDispatch", "ftGuid"};
  const size_t i = static_cast<size_t>(type);
  return i < std::size(kNames) ? kNames[i] : "ftUnknown";
}

TFieldType FieldTypeOfParadox(uint8_t paradox_type) {
  switch (static_cast<px::FieldType>(paradox_type)) {
    case px::FieldType::kAlpha:
      return TFieldType::ftString;
    case px::FieldType::kDate:
      return TFieldType::ftDate;
    case px::FieldType::kShort:
      return TFieldType::ftSmallint;
    case px::FieldType::kLong:
      return TFieldType::ftInteger;
    case px::FieldType::kMoney:
      return TFieldType::ftCurrency;
    case px::FieldType::kNumber:
      return TFieldType::ftFloat;
    case px::FieldType::kLogical:
      return TFieldType::ftBoolean;
    case px::FieldType::kMemo:
      return TFieldType::ftMemo;
    case px::FieldType::kBinary:
      return TFieldType::ftBlob;
    case px::FieldType::kFmtMemo:
      return TFieldType::ftFmtMemo;
    case px::FieldType::kOle:
      return TFieldType::ftParadoxOle;
    case px::FieldType::kGraphic:
      return TFieldType::ftGraphic;
    case px::FieldType::kTime:
      return TFieldType::ftTime;
    case px::FieldType::kTimestamp:
      return TFieldType::ftDateTime;
    case px::FieldType::kAutoInc:
      return TFieldType::ftAutoInc;
    case px::FieldType::kBcd:
      return TFieldType::ftBCD;
    case px::FieldType::kBytes:
      return TFieldType::ftBytes;
  }
  return TFieldType::ftUnknown;
}

// ---------------------------------------------------------------------------------------------
// TSession

TSession::TSession() {
  std::lock_guard<std::mutex> guard(RegistryLock());
  Sessions().push_back(this);
}

TSession::~TSession() {
  try {
    Close();
  } catch (...) {
    // Closing writes pending changes; a failure cannot be reported from here.
  }
  std::lock_guard<std::mutex> guard(RegistryLock());
  auto& list = Sessions();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TSession::SetSessionName(const std::string& name) {
  if (!name.empty() && TSession::Find(name) && !SameTextAscii(name, name_))
    throw EBdeError("Duplicate session name " + name);
  name_ = name;
}

void TSession::AddPassword(const std::string& password) { passwords_.push_back(password); }

void TSession::Close() {
  std::vector<TDatabase*> attached;
  {
    std::lock_guard<std::mutex> guard(RegistryLock());
    for (TDatabase* db : Databases())
      if (db->Connected() && SameTextAscii(db->SessionName(), name_)) attached.push_back(db);
  }
  for (TDatabase* db : attached) db->Close();
}

TSession* TSession::Find(std::string_view name) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  for (TSession* s : Sessions())
    if (!s->name_.empty() && SameTextAscii(s->name_, name)) return s;
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// TDatabase

TDatabase::TDatabase() {
  std::lock_guard<std::mutex> guard(RegistryLock());
  Databases().push_back(this);
}

TDatabase::~TDatabase() {
  try {
    Close();
  } catch (...) {
    // See Close: the engine is released all the same.
  }
  std::lock_guard<std::mutex> guard(RegistryLock());
  auto& list = Databases();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TDatabase::CheckInactive() const {
  if (Connected()) throw EBdeError("Cannot perform this operation on an open database");
}

void TDatabase::SetDatabaseName(const std::string& name) {
  CheckInactive();
  name_ = name;
}
void TDatabase::SetSessionName(const std::string& name) {
  CheckInactive();
  session_name_ = name;
}
void TDatabase::SetAliasName(const std::string& name) {
  CheckInactive();
  alias_ = name;
}
void TDatabase::SetDriverName(const std::string& name) {
  CheckInactive();
  driver_ = name;
}
std::vector<std::string>& TDatabase::Params() { return params_; }

void TDatabase::Open() {
  if (Connected()) return;
  if (name_.empty()) throw EBdeError("Database name missing");
  TSession* session = TSession::Find(session_name_);
  if (session == nullptr) throw EBdeError("Session '" + session_name_ + "' not found");
  if (!alias_.empty()) throw EBdeError("Unknown database alias: " + alias_);
  if (!SameTextAscii(driver_, "STANDARD")) throw EBdeError("Unknown driver: " + driver_);
  if (TDatabase* other = Find(session_name_, name_);
      other != nullptr && other != this && other->Connected())
    throw EBdeError("Duplicate database name '" + name_ + "'");
  std::string path;
  bool has_path = false;
  for (const std::string& entry : params_) {
    const size_t eq = entry.find('=');
    if (eq == std::string::npos || !SameTextAscii(TrimText(entry.substr(0, eq)), "PATH")) continue;
    path = TrimText(entry.substr(eq + 1));
    has_path = true;
    break;
  }
  if (!has_path || path.empty())
    throw EBdeError("Database '" + name_ + "': the parameter PATH names no folder");

  const std::string key = FolderKey(path);
  std::shared_ptr<TEngineHandle> handle;
  {
    std::lock_guard<std::mutex> guard(RegistryLock());
    auto it = Engines().find(key);
    if (it != Engines().end()) handle = it->second.lock();
  }
  if (!handle) {
    px::DatabaseOptions options;
    options.passwords = session->Passwords();
    auto created = std::make_shared<TEngineHandle>();
    created->key = key;
    created->engine = px::Database::Open(path, std::move(options));
    std::lock_guard<std::mutex> guard(RegistryLock());
    Engines()[key] = created;
    handle = std::move(created);
  }
  handle_ = std::move(handle);
  in_transaction_ = false;
}

void TDatabase::Disconnect() {
  if (handle_ && handle_->transaction_owner == this) handle_->transaction_owner = nullptr;
  in_transaction_ = false;
  handle_.reset();
}

void TDatabase::Close() {
  if (!Connected()) return;
  const std::vector<TDataSet*> datasets = datasets_;
  for (TDataSet* ds : datasets) ds->DatabaseClosing();
  datasets_.clear();
  try {
    if (in_transaction_) Rollback();
    Flush();
  } catch (...) {
    Disconnect();
    throw;
  }
  Disconnect();
}

px::Database& TDatabase::Engine() {
  if (!Connected()) throw EBdeError("Database '" + name_ + "' is not open");
  return *handle_->engine;
}

px::SqlConnection& TDatabase::Sql() {
  px::Database& engine = Engine();
  if (!handle_->sql) {
    auto sql = std::make_unique<px::SqlConnection>(engine);
    // In local SQL a double-quoted text is always a name: a misspelt field must be an error,
    // not a string constant.
    sqlite3_db_config(sql->Handle(), SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(sql->Handle(), SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    handle_->sql = std::move(sql);
  }
  return *handle_->sql;
}

void TDatabase::NoteChange() {
  if (handle_) handle_->pending = true;
}

void TDatabase::Flush() {
  if (!Connected() || !handle_->pending || handle_->engine->InTransaction() ||
      handle_->engine->SavepointCount() > 0)
    return;
  handle_->engine->Flush();
  handle_->pending = false;
}

void TDatabase::StartTransaction() {
  px::Database& engine = Engine();
  if (in_transaction_) throw EBdeError("A transaction is already active");
  if (handle_->transaction_owner != nullptr)
    throw EBdeError("Another database of this folder has a transaction running");
  Flush();
  engine.StartTransaction();
  handle_->transaction_owner = this;
  in_transaction_ = true;
}

void TDatabase::Commit() {
  px::Database& engine = Engine();
  if (!in_transaction_) throw EBdeError("No transaction is active");
  engine.Commit();
  handle_->transaction_owner = nullptr;
  handle_->pending = false;
  in_transaction_ = false;
}

void TDatabase::Rollback() {
  px::Database& engine = Engine();
  if (!in_transaction_) throw EBdeError("No transaction is active");
  in_transaction_ = false;
  handle_->transaction_owner = nullptr;
  engine.Rollback();
}

std::vector<std::string> TDatabase::GetTableNames(bool system_tables) {
  (void)system_tables;  // a folder of Paradox tables has no system tables
  return Engine().ListTables();
}

void TDatabase::TableOpened(const std::string& table) {
  if (handle_) ++handle_->open_tables[TableKey(table)];
}

void TDatabase::TableClosed(const std::string& table) {
  if (!handle_) return;
  auto it = handle_->open_tables.find(TableKey(table));
  if (it != handle_->open_tables.end() && --it->second <= 0) handle_->open_tables.erase(it);
}

void TDatabase::CheckTableFree(const std::string& table) {
  if (handle_ && handle_->open_tables.count(TableKey(table)))
    throw EBdeError("Table is busy.\nTable: " + table);
}

TDatabase* TDatabase::Find(std::string_view session_name, std::string_view database_name) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  TDatabase* found = nullptr;
  for (TDatabase* db : Databases()) {
    if (db->name_.empty() || !SameTextAscii(db->name_, database_name) ||
        !SameTextAscii(db->session_name_, session_name))
      continue;
    if (db->Connected()) return db;
    if (found == nullptr) found = db;
  }
  return found;
}

// ---------------------------------------------------------------------------------------------
// TField

TField::TField(TDataSet* owner, int index, std::string name, TFieldType type, int size,
               bool required)
    : owner_(owner),
      index_(index),
      name_(std::move(name)),
      type_(type),
      size_(size),
      required_(required) {}

bool TField::IsNull() const { return owner_->FieldValue(index_).IsEmptyOrNull(); }

Value TField::AsValue() const {
  Value v = owner_->FieldValue(index_);
  return v.IsEmpty() ? Value::Null() : v;
}

bool TField::AsBoolean() const {
  const Value v = owner_->FieldValue(index_);
  return v.IsEmptyOrNull() ? false : v.ToBoolean();
}
int32_t TField::AsInteger() const {
  const Value v = owner_->FieldValue(index_);
  return v.IsEmptyOrNull() ? 0 : v.ToInteger();
}
double TField::AsFloat() const {
  const Value v = owner_->FieldValue(index_);
  return v.IsEmptyOrNull() ? 0.0 : v.ToFloat();
}
Currency TField::AsCurrency() const {
  const Value v = owner_->FieldValue(index_);
  return v.IsEmptyOrNull() ? Currency{} : v.ToCurrency();
}
DateTime TField::AsDateTime() const {
  const Value v = owner_->FieldValue(index_);
  return v.IsEmptyOrNull() ? DateTime{} : v.ToDateTime();
}
std::string TField::AsString() const {
  const Value v = owner_->FieldValue(index_);
  if (v.IsEmptyOrNull()) return {};
  if (v.Kind() == ValueKind::kBytes) return std::string(v.BytesRef().begin(), v.BytesRef().end());
  return v.ToString();
}

Bytes TField::BlobContent() const {
  const Value v = owner_->FieldValue(index_);
  if (v.IsEmptyOrNull()) return {};
  if (v.Kind() == ValueKind::kBytes) return v.BytesRef();
  if (v.Kind() == ValueKind::kString) return Bytes(v.StringRef().begin(), v.StringRef().end());
  const std::string text = v.ToString();
  return Bytes(text.begin(), text.end());
}

int32_t TField::BlobSize() const { return owner_->FieldBlobSize(index_); }

void TField::SetValue(const Value& value) { owner_->SetFieldValue(index_, value); }

// ---------------------------------------------------------------------------------------------
// TDataSet

TDataSet::TDataSet() = default;
TDataSet::~TDataSet() { DetachFromDatabase(); }

void TDataSet::AttachTo(TDatabase& database) {
  if (attached_ == &database) return;
  DetachFromDatabase();
  database.datasets_.push_back(this);
  attached_ = &database;
}

void TDataSet::DetachFromDatabase() {
  if (attached_ == nullptr) return;
  auto& list = attached_->datasets_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  attached_ = nullptr;
}

void TDataSet::DatabaseClosing() {
  Close();
  DetachFromDatabase();
}

void TDataSet::SetSessionName(const std::string& name) {
  CheckInactive();
  session_name_ = name;
}

void TDataSet::SetDatabaseName(const std::string& name) {
  CheckInactive();
  database_name_ = name;
}

TDatabase& TDataSet::LinkedDatabase() const {
  TDatabase* db = TDatabase::Find(session_name_, database_name_);
  if (db == nullptr) throw EBdeError("Database '" + database_name_ + "' not found");
  if (!db->Connected()) throw EBdeError("Database '" + database_name_ + "' is not open");
  return *db;
}

void TDataSet::CheckInactive() const {
  if (active_) throw EBdeError("Cannot perform this operation on an open dataset");
}

void TDataSet::CheckActive() const {
  if (!active_) throw EBdeError("Cannot perform this operation on a closed dataset");
}

void TDataSet::Open() {
  if (active_) return;
  fields_.clear();
  InternalOpen();
  active_ = true;
}

void TDataSet::Close() {
  if (!active_) return;
  active_ = false;
  InternalClose();  // the field objects stay (they read as null) until the next Open
}

bool TDataSet::Eof() const { return !active_ || InternalEof(); }

void TDataSet::Next() {
  CheckActive();
  if (!InternalEof()) InternalNext();
}

TField& TDataSet::Fields(int index) const {
  if (index < 0 || index >= FieldCount()) throw EBdeError("Field index out of range");
  return *fields_[static_cast<size_t>(index)];
}

TField* TDataSet::FindField(std::string_view name) const {
  for (const auto& f : fields_)
    if (SameTextAscii(f->FieldName(), name)) return f.get();
  return nullptr;
}

TField& TDataSet::FieldByName(std::string_view name) const {
  TField* f = FindField(name);
  if (f == nullptr) throw EBdeError("Field '" + std::string(name) + "' not found");
  return *f;
}

void TDataSet::SetFieldValue(int index, const Value& value) {
  (void)index;
  (void)value;
  throw EBdeError("Dataset not in edit or insert mode");
}

int32_t TDataSet::FieldBlobSize(int index) const {
  const Value v = FieldValue(index);
  if (v.Kind() == ValueKind::kBytes) return static_cast<int32_t>(v.BytesRef().size());
  // A memo counts its characters, as many as the bytes it takes in a table's code page.
  if (v.Kind() == ValueKind::kString) return static_cast<int32_t>(Utf8Length(v.StringRef()));
  return 0;
}

// ---------------------------------------------------------------------------------------------
// TTable

TTable::TTable() = default;

TTable::~TTable() {
  try {
    Close();
  } catch (...) {
  }
}

void TTable::SetTableName(const std::string& name) {
  CheckInactive();
  std::string n = name;
  if (n.size() > 3 && SameTextAscii(std::string_view(n).substr(n.size() - 3), ".DB"))
    n.resize(n.size() - 3);
  table_name_ = n;
}

void TTable::SetReadOnly(bool value) {
  CheckInactive();
  read_only_ = value;
}

void TTable::UpdateFieldDefs() {
  const px::TableInfo info = LinkedDatabase().Engine().ReadTableInfo(table_name_);
  field_defs_.clear();
  for (const px::FieldDef& f : info.fields)
    field_defs_.push_back(
        {f.name, FieldTypeOfParadox(static_cast<uint8_t>(f.type)), f.size, f.required});
}

void TTable::UpdateIndexDefs() {
  const px::TableInfo info = LinkedDatabase().Engine().ReadTableInfo(table_name_);
  index_defs_.clear();
  for (const px::IndexDef& idx : info.indexes) {
    TIndexDefItem item;
    item.Name = idx.primary ? std::string() : idx.name;
    for (size_t i = 0; i < idx.fields.size(); ++i) {
      if (i > 0) item.Fields += ';';
      item.Fields += idx.fields[i];
    }
    if (idx.primary) item.Options |= ixPrimary | ixUnique;
    if (idx.unique) item.Options |= ixUnique;
    if (idx.descending) item.Options |= ixDescending;
    if (idx.case_insensitive) item.Options |= ixCaseInsensitive;
    index_defs_.push_back(std::move(item));
  }
}

void TTable::AddFieldDef(const std::string& name, TFieldType type, int size, bool required) {
  field_defs_.push_back({name, type, size, required});
}

void TTable::AddIndexDef(const std::string& name, const std::string& fields,
                         TIndexOptions options) {
  index_defs_.push_back({name, fields, options});
}

void TTable::CreateTable() {
  CheckInactive();
  TDatabase& db = LinkedDatabase();
  std::vector<px::FieldDef> fields;
  for (const TFieldDefItem& def : field_defs_) fields.push_back(ParadoxFieldOf(def));
  std::vector<px::IndexDef> indexes;
  for (const TIndexDefItem& def : index_defs_) {
    px::IndexDef idx;
    idx.primary = (def.Options & ixPrimary) != 0;
    idx.name = idx.primary ? std::string() : def.Name;
    idx.fields = SplitFields(def.Fields);
    idx.unique = idx.primary || (def.Options & ixUnique) != 0;
    idx.descending = (def.Options & ixDescending) != 0;
    idx.case_insensitive = (def.Options & ixCaseInsensitive) != 0;
    indexes.push_back(std::move(idx));
  }
  db.Flush();
  db.Engine().CreateTable(table_name_, fields, indexes);
}

void TTable::DeleteTable() {
  CheckInactive();
  TDatabase& db = LinkedDatabase();
  db.CheckTableFree(table_name_);
  db.Flush();
  db.Engine().DeleteTable(table_name_);
}

void TTable::RenameTable(const std::string& new_name) {
  CheckInactive();
  TDatabase& db = LinkedDatabase();
  db.CheckTableFree(table_name_);
  db.Flush();
  std::string target = new_name;
  if (target.size() > 3 && SameTextAscii(std::string_view(target).substr(target.size() - 3), ".DB"))
    target.resize(target.size() - 3);
  db.Engine().RenameTable(table_name_, target);
  table_name_ = target;
}

bool TTable::Exists() { return LinkedDatabase().Engine().TableExists(table_name_); }

void TTable::InternalOpen() {
  TDatabase& db = LinkedDatabase();
  px::Table& table = db.Engine().OpenTable(table_name_);
  for (int i = 0; i < table.FieldCount(); ++i) {
    const px::FieldDef& f = table.Field(i);
    fields_.push_back(std::make_unique<TField>(
        this, i, f.name, FieldTypeOfParadox(static_cast<uint8_t>(f.type)), f.size, f.required));
  }
  AttachTo(db);
  table_ = &table;
  rows_ = table.Rows();
  positions_valid_ = false;
  position_ = 0;
  stale_ = false;
  inserting_ = false;
  db.TableOpened(table_name_);
}

void TTable::InternalClose() {
  if (Attached() != nullptr) Attached()->TableClosed(table_name_);
  DetachFromDatabase();
  table_ = nullptr;
  rows_.clear();
  positions_.clear();
  positions_valid_ = false;
  buffer_.clear();
  inserting_ = false;
  stale_ = false;
}

void TTable::Refresh() const {
  if (!stale_) return;
  rows_ = table_->Rows();
  positions_valid_ = false;
  const auto it = std::find(rows_.begin(), rows_.end(), current_row_);
  position_ = it == rows_.end() ? rows_.size() : static_cast<size_t>(it - rows_.begin());
  stale_ = false;
}

bool TTable::InternalEof() const {
  if (inserting_) return false;
  Refresh();
  return position_ >= rows_.size();
}

void TTable::InternalNext() {
  if (inserting_) Cancel();
  Refresh();
  if (position_ < rows_.size()) ++position_;
}

int TTable::PositionOf(uint32_t row) const {
  Refresh();
  if (!positions_valid_) {
    positions_.clear();
    positions_.reserve(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i) positions_.emplace(rows_[i], i);
    positions_valid_ = true;
  }
  const auto it = positions_.find(row);
  return it == positions_.end() ? -1 : static_cast<int>(it->second);
}

Value TTable::FieldValue(int index) const {
  if (table_ == nullptr) return Value::Null();
  if (inserting_) {
    const Value& v = buffer_[static_cast<size_t>(index)];
    return v.IsEmpty() ? Value::Null() : v;
  }
  Refresh();
  if (position_ >= rows_.size()) return Value::Null();
  return table_->Get(rows_[position_], index);
}

int32_t TTable::FieldBlobSize(int index) const {
  if (table_ == nullptr) return 0;
  if (inserting_ || !IsBlobFieldType(fields_[static_cast<size_t>(index)]->DataType()))
    return TDataSet::FieldBlobSize(index);
  Refresh();
  if (position_ >= rows_.size()) return 0;
  return static_cast<int32_t>(table_->BlobLength(rows_[position_], index));
}

void TTable::SetFieldValue(int index, const Value& value) {
  if (!inserting_) TDataSet::SetFieldValue(index, value);
  buffer_[static_cast<size_t>(index)] = value;
}

bool TTable::Locate(const std::string& key_fields, const Value& key_values,
                    TLocateOptions options) {
  CheckActive();
  if (inserting_) Cancel();
  const std::vector<std::string> names = SplitFields(key_fields);
  if (names.empty()) throw EBdeError("No fields given to locate");
  std::vector<int> columns;
  for (const std::string& name : names) columns.push_back(FieldByName(name).Index());
  std::vector<Value> values;
  if (names.size() == 1) {
    values.push_back(key_values);
  } else {
    if (key_values.Kind() != ValueKind::kArray || key_values.ArrayRef().size() != names.size())
      throw EBdeError("Locate: one value is needed for each of the fields " + key_fields);
    values = key_values.ArrayRef();
  }
  Refresh();
  const bool plain = options == 0 && std::none_of(values.begin(), values.end(),
                                                  [](const Value& v) { return v.IsEmptyOrNull(); });
  // An index whose first fields are the located fields, in order, finds the candidates.
  int index = -1;
  if (plain) {
    const auto& indexes = table_->Info().indexes;
    for (size_t i = 0; i < indexes.size() && index < 0; ++i) {
      const auto& idx = indexes[i];
      if (idx.fields.size() < columns.size() || idx.case_insensitive) continue;
      bool match = true;
      for (size_t k = 0; k < columns.size() && match; ++k)
        match = table_->FieldIndex(idx.fields[k]) == columns[k];
      if (match) index = static_cast<int>(i);
    }
  }
  if (index >= 0) {
    std::vector<px::RowId> candidates = table_->FindEqual(index, values);
    if (candidates.empty()) return false;
    // The first of them in the table's order.
    size_t best = rows_.size();
    for (px::RowId row : candidates) {
      const int p = PositionOf(row);
      if (p >= 0) best = std::min(best, static_cast<size_t>(p));
    }
    if (best >= rows_.size()) return false;
    // FindEqual compares stored bytes; confirm with the values as read.
    for (size_t k = 0; k < columns.size(); ++k)
      if (!SameFieldValue(table_->Get(rows_[best], columns[k]), values[k], options)) return false;
    position_ = best;
    return true;
  }
  for (size_t i = 0; i < rows_.size(); ++i) {
    bool match = true;
    for (size_t k = 0; k < columns.size() && match; ++k)
      match = SameFieldValue(table_->Get(rows_[i], columns[k]), values[k], options);
    if (match) {
      position_ = i;
      return true;
    }
  }
  return false;
}

void TTable::Append() {
  CheckActive();
  if (read_only_) throw EBdeError("Cannot modify a read-only dataset");
  if (inserting_) Cancel();
  buffer_.assign(fields_.size(), Value());
  inserting_ = true;
}

void TTable::Post() {
  CheckActive();
  if (!inserting_) return;
  const px::RowId row = table_->Insert(buffer_);
  inserting_ = false;
  buffer_.clear();
  Attached()->NoteChange();
  current_row_ = row;
  stale_ = true;
}

void TTable::Cancel() {
  inserting_ = false;
  buffer_.clear();
}

}  // namespace atlor::bde
