#include "ardb/ardb_std_impl.h"

#include "core/encoding.h"
#include "core/exception.h"

namespace atlor {

namespace {

// Result sets are small: they grow by this many rows at a time.
constexpr int32_t kRowsGrowth = 10;

Value StoredValue(const Value& value, TArDbDataType type) {
  if (value.IsEmpty()) ATLOR_FAIL("Unknown value");
  if (value.IsNull()) return value;
  switch (BaseDataType(type)) {
    case dtBoolean:
      return Value(value.ToBoolean());
    case dtInteger:
      return Value(value.ToInteger());
    case dtFloat:
      return Value(value.ToFloat());
    case dtCurrency:
      return Value(value.ToCurrency());
    case dtDateTime:
      return Value(value.ToDateTime());
    case dtString:
    case dtMemo:
      return Value(value.ToString());
    case dtBinary:
      throw EArDbException("BLOB field not supported");
    default:
      return value;
  }
}

}  // namespace

TInMemoryCursor::TInMemoryCursor(TArDb* database, int32_t capacity,
                                 std::span<const TArDbFieldDef> columns)
    : TArDbCursor(database), columns_(columns.begin(), columns.end()) {
  ATLOR_ASSERT(capacity >= 0, "Assertion failure");
  for (const TArDbFieldDef& column : columns_)
    ATLOR_ASSERT(!column.Name.empty() && column.DataType != dtUnknown, "Assertion failure");
  rows_.resize(static_cast<size_t>(capacity));
}

void TInMemoryCursor::AddRow(std::span<const Value> values) {
  ATLOR_ASSERT(values.size() == columns_.size(), "Invalid procedure argument");
  if (row_count_ == Capacity()) rows_.resize(rows_.size() + kRowsGrowth);
  std::vector<Value> row(columns_.size());
  for (size_t n = 0; n < values.size(); ++n) {
    std::string reason;
    try {
      row[n] = StoredValue(values[n], columns_[n].DataType);
      continue;
    } catch (const EAssertionFailed& e) {
      reason = e.Text();
    } catch (const Exception& e) {
      reason = e.Message();
    }
    ATLOR_FAIL("Invalid argument value (index = " + std::to_string(n) + "). " + reason);
  }
  rows_[static_cast<size_t>(row_count_)] = Value(std::move(row));
  ++row_count_;
}

const Value& TInMemoryCursor::Current(int32_t index) const {
  return rows_[static_cast<size_t>(current_)].ArrayRef()[static_cast<size_t>(index)];
}

bool TInMemoryCursor::GetIsNull(int32_t index) { return Current(index).IsNull(); }
bool TInMemoryCursor::GetAsBoolean(int32_t index) { return Current(index).ToBoolean(); }
int32_t TInMemoryCursor::GetAsInteger(int32_t index) { return Current(index).ToInteger(); }
double TInMemoryCursor::GetAsFloat(int32_t index) { return Current(index).ToFloat(); }
Currency TInMemoryCursor::GetAsCurrency(int32_t index) { return Current(index).ToCurrency(); }
DateTime TInMemoryCursor::GetAsDateTime(int32_t index) { return Current(index).ToDateTime(); }
std::string TInMemoryCursor::GetAsString(int32_t index) { return Current(index).ToString(); }
Value TInMemoryCursor::GetAsBlob(int32_t index) { return Current(index); }
Value TInMemoryCursor::GetValue(int32_t index) { return Current(index); }

int32_t TInMemoryCursor::GetFieldCount() { return static_cast<int32_t>(columns_.size()); }

int32_t TInMemoryCursor::GetFieldIndex(const std::string& name) {
  for (size_t i = 0; i < columns_.size(); ++i)
    if (columns_[i].Name == name) return static_cast<int32_t>(i);
  return -1;
}

std::string TInMemoryCursor::GetFieldName(int32_t index) {
  if (index < 0 || index >= GetFieldCount())
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return columns_[static_cast<size_t>(index)].Name;
}

TArDbDataType TInMemoryCursor::GetFieldType(int32_t index) {
  return columns_[static_cast<size_t>(index)].DataType;
}

int32_t TInMemoryCursor::GetFieldSize(int32_t index) {
  switch (BaseDataType(columns_[static_cast<size_t>(index)].DataType)) {
    case dtString:
    case dtMemo:
      return static_cast<int32_t>(Utf8Length(Current(index).ToString()));
    case dtBinary:
      return static_cast<int32_t>(Current(index).ToBytes().size());
    default:
      return -1;
  }
}

bool TInMemoryCursor::GetEof() { return current_ >= row_count_; }

void TInMemoryCursor::DoNext() { ++current_; }

void TInMemoryCursor::DoClose() {
  rows_.clear();
  rows_.shrink_to_fit();
  row_count_ = 0;
  current_ = 0;
}

}  // namespace atlor
