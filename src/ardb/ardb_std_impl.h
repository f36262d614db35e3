#pragma once

// A complete cursor over rows held in memory, for result sets that do not come from a query:
// the information result sets (column layouts in ardbs.h) and similar lists a back-end
// assembles itself. The back-end creates the cursor with its columns, appends the rows, and
// returns it:
//
//   IntfPtr<TInMemoryCursor> c(new TInMemoryCursor(this, 1, ArDbLiteralInfoFields));
//   c->AddRow({0, 128, false, Value::Null(), Value::Null(), Value::Null(), Value::Null()});
//   return IntfPtr<IArDbCursor>(c);

#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "ardb/ardb_utils.h"
#include "ardb/ardbs.h"
#include "core/value.h"

namespace atlor {

class TInMemoryCursor : public TArDbCursor {
 public:
  // Every column needs a name and a data type other than 0 (assertion failure "Assertion
  // failure" otherwise). `capacity` rows are reserved.
  TInMemoryCursor(TArDb* database, int32_t capacity, std::span<const TArDbFieldDef> columns);

  // Appends one row, one value per column, converted to the kind of the column's base type
  // (Boolean, Integer, Float, Currency, DateTime, String for String and Memo; other types keep
  // the value; Binary columns take only Null). Errors are assertion failures ("Invalid procedure
  // argument" for a wrong count, "Invalid argument value (index = n). " and the reason for a
  // value); a failed row is not counted.
  void AddRow(std::span<const Value> values);
  void AddRow(std::initializer_list<Value> values) {
    AddRow(std::span<const Value>(values.begin(), values.size()));
  }

  int32_t RowCount() const { return row_count_; }
  // Rows the cursor holds room for; grows by 10 rows when full.
  int32_t Capacity() const { return static_cast<int32_t>(rows_.size()); }
  const std::vector<TArDbFieldDef>& Columns() const { return columns_; }

 protected:
  bool GetIsNull(int32_t index) override;
  bool GetAsBoolean(int32_t index) override;
  int32_t GetAsInteger(int32_t index) override;
  double GetAsFloat(int32_t index) override;
  Currency GetAsCurrency(int32_t index) override;
  DateTime GetAsDateTime(int32_t index) override;
  std::string GetAsString(int32_t index) override;
  Value GetAsBlob(int32_t index) override;
  Value GetValue(int32_t index) override;
  int32_t GetFieldCount() override;
  // Exact name comparison (case counts).
  int32_t GetFieldIndex(const std::string& name) override;
  std::string GetFieldName(int32_t index) override;
  TArDbDataType GetFieldType(int32_t index) override;
  // String and Memo: the length of the current value as text; Binary: its number of bytes; -1
  // for any other type.
  int32_t GetFieldSize(int32_t index) override;
  bool GetEof() override;
  void DoNext() override;
  // Discards all rows.
  void DoClose() override;

 private:
  const Value& Current(int32_t index) const;

  std::vector<TArDbFieldDef> columns_;
  std::vector<Value> rows_;  // each row an Array of one value per column; size() is the capacity
  int32_t row_count_ = 0;
  int32_t current_ = 0;
};

}  // namespace atlor
