#pragma once

// Public types of the Paradox table engine: field and index definitions, table properties and
// the engine's errors. See px_database.h for the engine's entry point.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/exception.h"

namespace atlor::pxengine {

// Field type codes as stored in the header's field list (byte "fType").
enum class FieldType : uint8_t {
  kAlpha = 0x01,      // "A": code-page text, 1..255 bytes
  kDate = 0x02,       // "D"
  kShort = 0x03,      // "S": 16-bit integer
  kLong = 0x04,       // "I": 32-bit integer (level 5)
  kMoney = 0x05,      // "$"
  kNumber = 0x06,     // "N": double
  kLogical = 0x09,    // "L" (level 5)
  kMemo = 0x0C,       // "M": text BLOB (level 4)
  kBinary = 0x0D,     // "B": binary BLOB (level 4)
  kFmtMemo = 0x0E,    // "F": formatted memo BLOB
  kOle = 0x0F,        // "O"
  kGraphic = 0x10,    // "G"
  kTime = 0x14,       // "T" (level 5)
  kTimestamp = 0x15,  // "@" (level 5)
  kAutoInc = 0x16,    // "+" (level 5)
  kBcd = 0x17,        // "#": 17 bytes (level 5)
  kBytes = 0x18,      // "Y": raw bytes (level 5)
};

bool IsKnownFieldType(uint8_t code);
bool IsBlobType(FieldType type);
// "Alpha", "Short", "Long integer", "Number", "Money", "Logical", "Date", "Time", "Timestamp",
// "Memo", "Binary", "Formatted memo", "OLE", "Graphic", "Autoincrement", "BCD", "Bytes".
const char* FieldTypeName(FieldType type);
// Lowest table level (30, 40, 50) that can hold the type.
int MinimumLevel(FieldType type);

// One field of a table.
//  size: Alpha and Bytes: the length in bytes (1..255); BLOB types: the leader length, the part
//  of the value kept in the record (Memo and Formatted memo 1..240, the others 0..240); BCD: the
//  number of decimals (0..32); other types: 0 (their size is fixed and implied).
struct FieldDef {
  std::string name;  // at most 25 characters
  FieldType type = FieldType::kAlpha;
  int size = 0;
  bool required = false;  // recorded in the table's .VAL file

  // Bytes the field takes in a record (BLOBs: leader + 10).
  int StoredSize() const;
  friend bool operator==(const FieldDef&, const FieldDef&) = default;
};

// An index. The primary index is the table's key: its fields are the first fields of the table,
// in order. Secondary indexes are kept in .Xnn/.Ynn files (one field, named after the field) or
// in .XGn/.YGn files (several fields, or a name of its own).
struct IndexDef {
  std::string name;                 // primary: empty; single-field secondary: the field's name
  std::vector<std::string> fields;  // field names
  bool primary = false;
  bool unique = false;              // primary indexes are always unique
  bool descending = false;
  bool case_insensitive = false;
  friend bool operator==(const IndexDef&, const IndexDef&) = default;
};

// Physical properties of a table family.
struct TableFormat {
  int level = 70;             // ten times the version: 30 (3.0), 35 (3.5), 40, 50 or 70
  int block_size = 4096;      // bytes per data block: 1024..4096 (16384, 32768 at level 7)
  int code_page = 1251;       // code page of the texts
  uint8_t sort_order = 0x8F;  // header byte 0x29
  std::string sort_order_name = "ancyrr";
  friend bool operator==(const TableFormat&, const TableFormat&) = default;
};

// Everything the header files of a table say about it (read without loading its records).
struct TableInfo {
  std::string name;  // table name as in the folder (file name without extension)
  TableFormat format;
  std::vector<FieldDef> fields;
  std::vector<IndexDef> indexes;  // the primary index first (when keyed)
  int key_field_count = 0;
  bool encrypted = false;
  uint32_t record_count = 0;
  uint32_t auto_increment = 0;  // last value issued
};

// Errors of the engine. The message is meant for the user and names the table or file.
class EPxError : public Exception {
 public:
  using Exception::Exception;
};

// A file of a table family is damaged, truncated or contradicts itself. Nothing is written over
// such a file.
class EPxCorrupt : public EPxError {
 public:
  EPxCorrupt(const std::string& file, const std::string& detail);
  const std::string& File() const { return file_; }

 private:
  std::string file_;
};

// An operating-system call on a file failed (open, read, write, sync, rename ...).
class EPxIoError : public EPxError {
 public:
  using EPxError::EPxError;
};

// A table is encrypted and no password given fits it.
class EPxPassword : public EPxError {
 public:
  using EPxError::EPxError;
};

}  // namespace atlor::pxengine
