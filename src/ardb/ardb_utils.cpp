#include "ardb/ardb_utils.h"

#include <algorithm>

#include "core/encoding.h"
#include "core/platform.h"
#include "core/simple_params.h"
#include "core/xml.h"

namespace atlor {

namespace {

void ThrowClosed() { throw EArDbException(kArDbClosedText); }

template <class Interface, class Object>
int32_t AnswerInterface(Object* self, const Guid& iid, void** object) {
  if (iid == Interface::IID) {
    Interface* intf = self;
    intf->AddRef();
    *object = intf;
    return kResultOk;
  }
  *object = nullptr;
  return kResultNoInterface;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TArDb

// The description parameter set: attached to the root element of the open description, to
// nothing while the database is closed. The set keeps the parsed document alive.
struct TArDb::DescriptionState {
  IntfPtr<TSimpleParams> params;
  XmlNode root;
};

TArDb::TArDb() : description_(std::make_unique<DescriptionState>()) {
  description_->params = IntfPtr<TSimpleParams>(new TSimpleParams(true));
  description_->params->OnGetValue = [this](TSimpleParams&, const std::string& name, Value& value) {
    return GetDescriptionValue(name, value);
  };
}

TArDb::~TArDb() {
  // The set may outlive the database through its interface: cut the hook into this object.
  description_->params->OnGetValue = nullptr;
  description_->params->Attach(XmlNode());
  description_->root = XmlNode();
  description_->params.reset();
  // Every object holds a reference to its database, so normally none is left here; a remaining
  // one only forgets its database (this object is already going).
  const std::vector<TArDbObject*> objects = std::move(objects_);
  objects_.clear();
  for (TArDbObject* object : objects) {
    ATLOR_ASSERT(object != nullptr, "Invalid object type");
    object->database_ = nullptr;
  }
}

int32_t TArDb::QueryInterfaceImpl(const Guid& iid, void** object) {
  return AnswerInterface<IArDb>(this, iid, object);
}

void TArDb::CheckDatabaseOpen() {
  if (!GetActive()) ThrowClosed();
}

void TArDb::CheckTransactionMode() {
  const bool in_transaction = GetInTransaction();
  ATLOR_ASSERT(
      (in_transaction && transaction_depth_ > 0) || (!in_transaction && transaction_depth_ == 0),
      "Invalid transaction mode");
}

void TArDb::Register(TArDbObject* object) { objects_.push_back(object); }

void TArDb::Unregister(TArDbObject* object) {
  const auto it = std::find(objects_.begin(), objects_.end(), object);
  if (it != objects_.end()) objects_.erase(it);
}

void TArDb::CloseCursors() {
  const std::vector<TArDbObject*> snapshot = objects_;
  for (TArDbObject* object : snapshot) {
    // Closing one cursor may end the life of another: only those still registered are closed.
    if (std::find(objects_.begin(), objects_.end(), object) == objects_.end()) continue;
    if (auto* cursor = dynamic_cast<TArDbCursor*>(object)) cursor->Close();
  }
}

void TArDb::DetachObjects() {
  const std::vector<TArDbObject*> objects = std::move(objects_);
  objects_.clear();
  for (TArDbObject* object : objects) {
    ATLOR_ASSERT(object != nullptr, "Invalid object type");
    object->Detach();
  }
}

void TArDb::Open(const std::string& description) {
  // A text that is not well-formed fails here and leaves the database as it was.
  XmlDocument document = XmlDocument::Parse(description);
  Close();
  try {
    ATLOR_ASSERT(document.HasRoot(), "Error empty XML document");
    description_->root = document.Root();
    description_->params->Attach(description_->root);
    DoOpen();
    open_date_time_ = Now();
  } catch (...) {
    try {
      Close();
    } catch (...) {
      // The error of the opening is the one to report.
    }
    throw;
  }
}

void TArDb::Close() {
  // Detaching releases the objects' references to this database: keep it alive meanwhile.
  IntfPtr<TArDb> self_guard;
  if (RefCount() > 0) self_guard = IntfPtr<TArDb>(this);
  if (GetActive()) DoClose();
  description_->params->Attach(XmlNode());
  description_->root = XmlNode();
  DetachObjects();
  // A back-end's transaction does not survive the connection.
  transaction_depth_ = 0;
}

bool TArDb::Active() { return GetActive(); }

bool TArDb::InTransaction() {
  CheckDatabaseOpen();
  return GetInTransaction();
}

void TArDb::StartTransaction() {
  CheckDatabaseOpen();
  CheckTransactionMode();
  if (!GetInTransaction()) DoStartTransaction();
  ++transaction_depth_;
}

void TArDb::Commit() {
  CheckDatabaseOpen();
  CheckTransactionMode();
  if (!GetInTransaction()) throw EArDbException("Datatabase not in transaction mode");
  if (transaction_depth_ > 1) {
    --transaction_depth_;
    return;
  }
  // The depth drops only once the back-end committed, so a failed commit leaves the state whole.
  DoCommit();
  transaction_depth_ = 0;
  CloseCursors();
}

void TArDb::Rollback() {
  CheckDatabaseOpen();
  if (!GetInTransaction()) return;
  transaction_depth_ = 0;
  DoRollback();
  CloseCursors();
}

IntfPtr<IArDbSQLCommand> TArDb::CreateCommand(const std::string& sql,
                                              const TArDbDataType* param_types, int32_t param_count,
                                              bool prepared) {
  CheckDatabaseOpen();
  ATLOR_ASSERT(param_count >= 0 && (param_count == 0 || param_types != nullptr),
               "Assertion failure");
  IntfPtr<TArDbSQLCommand> command = CreateSQLCommand();
  ATLOR_ASSERT(command, "Object not initialized");
  command->CheckObjectOpen();
  try {
    command->sql_ = sql;
    command->prepared_ = prepared;
    command->param_types_.assign(param_types, param_types + param_count);
    command->Prepare();
  } catch (const Exception& e) {
    throw EArDbException("Запрос \"" + sql + "\". " + e.Message());
  }
  return IntfPtr<IArDbSQLCommand>(command);
}

IntfPtr<IArDbCursor> TArDb::OpenTable(const std::string& table_name, const std::string* fields,
                                      int32_t field_count, const std::string* key_fields,
                                      int32_t key_field_count, const Value* key_values,
                                      int32_t key_row_count, bool copy_key_values) {
  CheckDatabaseOpen();
  return DoOpenTable(table_name, fields, field_count, key_fields, key_field_count, key_values,
                     key_row_count, copy_key_values);
}

IntfPtr<IArDbCursor> TArDb::GetInfo(int32_t kind) {
  CheckDatabaseOpen();
  IntfPtr<IArDbCursor> cursor = DoGetInfo(kind);
  if (!cursor) throw EArDbException("Capability not supported");
  return cursor;
}

IntfPtr<IArDbTableDef> TArDb::GetTableDef(const std::string& table_name) {
  CheckDatabaseOpen();
  IntfPtr<TArDbTableDef> def = CreateTableDef();
  ATLOR_ASSERT(def, "Object not initialized");
  def->Load(table_name);
  return IntfPtr<IArDbTableDef>(def);
}

bool TArDb::TableExists(const std::string& table_name) {
  CheckDatabaseOpen();
  return DoTableExists(table_name);
}

void TArDb::DropTable(const std::string& table_name) {
  CheckDatabaseOpen();
  DoDropTable(table_name);
}

IntfPtr<ISimpleParams> TArDb::Description() {
  return IntfPtr<ISimpleParams>(description_->params.get());
}

bool TArDb::GetDescriptionValue(const std::string& name, Value& value) {
  value = Value::Null();
  if (!GetActive()) return false;
  const XmlNode& root = description_->root;
  if (name == "ArDb\\DriverName") {
    value = Value(root.Attribute("name"));
  } else if (name == "ArDb\\DriverCaption") {
    value = Value(root.Attribute("caption", root.Attribute("name")));
  } else if (name == "ArDb\\OpenDatetime") {
    value = Value(open_date_time_);
  } else if (name == "ArDb\\DriverLibrary") {
    value = Value(ModuleFileName());
  } else {
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// TArDbObject

TArDbObject::TArDbObject(TArDb* database) {
  ATLOR_ASSERT(database != nullptr, "Object not initialized");
  database_ = database;
  database_->AddRefImpl();
  database_->Register(this);
}

TArDbObject::~TArDbObject() {
  if (TArDb* database = database_) {
    database_ = nullptr;
    database->Unregister(this);
    database->ReleaseImpl();
  }
}

void TArDbObject::Detach() {
  if (TArDb* database = database_) {
    database_ = nullptr;
    database->ReleaseImpl();
  }
}

void TArDbObject::CheckObjectOpen() {
  if (database_ == nullptr || !database_->Active()) ThrowClosed();
}

// ---------------------------------------------------------------------------------------------
// TArDbTableDef

TArDbTableDef::TArDbTableDef(TArDb* database) : TArDbObject(database) {}

int32_t TArDbTableDef::QueryInterfaceImpl(const Guid& iid, void** object) {
  return AnswerInterface<IArDbTableDef>(this, iid, object);
}

TArDbFieldDef TArDbTableDef::GetFieldDef(int32_t index) {
  return FieldDefToRecord(working_.Fields[index]);
}

void TArDbTableDef::SetFieldDef(int32_t index, const TArDbFieldDef& def, bool update_indexes) {
  TFieldDef& field = working_.Fields[index];
  const std::string old_name = field.Name;
  RecordToFieldDef(field, def);
  if (!update_indexes || field.Name == old_name) return;
  for (int32_t i = 0; i < working_.Indexes.Count(); ++i) {
    std::vector<std::string>& names = working_.Indexes[i].Fields;
    const auto it = std::find_if(names.begin(), names.end(), [&](const std::string& n) {
      return SameName(n, old_name, NameCase::kIgnore);
    });
    if (it != names.end()) *it = field.Name;
  }
}

int32_t TArDbTableDef::AddFieldDef(const TArDbFieldDef& def) {
  auto field = std::make_unique<TFieldDef>();
  RecordToFieldDef(*field, def);
  return working_.Fields.Add(std::move(field));
}

void TArDbTableDef::DeleteFieldDef(int32_t index, bool update_indexes) {
  const std::string name = working_.Fields[index].Name;
  if (update_indexes) {
    for (int32_t i = working_.Indexes.Count() - 1; i >= 0; --i) {
      std::vector<std::string>& names = working_.Indexes[i].Fields;
      const auto it = std::find_if(names.begin(), names.end(), [&](const std::string& n) {
        return SameName(n, name, NameCase::kIgnore);
      });
      if (it != names.end()) names.erase(it);
      if (names.empty()) working_.Indexes.Delete(i);
    }
  }
  working_.Fields.Delete(index);
}

int32_t TArDbTableDef::IndexOfField(const std::string& name) {
  return FieldIndexByName(working_.Fields, name, NameCase::kIgnore);
}

void TArDbTableDef::MoveField(int32_t cur_index, int32_t new_index) {
  if (cur_index != new_index) working_.Fields.Move(cur_index, new_index);
}

int32_t TArDbTableDef::FieldCount() { return working_.Fields.Count(); }

TArDbIndexDef TArDbTableDef::GetIndexDef(int32_t index) {
  return IndexDefToRecord(working_.Indexes[index]);
}

void TArDbTableDef::SetIndexDef(int32_t index, const TArDbIndexDef& def) {
  RecordToIndexDef(working_.Indexes[index], def);
}

int32_t TArDbTableDef::AddIndexDef(const TArDbIndexDef& def) {
  auto index = std::make_unique<TIndexDef>();
  RecordToIndexDef(*index, def);
  return working_.Indexes.Add(std::move(index));
}

void TArDbTableDef::DeleteIndexDef(int32_t index) { working_.Indexes.Delete(index); }

int32_t TArDbTableDef::IndexOfIndex(const std::string& fields) {
  const std::vector<std::string> names = SplitNames(fields, ';');
  if (names.empty()) return -1;
  return IndexIndexByFields(working_.Indexes, names, NameCase::kIgnore, FieldsMatch::kAll);
}

int32_t TArDbTableDef::IndexCount() { return working_.Indexes.Count(); }

std::string TArDbTableDef::GetTableName() { return working_.Name; }

void TArDbTableDef::SetTableName(const std::string& name) { working_.Name = name; }

bool TArDbTableDef::Modified() {
  return !CompareTableDefs(working_, loaded_, NameCase::kSensitive).empty();
}

void TArDbTableDef::Load(const std::string& table_name) {
  CheckObjectOpen();
  ClearTableDef(working_);
  ClearTableDef(loaded_);
  if (TrimText(table_name).empty()) return;
  working_.Name = table_name;
  DoLoad(table_name, working_);
  AssignTableDef(loaded_, working_);
}

void TArDbTableDef::ApplyChanges() {
  CheckObjectOpen();
  if (Database()->InTransaction()) throw EArDbException("DDL transactions not supported");
  if (!Modified()) return;
  // A blank loaded name is a definition that was never read from a table: nothing to alter.
  if (!TrimText(loaded_.Name).empty() && Database()->TableExists(loaded_.Name))
    DoAlterTable(loaded_, working_);
  else
    DoCreateTable(working_.Name, working_, true);
  const std::string name = working_.Name;
  Load(name);
}

void TArDbTableDef::CancelChanges() {
  CheckObjectOpen();
  const std::string name = loaded_.Name;
  Load(name);
}

// ---------------------------------------------------------------------------------------------
// TArDbSQLCommand

TArDbSQLCommand::TArDbSQLCommand(TArDb* database) : TArDbObject(database) {}

int32_t TArDbSQLCommand::QueryInterfaceImpl(const Guid& iid, void** object) {
  return AnswerInterface<IArDbSQLCommand>(this, iid, object);
}

IntfPtr<IArDbCursor> TArDbSQLCommand::Execute(const Value* params, int32_t count) {
  CheckObjectOpen();
  if (count < 0 || static_cast<size_t>(count) != param_types_.size())
    throw EArDbException(
        "Число параметров в SQL запросе не соответствует числу переданных параметров");
  ATLOR_ASSERT(count == 0 || params != nullptr, "Assertion failure");
  for (int32_t n = 0; n < count; ++n) {
    const Value& value = params[n];
    if (value.IsEmpty()) throw EArDbException("Не задан " + std::to_string(n + 1) + " параметр");
    if (!value.IsNull() && BaseDataType(param_types_[static_cast<size_t>(n)]) == dtBinary &&
        value.Kind() != ValueKind::kBytes)
      throw EArDbException(
          "Blob должен передаваться в виде одномерного массива байт, либо быть равным Null");
  }
  try {
    return DoExecute(params, count, rows_affected_);
  } catch (const Exception& e) {
    throw EArDbException("Запрос \"" + sql_ + "\".\n\rПараметры:\n\r" +
                         ArDbParamsListing(param_types_, params, count) + "\n\r Ошибка: \"" +
                         e.Message() + "\"");
  }
}

int32_t TArDbSQLCommand::RowsAffected() {
  CheckObjectOpen();
  return rows_affected_;
}

// ---------------------------------------------------------------------------------------------
// TArDbCursor

TArDbCursor::TArDbCursor(TArDb* database) : TArDbObject(database) {}

int32_t TArDbCursor::QueryInterfaceImpl(const Guid& iid, void** object) {
  return AnswerInterface<IArDbCursor>(this, iid, object);
}

void TArDbCursor::CheckNotEof() {
  if (GetEof()) throw EArDbException(kArDbCursorClosedText);
}

int32_t TArDbCursor::ResolveField(const Value& field) {
  if (field.IsEmptyOrNull()) throw EArDbException("Не верный параметр");
  int64_t index = -1;
  if (field.IsIntegerKind())
    index = field.ToInt64();
  else if (field.Kind() == ValueKind::kString)
    index = GetFieldIndex(field.StringRef());
  if (index < 0 || index >= GetFieldCount())
    throw EArDbException("Не найдено поле \"" + ValueText(field, 0) + "\"");
  return static_cast<int32_t>(index);
}

bool TArDbCursor::IsNull(const Value& field) {
  CheckObjectOpen();
  CheckNotEof();
  return GetIsNull(ResolveField(field));
}

bool TArDbCursor::AsBoolean(const Value& field, bool default_value) {
  CheckObjectOpen();
  CheckNotEof();
  const int32_t index = ResolveField(field);
  return GetIsNull(index) ? default_value : GetAsBoolean(index);
}

int32_t TArDbCursor::AsInteger(const Value& field, int32_t default_value) {
  CheckObjectOpen();
  CheckNotEof();
  const int32_t index = ResolveField(field);
  return GetIsNull(index) ? default_value : GetAsInteger(index);
}

double TArDbCursor::AsFloat(const Value& field, double default_value) {
  CheckObjectOpen();
  CheckNotEof();
  const int32_t index = ResolveField(field);
  return GetIsNull(index) ? default_value : GetAsFloat(index);
}

Currency TArDbCursor::AsCurrency(const Value& field, Currency default_value) {
  CheckObjectOpen();
  CheckNotEof();
  const int32_t index = ResolveField(field);
  return GetIsNull(index) ? default_value : GetAsCurrency(index);
}

DateTime TArDbCursor::AsDateTime(const Value& field, DateTime default_value) {
  CheckObjectOpen();
  CheckNotEof();
  const int32_t index = ResolveField(field);
  return GetIsNull(index) ? default_value : GetAsDateTime(index);
}

std::string TArDbCursor::AsString(const Value& field, const std::string& default_value) {
  CheckObjectOpen();
  CheckNotEof();
  const int32_t index = ResolveField(field);
  return GetIsNull(index) ? default_value : GetAsString(index);
}

Value TArDbCursor::AsBlob(const Value& field) {
  CheckObjectOpen();
  CheckNotEof();
  Value value = GetAsBlob(ResolveField(field));
  ATLOR_ASSERT(value.IsNull() || value.Kind() == ValueKind::kBytes,
               "Blob field must return array of byte");
  return value;
}

Value TArDbCursor::AsVariant(const Value& field) {
  CheckObjectOpen();
  CheckNotEof();
  const int32_t index = ResolveField(field);
  if (GetIsNull(index)) return Value::Null();
  Value value;
  switch (BaseDataType(GetFieldType(index))) {
    case dtBoolean:
      value = Value(GetAsBoolean(index));
      break;
    case dtInteger:
      value = Value(GetAsInteger(index));
      break;
    case dtFloat:
      value = Value(GetAsFloat(index));
      break;
    case dtCurrency:
      value = Value(GetAsCurrency(index));
      break;
    case dtDateTime:
      value = Value(GetAsDateTime(index));
      break;
    case dtString:
    case dtMemo:
      value = Value(GetAsString(index));
      break;
    case dtBinary:
      value = GetAsBlob(index);
      break;
    default:
      value = GetValue(index);
      break;
  }
  ATLOR_ASSERT(!value.IsEmpty(), "Cursor return unassigned value");
  return value;
}

std::string TArDbCursor::FieldName(int32_t index) {
  CheckObjectOpen();
  return GetFieldName(index);
}

TArDbDataType TArDbCursor::FieldType(const Value& field) {
  CheckObjectOpen();
  return GetFieldType(ResolveField(field));
}

int32_t TArDbCursor::FieldSize(const Value& field) {
  CheckObjectOpen();
  CheckNotEof();
  return GetFieldSize(ResolveField(field));
}

int32_t TArDbCursor::FieldIndex(const std::string& name) {
  CheckObjectOpen();
  return GetFieldIndex(name);
}

int32_t TArDbCursor::FieldCount() {
  CheckObjectOpen();
  return GetFieldCount();
}

void TArDbCursor::Next() {
  CheckObjectOpen();
  DoNext();
}

bool TArDbCursor::Eof() { return GetEof(); }

void TArDbCursor::Close() {
  if (!GetEof()) DoClose();
}

// ---------------------------------------------------------------------------------------------
// Helpers

std::string ModuleFileName() {
  // The address of a function of this library: a driver library reports its own file.
  return ModuleFileNameOf(reinterpret_cast<const void*>(&ModuleFileName));
}

std::string TranslateQuotes(std::string_view text, std::string_view from_chars,
                            std::span<const std::string> to_texts) {
  std::u32string from;
  for (size_t pos = 0; pos < from_chars.size();) from += NextCodePoint(from_chars, pos);
  ATLOR_ASSERT(from.size() == to_texts.size(), "Invalid parametrs");
  std::string out;
  out.reserve(text.size());
  char32_t quote = 0;  // the quote character of the open quoted string, 0 outside
  for (size_t pos = 0; pos < text.size();) {
    const size_t start = pos;
    const char32_t c = NextCodePoint(text, pos);
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == U'\'' || c == U'"') {
      quote = c;
    } else if (const size_t at = from.find(c); at != std::u32string::npos) {
      out += to_texts[at];
      continue;
    }
    out.append(text.substr(start, pos - start));
  }
  return out;
}

std::string ValueText(const Value& value, int32_t max_len) {
  std::string text;
  if (value.IsNull()) {
    text.clear();
  } else {
    try {
      text = value.ToString();
    } catch (const EVariantError&) {
      text = "(" + value.KindName() + ")";
    }
  }
  if (max_len > 0 && Utf8Length(text) > static_cast<size_t>(max_len))
    return Utf8Prefix(text, static_cast<size_t>(max_len)) + "...";
  return text;
}

namespace {

const char* ParamTypeWord(TArDbDataType type) {
  switch (BaseDataType(type)) {
    case dtBoolean:
      return "Boolean";
    case dtInteger:
      return "Integer";
    case dtFloat:
      return "Float";
    case dtCurrency:
      return "Currency";
    case dtDateTime:
      return "DateTime";
    case dtString:
      return "String";
    case dtMemo:
      return "Memo";
    case dtBinary:
      return "BLOB";
    default:
      return "Unknown";
  }
}

}  // namespace

std::string ArDbParamsListing(std::span<const TArDbDataType> param_types, const Value* params,
                              int32_t count) {
  if (params == nullptr) return "(Empty Values list)";
  std::string listing;
  for (size_t i = 0; i < param_types.size(); ++i) {
    const Value value = static_cast<int64_t>(i) < count ? params[i] : Value();
    const TArDbDataType base = BaseDataType(param_types[i]);
    std::string line = std::string(ParamTypeWord(base)) + "(" + value.KindName() + ")";
    if (value.IsNull()) {
      line += "=Null";
    } else if (value.IsEmpty()) {
      line += "=Empty";
    } else if (base == dtString) {
      line += "[" + std::to_string(Utf8Length(ValueText(value, 0))) + "]=\"" +
              ValueText(value, 100) + "\"";
    } else if (base == dtMemo) {
      line += "[" + std::to_string(Utf8Length(ValueText(value, 0))) + "]";
    } else if (base == dtBinary) {
      const size_t size = value.Kind() == ValueKind::kBytes ? value.BytesRef().size()
                                                            : Utf8Length(ValueText(value, 0));
      line += "[" + std::to_string(size) + "]";
    } else {
      line += "=" + ValueText(value, 0);
    }
    listing += "\r\n" + line;
  }
  return listing;
}

namespace {

bool IsSqlWordChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

}  // namespace

std::string DropOwnTableQualifiers(const std::string& sql) {
  const size_t n = sql.size();
  size_t pos = 0;
  auto skip_blanks = [&]() {
    while (pos < n && static_cast<unsigned char>(sql[pos]) <= ' ') ++pos;
  };
  auto read_word = [&]() {
    const size_t start = pos;
    while (pos < n && IsSqlWordChar(sql[pos])) ++pos;
    return std::string_view(sql).substr(start, pos - start);
  };
  // A name: [name], "name", `name` or a bare word; its text without the quotes.
  auto read_name = [&](std::string& name) {
    if (pos >= n) return false;
    const char open = sql[pos];
    const char close = open == '[' ? ']' : open;
    if (open == '[' || open == '"' || open == '`') {
      const size_t end = sql.find(close, pos + 1);
      if (end == std::string::npos) return false;
      name = sql.substr(pos + 1, end - pos - 1);
      pos = end + 1;
      return true;
    }
    name = std::string(read_word());
    return !name.empty();
  };
  // INSERT [OR <action>] INTO, REPLACE INTO, UPDATE [OR <action>]
  skip_blanks();
  const std::string_view verb = read_word();
  const bool update = SameTextAscii(verb, "UPDATE");
  if (!update && !SameTextAscii(verb, "INSERT") && !SameTextAscii(verb, "REPLACE")) return sql;
  skip_blanks();
  size_t mark = pos;
  std::string_view word = read_word();
  if (SameTextAscii(verb, "INSERT") && SameTextAscii(word, "OR")) {
    skip_blanks();
    read_word();
    skip_blanks();
    mark = pos;
    word = read_word();
  }
  if (update) {
    if (SameTextAscii(word, "OR")) {
      skip_blanks();
      read_word();
      skip_blanks();
    } else {
      pos = mark;
    }
  } else {
    if (!SameTextAscii(word, "INTO")) return sql;
    skip_blanks();
  }
  // [schema.]table
  std::string table;
  if (!read_name(table) || table.empty()) return sql;
  if (pos < n && sql[pos] == '.') {
    ++pos;
    if (!read_name(table) || table.empty()) return sql;
  }

  std::string out = sql.substr(0, pos);
  bool changed = false;
  while (pos < n) {
    const char c = sql[pos];
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      // A quoted text or name is copied whole; a name that is the table's, followed by a dot,
      // is dropped with the dot.
      const size_t start = pos;
      const char close = c == '[' ? ']' : c;
      const size_t end = sql.find(close, pos + 1);
      pos = end == std::string::npos ? n : end + 1;
      if (c != '\'' && end != std::string::npos && pos < n && sql[pos] == '.' &&
          SameTextAscii(std::string_view(sql).substr(start + 1, end - start - 1), table)) {
        ++pos;
        changed = true;
        continue;
      }
      out.append(sql, start, pos - start);
    } else if (IsSqlWordChar(c)) {
      const size_t start = pos;
      const std::string_view word = read_word();
      if (pos < n && sql[pos] == '.' && SameTextAscii(word, table) &&
          (start == 0 || sql[start - 1] != '.')) {
        ++pos;
        changed = true;
        continue;
      }
      out.append(word);
    } else {
      out += c;
      ++pos;
    }
  }
  return changed ? out : sql;
}

}  // namespace atlor
