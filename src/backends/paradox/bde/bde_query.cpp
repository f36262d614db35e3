// The query dataset: parameters found in the text, and the statement run by the engine's SQL
// layer.

#include <cctype>

#include "backends/paradox/bde/bde_components.h"

#include "ardb/ardb_utils.h"
#include "backends/paradox/engine/px_database.h"
#include "backends/paradox/engine/px_sql.h"
#include "backends/paradox/engine/px_table.h"
#include "core/encoding.h"

namespace atlor::bde {

namespace {

bool IsNameChar(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || u >= 0x80;
}

}  // namespace

std::vector<std::string> TQuery::ParseParamNames(std::string_view text) {
  std::vector<std::string> names;
  char quote = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
      continue;
    }
    if (c != ':') continue;
    if (i + 1 < text.size() && text[i + 1] == ':') {  // "::" stands for a colon
      ++i;
      continue;
    }
    size_t end = i + 1;
    while (end < text.size() && IsNameChar(text[end])) ++end;
    if (end > i + 1) names.emplace_back(text.substr(i + 1, end - i - 1));
    i = end - 1;
  }
  return names;
}

TParam& TQuery::Params(int index) {
  if (index < 0 || index >= ParamCount()) throw EBdeError("Parameter index out of range");
  return params_[static_cast<size_t>(index)];
}

TParam* TQuery::FindParam(std::string_view name) {
  for (TParam& p : params_)
    if (SameTextAscii(p.Name(), name)) return &p;
  return nullptr;
}

void TQuery::AssignParams(const TQuery& other) { params_ = other.params_; }

}  // namespace atlor::bde

// ---------------------------------------------------------------------------------------------
// Running the text

namespace atlor::bde {

namespace px = atlor::pxengine;

struct TQueryStatement {
  px::SqlStatement statement;
  bool has_row = false;
};

namespace {

// The kind a parameter value takes for its declared type (Empty: as given).
ValueKind KindOfParam(TFieldType type) {
  switch (type) {
    case TFieldType::ftString:
    case TFieldType::ftFixedChar:
    case TFieldType::ftWideString:
    case TFieldType::ftMemo:
      return ValueKind::kString;
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftAutoInc:
      return ValueKind::kInteger;
    case TFieldType::ftBoolean:
      return ValueKind::kBoolean;
    case TFieldType::ftFloat:
      return ValueKind::kFloat;
    case TFieldType::ftCurrency:
      return ValueKind::kCurrency;
    case TFieldType::ftDate:
    case TFieldType::ftTime:
    case TFieldType::ftDateTime:
      return ValueKind::kDateTime;
    default:
      return ValueKind::kEmpty;
  }
}

// The field type of a computed column, from its first value.
TFieldType FieldTypeOfValue(const Value& v) {
  switch (v.Kind()) {
    case ValueKind::kBoolean:
      return TFieldType::ftBoolean;
    case ValueKind::kInteger:
      return TFieldType::ftInteger;
    case ValueKind::kInt64:
      return TFieldType::ftLargeint;
    case ValueKind::kFloat:
      return TFieldType::ftFloat;
    case ValueKind::kCurrency:
      return TFieldType::ftCurrency;
    case ValueKind::kDateTime:
      return TFieldType::ftDateTime;
    case ValueKind::kString:
      return TFieldType::ftString;
    case ValueKind::kBytes:
      return TFieldType::ftBlob;
    default:
      return TFieldType::ftUnknown;
  }
}

}  // namespace

std::string TQuery::LocalSqlText(const std::string& sql) {
  return DropOwnTableQualifiers(sql);
}

TQuery::TQuery() = default;

TQuery::~TQuery() {
  try {
    Close();
  } catch (...) {
  }
  UnPrepare();
}

void TQuery::SetSQL(const std::string& text) {
  Close();
  UnPrepare();
  sql_ = text;
  params_.clear();
  if (param_check_)
    for (const std::string& name : ParseParamNames(text)) params_.emplace_back(name);
}

void TQuery::Prepare() {
  if (Prepared()) return;
  TDatabase& db = LinkedDatabase();
  auto statement = std::make_unique<TQueryStatement>();
  statement->statement = db.Sql().Prepare(LocalSqlText(sql_));
  statement_ = std::move(statement);
  ++prepare_count_;
  AttachTo(db);
}

void TQuery::UnPrepare() {
  if (!statement_) return;
  Close();
  statement_.reset();
  DetachFromDatabase();
}

bool TQuery::Prepared() const { return statement_ != nullptr; }

void TQuery::Bind() {
  px::SqlStatement& stmt = statement_->statement;
  for (const TParam& param : params_) {
    Value value = param.AsValue();
    const ValueKind kind = KindOfParam(param.DataType());
    if (!value.IsNull() && kind != ValueKind::kEmpty && value.Kind() != kind) {
      try {
        value = value.ConvertTo(kind);
      } catch (const Exception&) {
        // Given as it is; the statement decides.
      }
    }
    const int index = stmt.ParameterIndex(param.Name());
    if (index < 0) throw EBdeError("Parameter '" + param.Name() + "' not found in the query");
    stmt.Bind(index, value);
  }
}

void TQuery::ExecSQL() {
  CheckInactive();
  const bool was_prepared = Prepared();
  Prepare();
  try {
    Bind();
    rows_affected_ = static_cast<int>(statement_->statement.Execute());
    statement_->statement.Reset();
  } catch (...) {
    if (statement_) statement_->statement.Reset();
    if (Attached() != nullptr) Attached()->NoteChange();
    if (!was_prepared) UnPrepare();
    throw;
  }
  Attached()->NoteChange();
  if (!was_prepared) UnPrepare();
}

void TQuery::InternalOpen() {
  Prepare();
  px::SqlStatement& stmt = statement_->statement;
  stmt.Reset();
  Bind();
  statement_->has_row = stmt.Step();
  px::Database& engine = Attached()->Engine();
  for (int i = 0; i < stmt.ColumnCount(); ++i) {
    TFieldType type = TFieldType::ftUnknown;
    int size = 0;
    bool required = false;
    if (const std::optional<px::FieldType> ft = stmt.ColumnFieldType(i)) {
      type = FieldTypeOfParadox(static_cast<uint8_t>(*ft));
      try {
        const px::Table& table = engine.OpenTable(stmt.ColumnTableName(i));
        const int f = table.FieldIndex(stmt.ColumnOriginName(i));
        if (f >= 0) {
          size = table.Field(f).size;
          required = table.Field(f).required;
        }
      } catch (const px::EPxError&) {
        // The size stays unknown.
      }
    } else if (statement_->has_row) {
      type = FieldTypeOfValue(stmt.ColumnValue(i));
    }
    fields_.push_back(std::make_unique<TField>(this, i, stmt.ColumnName(i), type, size, required));
  }
  rows_affected_ = 0;
}

void TQuery::InternalClose() {
  if (statement_) {
    statement_->has_row = false;
    statement_->statement.Reset();
  } else {
    DetachFromDatabase();
  }
}

bool TQuery::InternalEof() const { return !statement_ || !statement_->has_row; }

void TQuery::InternalNext() { statement_->has_row = statement_->statement.Step(); }

Value TQuery::FieldValue(int index) const {
  if (!Active() || !statement_ || !statement_->has_row) return Value::Null();
  return statement_->statement.ColumnValue(index);
}

void TQuery::DatabaseClosing() {
  Close();
  UnPrepare();
  DetachFromDatabase();
}

}  // namespace atlor::bde
