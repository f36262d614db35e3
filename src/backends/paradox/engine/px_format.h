#pragma once

// Binary layout of the Paradox table family files, internal to the engine.
//
// .DB, .PX, .Xnn/.Ynn, .XGn/.YGn share one header layout (all little-endian):
//   00 u16 record size           02 u16 header size            04 u8 file type (kFileType...)
//   05 u8 block size in KiB      06 u32 record count           0A u16 blocks in use
//   0C u16 blocks in file        0E u16 first block            10 u16 last block
//   12 u16 change counter        15 u8 .X: indexed field number
//   1E u16 index root block      20 u8 index levels            21 u16 field count
//   23 u16 key field count       25 u32 encryption (<= 3.5)    29 u8 sort-order byte
//   2C u8 .PX: index stamp       2D u8 change count 1          2E u8 change count 2
//   39 u8 version (03 3.0, 04 3.5, 05-09 4, 0A-0B 5, 0C 7)     3E 1F 0F (plain) / 00 00
//   49 u32 last auto-increment   51 u16 real header size       55 u8 .X direction
// Level >= 4 .DB and .X files add a data header at 58: u16 version twice, 5C u32 encryption,
// 60 u32 update time, 64 u16 fields + 1, 66 u16 (field-number list offset - 58), 6A u16 code
// page, 6C 01 01, 6E u16 (real header size - 5E), 70 u16 change count. The variable part
// (at 78, or 58 without data header) holds: (type, size) per field, a pointer, one pointer per
// field (.DB, .X), the table name (79 bytes; 261 at level 7), NUL-terminated field names
// (.DB, .X), then from level 4 one u16 number per field and the sort-order name (.XGn: then the
// index name).
//
// Data block k (1-based) starts at header size + (k - 1) * block size: u16 next block, u16
// previous block, s16 (records - 1) * record size, then the records. Field values are stored
// big-endian with the top bit flipped, all zero bytes meaning blank.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "backends/paradox/engine/px_types.h"
#include "core/value.h"

namespace atlor::pxengine::format {

constexpr uint8_t kFileTypeKeyedDb = 0;
constexpr uint8_t kFileTypePrimaryIndex = 1;
constexpr uint8_t kFileTypeUnkeyedDb = 2;
constexpr uint8_t kFileTypeSecondaryX = 3;   // not maintained
constexpr uint8_t kFileTypeSecondaryY = 4;
constexpr uint8_t kFileTypeSecondaryXInc = 5;
constexpr uint8_t kFileTypeCompositeX = 6;   // not maintained
constexpr uint8_t kFileTypeCompositeY = 7;
constexpr uint8_t kFileTypeCompositeXInc = 8;

constexpr int kBlockHeaderSize = 6;
constexpr int kBlobTailSize = 10;
constexpr int kMbChunk = 4096;
constexpr uint32_t kEncryptionMarker = 0xFF00FF00;
// Days from 0001-01-01 (Paradox day 1) to 1899-12-30 (day 0 of DateTime), plus one.
constexpr int64_t kDateDelta = 693594;
constexpr double kMsPerDay = 86400000.0;

// Little-endian helpers over raw memory (callers check the bounds).
inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A bounds-checked read cursor over the bytes of one file. Every read outside the data raises
// EPxCorrupt naming the file, so no decoder ever reads past what the file holds.
class ByteReader {
 public:
  ByteReader(const std::string& file, const uint8_t* data, size_t size)
      : file_(file), data_(data), size_(size) {}

  size_t Size() const { return size_; }
  size_t Pos() const { return pos_; }
  void Seek(size_t pos, const char* what);
  // The span [pos, pos + count) of the data; raises when it is not wholly inside.
  const uint8_t* Span(size_t pos, size_t count, const char* what) const;
  uint8_t U8At(size_t pos, const char* what) const { return *Span(pos, 1, what); }
  uint16_t U16At(size_t pos, const char* what) const { return GetU16(Span(pos, 2, what)); }
  uint32_t U32At(size_t pos, const char* what) const { return GetU32(Span(pos, 4, what)); }
  const uint8_t* Take(size_t count, const char* what);
  uint8_t U8(const char* what) { return *Take(1, what); }
  uint16_t U16(const char* what) { return GetU16(Take(2, what)); }
  uint32_t U32(const char* what) { return GetU32(Take(4, what)); }
  // A NUL-terminated string starting at the cursor (the NUL is consumed).
  std::string CString(const char* what);
  [[noreturn]] void Fail(const std::string& detail) const;
  const std::string& File() const { return file_; }

 private:
  std::string file_;
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Text of a table in its code page. Supports 1251, 866, 1252, 850 and 437.
class TextCodec {
 public:
  explicit TextCodec(int code_page = 1251);
  static bool Supports(int code_page);
  int CodePage() const { return code_page_; }
  std::string Decode(std::string_view bytes) const;
  // Raises EPxError naming `what` when a character has no byte in the code page.
  std::string Encode(std::string_view utf8, const std::string& what) const;

 private:
  int code_page_;
};

int LevelFromVersionByte(uint8_t version);  // 3, 35, 4, 5, 7; 0 when unknown
uint8_t VersionByteForLevel(int level);
uint16_t DataHeaderVersion(int level);
bool HasDataHeader(int level, uint8_t file_type);

struct FieldSpec {
  uint8_t type = 0;
  uint8_t size = 0;  // as stored in the header (BCD: decimals)
};

// A parsed file header.
struct FileHeader {
  uint16_t record_size = 0;
  uint16_t header_size = 0;
  uint8_t file_type = 0;
  uint8_t block_kib = 0;
  uint32_t record_count = 0;
  uint16_t blocks_used = 0;
  uint16_t file_blocks = 0;
  uint16_t first_block = 0;
  uint16_t last_block = 0;
  uint16_t change_counter = 0;
  uint8_t index_field = 0;
  uint16_t root_block = 0;
  uint8_t index_levels = 0;
  uint16_t field_count = 0;
  uint16_t key_field_count = 0;
  uint32_t encryption = 0;  // checksum of the password, 0 when plain
  uint8_t sort_order = 0;
  uint8_t index_stamp = 0;  // byte 2C
  uint8_t change_count1 = 0;
  uint8_t change_count2 = 0;
  uint8_t version_byte = 0;
  uint32_t auto_increment = 0;
  uint8_t direction = 0;    // byte 55 (.X level 7)
  int level = 0;
  int code_page = 0;        // 0 when the header has none
  uint32_t update_time = 0;
  std::vector<FieldSpec> fields;
  std::string table_name;                // raw bytes
  std::vector<std::string> field_names;  // raw code-page bytes
  std::string sort_order_name;
  std::string index_name;  // .XGn only

  int BlockSize() const { return block_kib * 1024; }
  bool IsIndexFile() const { return file_type == kFileTypePrimaryIndex || file_type == kFileTypeSecondaryY || file_type == kFileTypeCompositeY; }
};

// Parses and checks the header; raises EPxCorrupt naming `file` when it is damaged or its sizes
// do not fit the file.
FileHeader ParseHeader(const std::string& file, const uint8_t* data, size_t size);
// The same for the first `size` bytes of a file of `file_size` bytes (at least the header).
FileHeader ParseHeader(const std::string& file, const uint8_t* data, size_t size, uint64_t file_size);

// Builds a header of `header_size` bytes (0: 0x800, or 0x1000 when the variable part does not
// fit). Field names are raw code-page bytes.
std::vector<uint8_t> BuildHeader(const FileHeader& h);

// Stored size of a field from its header entry (BCD: 17).
int StoredSize(uint8_t type, uint8_t size);

// Field values <-> stored bytes. `size` is the stored size of the field.
Value DecodeField(FieldType type, const uint8_t* p, int size, const TextCodec& codec);
// Writes the value into p[0..size); raises EPxError naming the field on a value that does not
// fit (text too long, number out of range, wrong kind). Not for BLOB types.
void EncodeField(FieldType type, const Value& value, uint8_t* p, int size, const TextCodec& codec,
                 const std::string& field_name);
bool IsBlank(const uint8_t* p, int size);

// The 10-byte tail of a BLOB field.
struct BlobTail {
  uint32_t offset = 0;  // MB offset, low byte 0xFF for a single block, else the slot index
  uint32_t length = 0;
  uint16_t mod = 0;
};
BlobTail ReadBlobTail(const uint8_t* field, int stored_size);
void WriteBlobTail(uint8_t* field, int stored_size, const BlobTail& tail);

}  // namespace atlor::pxengine::format
