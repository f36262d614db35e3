#include "backends/paradox/bde_ardbs.h"

#include <algorithm>

#include "ardb/ardb_std_impl.h"
#include "backends/paradox/bde/bde_values.h"
#include "core/encoding.h"
#include "core/exception.h"

namespace atlor {

using bde::TFieldType;

namespace {

std::atomic<int32_t> g_bde_counter{0};

// The kind a value takes in a field of that type (Empty: keep the value as it is).
ValueKind KindForField(TFieldType type) {
  switch (BaseDataType(BDEFieldTypeToDataType(type))) {
    case dtBoolean:
      return ValueKind::kBoolean;
    case dtInteger:
      return ValueKind::kInteger;
    case dtFloat:
      return ValueKind::kFloat;
    case dtCurrency:
      return ValueKind::kCurrency;
    case dtDateTime:
      return ValueKind::kDateTime;
    case dtString:
    case dtMemo:
      return ValueKind::kString;
    default:
      return ValueKind::kEmpty;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Mappings and word lists

TArDbDataType BDEFieldTypeToDataType(TFieldType type) {
  switch (type) {
    case TFieldType::ftString:
    case TFieldType::ftFixedChar:
    case TFieldType::ftWideString:
      return dtString;
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftAutoInc:
      return dtInteger;
    case TFieldType::ftBoolean:
      return dtBoolean;
    case TFieldType::ftFloat:
      return dtFloat;
    case TFieldType::ftCurrency:
      return dtCurrency;
    case TFieldType::ftDate:
      return dtDate;
    case TFieldType::ftTime:
      return dtTime;
    case TFieldType::ftDateTime:
      return dtDateTime;
    case TFieldType::ftMemo:
      return dtMemo;
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
    case TFieldType::ftBlob:
    case TFieldType::ftGraphic:
    case TFieldType::ftFmtMemo:
    case TFieldType::ftParadoxOle:
    case TFieldType::ftDBaseOle:
    case TFieldType::ftTypedBinary:
    case TFieldType::ftOraBlob:
    case TFieldType::ftOraClob:
      return dtBinary;
    default:
      return dtUnknown;
  }
}

TFieldType DataTypeToBDEFieldType(TArDbDataType type) {
  switch (BaseDataType(type)) {
    case dtBoolean:
      return TFieldType::ftBoolean;
    case dtInteger:
      return TFieldType::ftInteger;
    case dtFloat:
      return TFieldType::ftFloat;
    case dtCurrency:
      return TFieldType::ftCurrency;
    case dtDateTime:
      return TFieldType::ftDateTime;
    case dtString:
      return TFieldType::ftString;
    case dtMemo:
      return TFieldType::ftMemo;
    case dtBinary:
      return TFieldType::ftBlob;
    default:
      return TFieldType::ftUnknown;
  }
}

const std::vector<std::string>& BDEReservedWords() {
  // clang-format off
  static const std::vector<std::string> kWords = {
      "ACTIVE", "ADD", "ALL", "AFTER", "ALTER", "AND", "ANY", "AS", "ASC", "ASCENDING", "AT",
      "AUTO", "AUTOINC", "AVG", "BASE_NAME", "BEFORE", "BEGIN", "BETWEEN", "BLOB", "BOOLEAN",
      "BOTH", "BY", "BYTES", "CACHE", "CAST", "CHAR", "CHARACTER", "CHECK", "CHECK_POINT_LENGTH",
      "COLLATE", "COLUMN", "COMMIT", "COMMITTED", "COMPUTED", "CONDITIONAL", "CONSTRAINT",
      "CONTAINING", "COUNT", "CREATE", "CSTRING", "CURRENT", "CURSOR", "DATABASE", "DATE", "DAY",
      "DEBUG", "DEC", "DECIMAL", "DECLARE", "DEFAULT", "DELETE", "DESC", "DESCENDING", "DISTINCT",
      "DO", "DOMAIN", "DOUBLE", "DROP", "ELSE", "END", "ENTRY_POINT", "ESCAPE", "EXCEPTION",
      "EXECUTE", "EXISTS", "EXIT", "EXTERNAL", "EXTRACT", "FILE", "FILTER", "FLOAT", "FOR",
      "FOREIGN", "FROM", "FULL", "FUNCTION", "GDSCODE", "GENERATOR", "GEN_ID", "GRANT", "GROUP",
      "GROUP_COMMIT_WAIT_TIME", "HAVING", "HOUR", "IF", "IN", "INT", "INACTIVE", "INDEX", "INNER",
      "INPUT_TYPE", "INSERT", "INTEGER", "INTO", "IS", "ISOLATION", "JOIN", "KEY", "LONG",
      "LENGTH", "LOGFILE", "LOWER", "LEADING", "LEFT", "LEVEL", "LIKE", "LOG_BUFFER_SIZE",
      "MANUAL", "MAX", "MAXIMUM_SEGMENT", "MERGE", "MESSAGE", "MIN", "MINUTE", "MODULE_NAME",
      "MONEY", "MONTH", "NAMES", "NATIONAL", "NATURAL", "NCHAR", "NO", "NOT", "NULL",
      "NUM_LOG_BUFFERS", "NUMERIC", "OF", "ON", "ONLY", "OPTION", "OR", "ORDER", "OUTER",
      "OUTPUT_TYPE", "OVERFLOW", "PAGE_SIZE", "PAGE", "PAGES", "PARAMETER", "PASSWORD", "PLAN",
      "POSITION", "POST_EVENT", "PRECISION", "PROCEDURE", "PROTECTED", "PRIMARY", "PRIVILEGES",
      "RAW_PARTITIONS", "RDB$DB_KEY", "READ", "REAL", "RECORD_VERSION", "REFERENCES", "RESERV",
      "RESERVING", "RETAIN", "RETURNING_VALUES", "RETURNS", "REVOKE", "RIGHT", "ROLLBACK",
      "SECOND", "SEGMENT", "SELECT", "SET", "SHARED", "SHADOW", "SCHEMA", "SINGULAR", "SIZE",
      "SMALLINT", "SNAPSHOT", "SOME", "SORT", "SQLCODE", "STABILITY", "STARTING", "STARTS",
      "STATISTICS", "SUB_TYPE", "SUBSTRING", "SUM", "SUSPEND", "TABLE", "THEN", "TIME",
      "TIMESTAMP", "TIMEZONE_HOUR", "TIMEZONE_MINUTE", "TO", "TRAILING", "TRANSACTION", "TRIGGER",
      "TRIM", "UNCOMMITTED", "UNION", "UNIQUE", "UPDATE", "UPPER", "USER", "VALUE", "VALUES",
      "VARCHAR", "VARIABLE", "VARYING", "VIEW", "WAIT", "WHEN", "WHERE", "WHILE", "WITH", "WORK",
      "WRITE", "YEAR",
  };
  // clang-format on
  return kWords;
}

std::string BDEQueryText(const std::string& sql, char open_quote, char close_quote) {
  const std::string quotes[2] = {std::string(1, open_quote), std::string(1, close_quote)};
  const std::string quoted = TranslateQuotes(sql, "[]", quotes);
  std::string out;
  out.reserve(quoted.size() + 16);
  char quote = 0;
  int number = 0;
  for (const char c : quoted) {
    if (quote != 0) {
      if (c == quote) quote = 0;
      out += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
      out += c;
    } else if (c == '?') {
      out += ":PARAM" + std::to_string(number++);
    } else {
      out += c;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// TRefDataSet

TRefDataSet::TRefDataSet(std::unique_ptr<bde::TDataSet> dataset) : dataset_(std::move(dataset)) {
  ATLOR_ASSERT(dataset_ != nullptr, "Assertion failure");
}

TRefDataSet::~TRefDataSet() = default;

bde::TQuery& TRefDataSet::Query() const {
  auto* query = dynamic_cast<bde::TQuery*>(dataset_.get());
  ATLOR_ASSERT(query != nullptr, "Assertion failure");
  return *query;
}

bde::TTable& TRefDataSet::Table() const {
  auto* table = dynamic_cast<bde::TTable*>(dataset_.get());
  ATLOR_ASSERT(table != nullptr, "Assertion failure");
  return *table;
}

// ---------------------------------------------------------------------------------------------
// TBDEArDb

TBDEArDb::TBDEArDb() {
  const int32_t n = ++g_bde_counter;
  session_ = std::make_unique<bde::TSession>();
  session_->SetSessionName("AtlorSession" + std::to_string(n));
  database_ = std::make_unique<bde::TDatabase>();
  database_->SetDatabaseName("AtlorDb" + std::to_string(n));
  database_->SetSessionName(session_->SessionName());
  database_->SetLoginPrompt(false);
  database_->SetAliasName("");
}

TBDEArDb::~TBDEArDb() {
  try {
    database_->Close();
  } catch (...) {
    // Close the database object to learn of a failure to write.
  }
  try {
    session_->Close();
  } catch (...) {
  }
}

std::unique_ptr<bde::TTable> TBDEArDb::NewTable(const std::string& table_name) {
  auto table = std::make_unique<bde::TTable>();
  table->SetSessionName(session_->SessionName());
  table->SetDatabaseName(database_->DatabaseName());
  table->SetTableName(table_name);
  table->SetCacheBlobs(false);
  return table;
}

std::unique_ptr<bde::TQuery> TBDEArDb::NewQuery() {
  auto query = std::make_unique<bde::TQuery>();
  query->SetSessionName(session_->SessionName());
  query->SetDatabaseName(database_->DatabaseName());
  query->SetRequestLive(true);
  query->SetUniDirectional(true);
  query->SetCacheBlobs(false);
  query->SetParamCheck(true);
  return query;
}

IntfPtr<IArDbCursor> TBDEArDb::TableListCursor() {
  const std::vector<std::string> names = database_->GetTableNames(false);
  IntfPtr<TInMemoryCursor> cursor(new TInMemoryCursor(this, 100, ArDbRelationsFields));
  for (const std::string& name : names) cursor->AddRow({Value(name), Value(false), Value(otTable)});
  return IntfPtr<IArDbCursor>(cursor);
}

IntfPtr<IArDbCursor> TBDEArDb::ReservedWordsCursor() {
  const std::vector<std::string>& words = BDEReservedWords();
  IntfPtr<TInMemoryCursor> cursor(
      new TInMemoryCursor(this, static_cast<int32_t>(words.size()), ArDbReservedWordsFields));
  for (const std::string& word : words) cursor->AddRow({Value(word)});
  return IntfPtr<IArDbCursor>(cursor);
}

void TBDEArDb::DoClose() {
  try {
    database_->Close();
  } catch (...) {
    session_->Close();
    throw;
  }
  session_->Close();
}

bool TBDEArDb::GetActive() { return database_->Connected(); }
bool TBDEArDb::GetInTransaction() { return database_->InTransaction(); }
void TBDEArDb::DoStartTransaction() { database_->StartTransaction(); }
void TBDEArDb::DoCommit() { database_->Commit(); }
void TBDEArDb::DoRollback() { database_->Rollback(); }

IntfPtr<IArDbCursor> TBDEArDb::DoOpenTable(const std::string& table_name, const std::string* fields,
                                           int32_t field_count, const std::string* key_fields,
                                           int32_t key_field_count, const Value* key_values,
                                           int32_t key_row_count, bool copy_key_values) {
  std::unique_ptr<bde::TTable> table = NewTable(table_name);
  table->SetReadOnly(true);
  return IntfPtr<IArDbCursor>(new TBDETableCursor(this, std::move(table), fields, field_count,
                                                  key_fields, key_field_count, key_values,
                                                  key_row_count, copy_key_values));
}

bool TBDEArDb::DoTableExists(const std::string& table_name) {
  return NewTable(table_name)->Exists();
}

void TBDEArDb::DoDropTable(const std::string& table_name) { NewTable(table_name)->DeleteTable(); }

// ---------------------------------------------------------------------------------------------
// TBDETableDef

TBDETableDef::TBDETableDef(TBDEArDb* database, bool case_sensitive_names)
    : TArDbTableDef(database), case_sensitive_names_(case_sensitive_names) {}

TBDEArDb& TBDETableDef::Db() const {
  TArDb* db = Database();
  ATLOR_ASSERT(db != nullptr, "Object not initialized");
  return static_cast<TBDEArDb&>(*db);
}

void TBDETableDef::DoCreateTable(const std::string& table_name, const TTableDef& def,
                                 bool with_indexes) {
  std::unique_ptr<bde::TTable> table = Db().NewTable(table_name);
  for (int32_t i = 0; i < def.Fields.Count(); ++i) {
    const TFieldDef& f = def.Fields[i];
    const TArDbDataType base = BaseDataType(f.DataType);
    int size = 0;
    // Alpha fields hold at most 255 characters; the part of a BLOB kept in the record is 1 to
    // 240 bytes for memos and 0 to 240 for binary data.
    if (base == dtString) size = std::clamp(f.Size, 1, 255);
    if (base == dtMemo) size = std::clamp(f.Size, 1, 240);
    if (base == dtBinary) size = std::clamp(f.Size, 0, 240);
    table->AddFieldDef(f.Name, DataTypeToBDEFieldType(f.DataType), size, f.Required);
  }
  if (with_indexes) {
    // Single-field indexes are named after their field; a generated name must not take one of
    // those names, whether its index comes before or after them.
    std::vector<std::string> given;
    for (int32_t i = 0; i < def.Indexes.Count(); ++i)
      if (def.Indexes[i].Fields.size() == 1) given.push_back(def.Indexes[i].Fields[0]);
    int counter = 0;
    for (int32_t i = 0; i < def.Indexes.Count(); ++i) {
      const TIndexDef& idx = def.Indexes[i];
      std::string fields;
      for (size_t k = 0; k < idx.Fields.size(); ++k) {
        if (k > 0) fields += ';';
        fields += idx.Fields[k];
      }
      bde::TIndexOptions options = 0;
      if (idx.Primary) options |= bde::ixPrimary;
      if (idx.Unique) options |= bde::ixUnique;
      std::string name;
      if (idx.Fields.size() == 1) {
        name = idx.Fields[0];
      } else {
        const NameCase name_case = Case();
        for (;; ++counter) {
          name = "Ind" + std::to_string(counter);
          const bool taken = IndexIndexByName(def.Indexes, name, name_case) >= 0 ||
                             std::any_of(given.begin(), given.end(), [&](const std::string& g) {
                               return SameName(g, name, name_case);
                             });
          if (!taken) break;
        }
        given.push_back(name);
      }
      table->AddIndexDef(name, fields, options);
    }
  }
  table->CreateTable();
}

void TBDETableDef::DoLoad(const std::string& table_name, TTableDef& def) {
  ClearTableDef(def);
  def.Name = table_name;
  std::unique_ptr<bde::TTable> table = Db().NewTable(table_name);
  table->UpdateFieldDefs();
  for (const bde::TFieldDefItem& item : table->FieldDefs()) {
    auto field = std::make_unique<TFieldDef>();
    field->Name = item.Name;
    field->DataType = BDEFieldTypeToDataType(item.DataType);
    field->Size = item.Size;
    field->Required = item.Required;
    def.Fields.Add(std::move(field));
  }
  table->UpdateIndexDefs();
  const std::vector<bde::TIndexDefItem>& items = table->IndexDefs();
  int counter = 0;
  for (const bde::TIndexDefItem& item : items) {
    auto index = std::make_unique<TIndexDef>();
    index->Primary = (item.Options & bde::ixPrimary) != 0;
    index->Unique = (item.Options & bde::ixUnique) != 0;
    SplitNames(index->Fields, item.Fields, ';');
    index->Name = item.Name;
    if (index->Name.empty()) {
      if (index->Primary) {
        index->Name = table_name + "_PK";
      } else {
        for (;;) {
          std::string candidate = table_name + "_I" + std::to_string(counter++);
          const bool taken =
              std::any_of(items.begin(), items.end(), [&](const bde::TIndexDefItem& other) {
                return SameName(other.Name, candidate, Case());
              });
          if (!taken) {
            index->Name = std::move(candidate);
            break;
          }
        }
      }
    }
    def.Indexes.Add(std::move(index));
  }
}

void TBDETableDef::CopyRows(const std::string& from, const std::string& to,
                            const TArDbFieldMap& map) {
  std::unique_ptr<bde::TTable> source = Db().NewTable(from);
  std::unique_ptr<bde::TTable> target = Db().NewTable(to);
  source->UpdateFieldDefs();
  target->UpdateFieldDefs();
  target->Open();
  source->Open();
  std::vector<std::pair<bde::TField*, bde::TField*>> pairs;
  for (const TArDbFieldMapItem& item : map) {
    bde::TField* s = source->FindField(item.OldField.Name);
    bde::TField* t = target->FindField(item.NewField.Name);
    ATLOR_ASSERT(s != nullptr && t != nullptr, "Field not found");
    pairs.emplace_back(s, t);
  }
  for (; !source->Eof(); source->Next()) {
    target->Append();
    for (const auto& [s, t] : pairs) {
      Value v = s->AsValue();
      const ValueKind kind = KindForField(t->DataType());
      if (!v.IsNull() && kind != ValueKind::kEmpty && v.Kind() != kind) v = v.ConvertTo(kind);
      t->SetValue(v);
    }
    target->Post();
  }
  source->Close();
  target->Close();
}

void TBDETableDef::DoAlterTable(const TTableDef& old_def, const TTableDef& new_def) {
  const TTableModificationInfo mods = CompareTableDefs(new_def, old_def, Case());
  if (mods.empty()) return;
  if (ModificationsMatch(tmRenameTable, mods, MaskMatch::kExact)) {
    Db().NewTable(old_def.Name)->RenameTable(new_def.Name);
    return;
  }
  TBDEArDb& db = Db();
  const std::string temp = UniqueTableName(db, old_def.Name, "_TMP");
  db.NewTable(old_def.Name)->RenameTable(temp);
  try {
    DoCreateTable(new_def.Name, new_def, true);
    try {
      const TArDbFieldMap map = BuildFieldMap(old_def, new_def);
      if (!map.empty()) CopyRows(temp, new_def.Name, map);
      db.DropTable(temp);
    } catch (...) {
      try {
        db.NewTable(new_def.Name)->DeleteTable();
      } catch (const std::exception&) {
        // The first failure is the one to report.
      }
      throw;
    }
  } catch (...) {
    try {
      db.NewTable(temp)->RenameTable(old_def.Name);
    } catch (const std::exception&) {
    }
    throw;
  }
}

// ---------------------------------------------------------------------------------------------
// TBDESQLCommand

TBDESQLCommand::TBDESQLCommand(TBDEArDb* database, char open_quote, char close_quote)
    : TArDbSQLCommand(database), open_quote_(open_quote), close_quote_(close_quote) {
  RefAssign(holder_, new TRefDataSet(database->NewQuery()));
}

TBDESQLCommand::~TBDESQLCommand() {
  if (holder_ != nullptr) RefRelease(holder_);
}

TBDEArDb& TBDESQLCommand::Db() const {
  TArDb* db = Database();
  ATLOR_ASSERT(db != nullptr, "Object not initialized");
  return static_cast<TBDEArDb&>(*db);
}

void TBDESQLCommand::OwnHolder(bool copy) {
  if (holder_ != nullptr && holder_->RefCount() < 2) return;
  std::unique_ptr<bde::TQuery> query = Db().NewQuery();
  if (copy && holder_ != nullptr) {
    query->SetSQL(holder_->Query().SQL());
    query->AssignParams(holder_->Query());
  }
  RefAssign(holder_, new TRefDataSet(std::move(query)));
}

void TBDESQLCommand::Prepare() {
  OwnHolder(false);
  bde::TQuery& query = holder_->Query();
  const std::string text = BDEQueryText(SQL(), open_quote_, close_quote_);
  query.SetSQL(text);
  ATLOR_ASSERT(query.ParamCount() == static_cast<int>(ParamTypes().size()), "Invalid params count");
  for (size_t i = 0; i < ParamTypes().size(); ++i) {
    bde::TParam& param = query.Params(static_cast<int>(i));
    param.SetParamType(bde::TParamType::ptInput);
    param.SetDataType(DataTypeToBDEFieldType(ParamTypes()[i]));
  }
  const std::string head = UpperAscii(TrimText(text));
  is_select_ = head.rfind("SELECT", 0) == 0;
}

IntfPtr<IArDbCursor> TBDESQLCommand::DoExecute(const Value* params, int32_t count,
                                               int32_t& rows_affected) {
  OwnHolder(true);
  bde::TQuery& query = holder_->Query();
  ATLOR_ASSERT(count == query.ParamCount(), "Assertion failure");
  for (int32_t i = 0; i < count; ++i) {
    bde::TParam& param = query.Params(i);
    const Value& value = params[i];
    const TArDbDataType base = BaseDataType(BDEFieldTypeToDataType(param.DataType()));
    if (value.IsNull()) {
      param.Clear();
      if ((base == dtMemo || base == dtBinary) && query.Prepared()) query.UnPrepare();
    } else if (base == dtBinary) {
      const Bytes& bytes = value.BytesRef();
      param.SetBlobData(bytes.data(), bytes.size());
    } else {
      param.SetValue(value);
    }
  }
  if (!query.Prepared() && Prepared()) query.Prepare();
  IntfPtr<IArDbCursor> cursor;
  if (is_select_) {
    query.Close();
    query.Open();
    cursor = IntfPtr<IArDbCursor>(new TBDESQLCursor(&Db(), holder_));
  } else {
    query.ExecSQL();
  }
  rows_affected = query.RowsAffected();
  return cursor;
}

// ---------------------------------------------------------------------------------------------
// TBDESQLCursor

TBDESQLCursor::TBDESQLCursor(TBDEArDb* database, TRefDataSet* holder) : TArDbCursor(database) {
  RefAssign(holder_, holder);
}

TBDESQLCursor::~TBDESQLCursor() {
  if (holder_ == nullptr) return;
  try {
    holder_->DataSet().Close();
  } catch (...) {
  }
  RefRelease(holder_);
}

bde::TField& TBDESQLCursor::GetField(int32_t index) {
  ATLOR_ASSERT(holder_ != nullptr, "Object not initialized");
  return holder_->DataSet().Fields(index);
}

bool TBDESQLCursor::GetIsNull(int32_t index) { return GetField(index).IsNull(); }
bool TBDESQLCursor::GetAsBoolean(int32_t index) { return GetField(index).AsBoolean(); }
int32_t TBDESQLCursor::GetAsInteger(int32_t index) { return GetField(index).AsInteger(); }
double TBDESQLCursor::GetAsFloat(int32_t index) { return GetField(index).AsFloat(); }
Currency TBDESQLCursor::GetAsCurrency(int32_t index) { return GetField(index).AsCurrency(); }
DateTime TBDESQLCursor::GetAsDateTime(int32_t index) { return GetField(index).AsDateTime(); }
std::string TBDESQLCursor::GetAsString(int32_t index) { return GetField(index).AsString(); }

Value TBDESQLCursor::GetAsBlob(int32_t index) {
  bde::TField& field = GetField(index);
  if (field.IsNull()) return Value::Null();
  return Value(field.BlobContent());
}

Value TBDESQLCursor::GetValue(int32_t index) { return GetField(index).AsValue(); }

int32_t TBDESQLCursor::GetFieldCount() {
  return holder_ == nullptr ? 0 : holder_->DataSet().FieldCount();
}

int32_t TBDESQLCursor::GetFieldIndex(const std::string& name) {
  if (holder_ == nullptr) return -1;
  bde::TField* field = holder_->DataSet().FindField(name);
  return field == nullptr ? -1 : field->Index();
}

std::string TBDESQLCursor::GetFieldName(int32_t index) { return GetField(index).FieldName(); }

TArDbDataType TBDESQLCursor::GetFieldType(int32_t index) {
  return BDEFieldTypeToDataType(GetField(index).DataType());
}

int32_t TBDESQLCursor::GetFieldSize(int32_t index) {
  bde::TField& field = GetField(index);
  if (field.IsBlob()) return field.BlobSize();
  if (field.DataType() == TFieldType::ftString)
    return static_cast<int32_t>(Utf8Length(field.AsString()));
  return field.Size();
}

bool TBDESQLCursor::GetEof() { return holder_ == nullptr || holder_->DataSet().Eof(); }

void TBDESQLCursor::DoNext() { holder_->DataSet().Next(); }

void TBDESQLCursor::DoClose() {
  if (holder_ != nullptr) holder_->DataSet().Close();
}

// ---------------------------------------------------------------------------------------------
// TBDETableCursor

TBDETableCursor::TBDETableCursor(TBDEArDb* database, std::unique_ptr<bde::TTable> table,
                                 const std::string* fields, int32_t field_count,
                                 const std::string* key_fields, int32_t key_field_count,
                                 const Value* key_values, int32_t key_row_count,
                                 bool copy_key_values)
    : TBDESQLCursor(database, new TRefDataSet(std::move(table))) {
  bde::TTable& t = Table();
  try {
    t.Open();
    if (field_count == 0 || (field_count == 1 && fields[0] == "*")) {
      for (int i = 0; i < t.FieldCount(); ++i) selected_fields_.push_back(&t.Fields(i));
    } else {
      for (int32_t i = 0; i < field_count; ++i) {
        bde::TField* field = t.FindField(fields[i]);
        if (field == nullptr) ATLOR_FAIL("Field not " + fields[i] + " found");
        selected_fields_.push_back(field);
      }
    }
    key_fields_.assign(key_fields, key_fields + std::max(key_field_count, 0));
    key_field_count_ = std::max(key_field_count, 0);
    key_row_count_ = std::max(key_row_count, 0);
    const size_t total =
        static_cast<size_t>(key_row_count_) * static_cast<size_t>(key_field_count_);
    if (copy_key_values && total > 0) {
      own_values_.assign(key_values, key_values + total);
      key_values_ = own_values_.data();
    } else {
      key_values_ = key_values;
    }
    for (size_t i = 0; i < key_fields_.size(); ++i) {
      if (i > 0) locate_fields_ += ';';
      locate_fields_ += key_fields_[i];
    }
    current_ = 0;
    while (current_ < key_row_count_ && !LocateKeyRow(current_)) ++current_;
  } catch (...) {
    t.Close();
    throw;
  }
}

bde::TTable& TBDETableCursor::Table() const { return Holder()->Table(); }

bool TBDETableCursor::LocateKeyRow(int32_t row) {
  ATLOR_ASSERT(row < key_row_count_, "Index out of bound");
  bde::TTable& t = Table();
  if (key_field_count_ == 0) return !t.Eof();
  if (key_field_count_ == 1) return t.Locate(locate_fields_, KeyValue(row, 0));
  std::vector<Value> values;
  values.reserve(static_cast<size_t>(key_field_count_));
  for (int32_t k = 0; k < key_field_count_; ++k) values.push_back(KeyValue(row, k));
  return t.Locate(locate_fields_, Value(std::move(values)));
}

bde::TField& TBDETableCursor::GetField(int32_t index) {
  ATLOR_ASSERT(index >= 0 && index < static_cast<int32_t>(selected_fields_.size()),
               "Index out of bound");
  return *selected_fields_[static_cast<size_t>(index)];
}

int32_t TBDETableCursor::GetFieldCount() { return static_cast<int32_t>(selected_fields_.size()); }

int32_t TBDETableCursor::GetFieldIndex(const std::string& name) {
  for (size_t i = 0; i < selected_fields_.size(); ++i)
    if (SameTextAscii(selected_fields_[i]->FieldName(), name)) return static_cast<int32_t>(i);
  return -1;
}

bool TBDETableCursor::GetEof() {
  bde::TTable& t = Table();
  if (!t.Active()) return true;
  const bool eof = key_field_count_ > 0 ? current_ >= key_row_count_ : t.Eof();
  if (eof) t.Close();
  return eof;
}

void TBDETableCursor::DoNext() {
  bde::TTable& t = Table();
  if (key_field_count_ == 0) {
    t.Next();
    return;
  }
  if (current_ >= key_row_count_) return;
  if (!t.Eof()) {
    t.Next();
    if (!t.Eof()) {
      bool same = true;
      for (int32_t k = 0; k < key_field_count_ && same; ++k)
        same = bde::SameValue(t.FieldByName(key_fields_[static_cast<size_t>(k)]).AsValue(),
                              KeyValue(current_, k));
      if (same) return;
    }
  }
  ++current_;
  while (current_ < key_row_count_ && !LocateKeyRow(current_)) ++current_;
}

}  // namespace atlor
