#include "backends/paradox/engine/px_format.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/encoding.h"

namespace atlor::pxengine {

bool IsKnownFieldType(uint8_t code) {
  switch (code) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06: case 0x09: case 0x0C:
    case 0x0D: case 0x0E: case 0x0F: case 0x10: case 0x14: case 0x15: case 0x16: case 0x17:
    case 0x18:
      return true;
    default:
      return false;
  }
}

bool IsBlobType(FieldType type) {
  return type == FieldType::kMemo || type == FieldType::kBinary || type == FieldType::kFmtMemo ||
         type == FieldType::kOle || type == FieldType::kGraphic;
}

const char* FieldTypeName(FieldType type) {
  switch (type) {
    case FieldType::kAlpha: return "Alpha";
    case FieldType::kDate: return "Date";
    case FieldType::kShort: return "Short";
    case FieldType::kLong: return "Long integer";
    case FieldType::kMoney: return "Money";
    case FieldType::kNumber: return "Number";
    case FieldType::kLogical: return "Logical";
    case FieldType::kMemo: return "Memo";
    case FieldType::kBinary: return "Binary";
    case FieldType::kFmtMemo: return "Formatted memo";
    case FieldType::kOle: return "OLE";
    case FieldType::kGraphic: return "Graphic";
    case FieldType::kTime: return "Time";
    case FieldType::kTimestamp: return "Timestamp";
    case FieldType::kAutoInc: return "Autoincrement";
    case FieldType::kBcd: return "BCD";
    case FieldType::kBytes: return "Bytes";
  }
  return "Unknown";
}

int MinimumLevel(FieldType type) {
  switch (type) {
    case FieldType::kAlpha: case FieldType::kDate: case FieldType::kShort:
    case FieldType::kMoney: case FieldType::kNumber:
      return 30;
    case FieldType::kMemo: case FieldType::kBinary: case FieldType::kFmtMemo:
    case FieldType::kOle: case FieldType::kGraphic:
      return 40;
    default:
      return 50;
  }
}

int FieldDef::StoredSize() const {
  switch (type) {
    case FieldType::kAlpha:
    case FieldType::kBytes:
      return size;
    case FieldType::kMemo:
    case FieldType::kBinary:
    case FieldType::kFmtMemo:
    case FieldType::kOle:
    case FieldType::kGraphic:
      return size + format::kBlobTailSize;
    case FieldType::kBcd:
      return 17;
    case FieldType::kShort:
      return 2;
    case FieldType::kLogical:
      return 1;
    case FieldType::kMoney:
    case FieldType::kNumber:
    case FieldType::kTimestamp:
      return 8;
    default:
      return 4;
  }
}

EPxCorrupt::EPxCorrupt(const std::string& file, const std::string& detail)
    : EPxError("The file \"" + file + "\" is damaged: " + detail), file_(file) {}

namespace format {

// ---------------------------------------------------------------- ByteReader

void ByteReader::Seek(size_t pos, const char* what) {
  if (pos > size_) Fail(std::string(what) + " lies outside the file");
  pos_ = pos;
}

const uint8_t* ByteReader::Span(size_t pos, size_t count, const char* what) const {
  if (pos > size_ || count > size_ - pos)
    Fail(std::string(what) + " lies outside the file (offset " + std::to_string(pos) + ", " +
         std::to_string(count) + " bytes, file size " + std::to_string(size_) + ")");
  return data_ + pos;
}

const uint8_t* ByteReader::Take(size_t count, const char* what) {
  const uint8_t* p = Span(pos_, count, what);
  pos_ += count;
  return p;
}

std::string ByteReader::CString(const char* what) {
  const uint8_t* start = data_ + pos_;
  const void* nul = pos_ < size_ ? std::memchr(start, 0, size_ - pos_) : nullptr;
  if (!nul) Fail(std::string(what) + " is not terminated");
  const size_t len = static_cast<const uint8_t*>(nul) - start;
  pos_ += len + 1;
  return std::string(reinterpret_cast<const char*>(start), len);
}

void ByteReader::Fail(const std::string& detail) const { throw EPxCorrupt(file_, detail); }

// ---------------------------------------------------------------- TextCodec


TextCodec::TextCodec(int code_page) : code_page_(code_page) {
  if (!Supports(code_page)) throw EPxError("Code page " + std::to_string(code_page) + " is not supported");
}

bool TextCodec::Supports(int code_page) { return IsSupportedCodePage(code_page); }

std::string TextCodec::Decode(std::string_view bytes) const {
  return DecodeSingleByte(bytes, static_cast<atlor::CodePage>(code_page_));
}

std::string TextCodec::Encode(std::string_view utf8, const std::string& what) const {
  size_t bad = 0;
  const std::string out =
      EncodeSingleByte(utf8, static_cast<atlor::CodePage>(code_page_), '?', &bad);
  if (bad)
    throw EPxError("The text for " + what + " has characters that code page " +
                   std::to_string(code_page_) + " cannot hold");
  return out;
}

// ---------------------------------------------------------------- levels

int LevelFromVersionByte(uint8_t v) {
  if (v == 3) return 30;
  if (v == 4) return 35;
  if (v >= 5 && v <= 9) return 40;
  if (v == 0x0A || v == 0x0B) return 50;
  if (v == 0x0C) return 70;
  return 0;
}

uint8_t VersionByteForLevel(int level) {
  switch (level) {
    case 30: return 0x03;
    case 35: return 0x04;
    case 40: return 0x09;
    case 50: return 0x0B;
    default: return 0x0C;
  }
}

uint16_t DataHeaderVersion(int level) {
  return level == 40 ? 0x0109 : level == 50 ? 0x010B : 0x010C;
}

bool HasDataHeader(int level, uint8_t file_type) {
  if (level < 40) return false;
  return file_type == kFileTypeKeyedDb || file_type == kFileTypeUnkeyedDb ||
         file_type == kFileTypeSecondaryX || file_type == kFileTypeSecondaryXInc ||
         file_type == kFileTypeCompositeX || file_type == kFileTypeCompositeXInc;
}

int StoredSize(uint8_t type, uint8_t size) { return type == 0x17 ? 17 : size; }

// ---------------------------------------------------------------- header

namespace {

bool HasFieldNames(uint8_t file_type) {
  return file_type != kFileTypePrimaryIndex && file_type != kFileTypeSecondaryY &&
         file_type != kFileTypeCompositeY;
}

int TableNameLength(int level) { return level == 70 ? 261 : 79; }

int ExpectedSize(uint8_t type) {
  switch (type) {
    case 0x02: case 0x04: case 0x14: case 0x16: return 4;
    case 0x03: return 2;
    case 0x05: case 0x06: case 0x15: return 8;
    case 0x09: return 1;
    default: return -1;
  }
}

}  // namespace

FileHeader ParseHeader(const std::string& file, const uint8_t* data, size_t size) {
  return ParseHeader(file, data, size, size);
}

FileHeader ParseHeader(const std::string& file, const uint8_t* data, size_t size, uint64_t file_size) {
  ByteReader r(file, data, size);
  FileHeader h;
  if (size < 0x58) r.Fail("the file is too short for a table header");
  h.record_size = r.U16At(0x00, "record size");
  h.header_size = r.U16At(0x02, "header size");
  h.file_type = r.U8At(0x04, "file type");
  h.block_kib = r.U8At(0x05, "block size");
  h.record_count = r.U32At(0x06, "record count");
  h.blocks_used = r.U16At(0x0A, "blocks in use");
  h.file_blocks = r.U16At(0x0C, "blocks in file");
  h.first_block = r.U16At(0x0E, "first block");
  h.last_block = r.U16At(0x10, "last block");
  h.change_counter = r.U16At(0x12, "change counter");
  h.index_field = r.U8At(0x15, "index field");
  h.root_block = r.U16At(0x1E, "root block");
  h.index_levels = r.U8At(0x20, "index levels");
  h.field_count = r.U16At(0x21, "field count");
  h.key_field_count = r.U16At(0x23, "key field count");
  const uint32_t encryption1 = r.U32At(0x25, "encryption");
  h.sort_order = r.U8At(0x29, "sort order");
  h.index_stamp = r.U8At(0x2C, "index stamp");
  h.change_count1 = r.U8At(0x2D, "change count");
  h.change_count2 = r.U8At(0x2E, "change count");
  h.version_byte = r.U8At(0x39, "file version");
  h.auto_increment = r.U32At(0x49, "auto-increment value");
  h.direction = r.U8At(0x55, "index direction");
  h.level = LevelFromVersionByte(h.version_byte);

  if (h.file_type > kFileTypeCompositeXInc) r.Fail("unknown file type " + std::to_string(h.file_type));
  if (h.level == 0) r.Fail("unknown file version " + std::to_string(h.version_byte));
  const int kib = h.block_kib;
  if (!(kib >= 1 && kib <= 4) && !(h.level == 70 && (kib == 8 || kib == 16 || kib == 32)))
    r.Fail("invalid block size " + std::to_string(kib) + " KiB");
  if (h.header_size < 0x58 || h.header_size > size) r.Fail("the header size " + std::to_string(h.header_size) + " does not fit the file");
  if (h.field_count == 0 || h.field_count > 255) r.Fail("invalid field count " + std::to_string(h.field_count));
  if (h.record_size == 0) r.Fail("the record size is 0");
  if (h.key_field_count > h.field_count && !h.IsIndexFile()) r.Fail("more key fields than fields");

  const bool data_header = HasDataHeader(h.level, h.file_type);
  if (data_header) {
    h.encryption = r.U32At(0x5C, "encryption");
    h.update_time = r.U32At(0x60, "update time");
    h.code_page = r.U16At(0x6A, "code page");
  } else {
    h.encryption = encryption1;
  }
  if (h.encryption == kEncryptionMarker) h.encryption = 0;

  r.Seek(data_header ? 0x78 : 0x58, "field list");
  int total = 0;
  h.fields.resize(h.field_count);
  for (auto& f : h.fields) {
    f.type = r.U8("field list");
    f.size = r.U8("field list");
    if (!IsKnownFieldType(f.type)) r.Fail("unknown field type " + std::to_string(f.type));
    const int expected = ExpectedSize(f.type);
    if (expected > 0 && f.size != expected) r.Fail("invalid size of a field of type " + std::to_string(f.type));
    if (f.type != 0x17 && f.size == 0) r.Fail("a field has size 0");
    if (IsBlobType(static_cast<FieldType>(f.type)) && f.size < kBlobTailSize) r.Fail("a BLOB field is shorter than its tail");
    total += StoredSize(f.type, f.size);
  }
  const int extra = h.file_type == kFileTypePrimaryIndex || h.file_type == kFileTypeSecondaryY ||
                            h.file_type == kFileTypeCompositeY
                        ? 6
                        : 0;
  if (total + extra != h.record_size)
    r.Fail("the record size " + std::to_string(h.record_size) + " does not match its fields (" +
           std::to_string(total + extra) + ")");
  if (h.record_size + kBlockHeaderSize > h.BlockSize()) r.Fail("a record does not fit a block");

  r.Take(4, "table name pointer");
  const bool names = HasFieldNames(h.file_type);
  if (names) r.Take(4u * h.field_count, "field name pointers");
  const uint8_t* tn = r.Take(TableNameLength(h.level), "table name");
  h.table_name.assign(reinterpret_cast<const char*>(tn),
                      strnlen(reinterpret_cast<const char*>(tn), TableNameLength(h.level)));
  if (names) {
    for (int i = 0; i < h.field_count; ++i) {
      h.field_names.push_back(r.CString("field name"));
      if (h.field_names.back().size() > 25 && h.level >= 40) {
        // Longer names occur in files written by other tools; keep them.
      }
    }
    if (h.level >= 40 && data_header) {
      const size_t numbers = 0x58 + static_cast<size_t>(r.U16At(0x66, "field-number list offset"));
      if (numbers >= r.Pos() && numbers + 2u * h.field_count <= h.header_size) {
        r.Seek(numbers + 2u * h.field_count, "sort order");
        if (r.Pos() < h.header_size) {
          h.sort_order_name = r.CString("sort-order name");
          if ((h.file_type == kFileTypeCompositeX || h.file_type == kFileTypeCompositeXInc) &&
              r.Pos() < h.header_size)
            h.index_name = r.CString("index name");
        }
      }
    }
  }
  if (r.Pos() > h.header_size) r.Fail("the header is longer than its stated size");

  if (h.file_blocks > 0) {
    // The last block may be cut short after its records.
    const uint64_t need = h.header_size + static_cast<uint64_t>(h.file_blocks - 1) * h.BlockSize() + kBlockHeaderSize;
    if (need > file_size)
      r.Fail("the header says " + std::to_string(h.file_blocks) + " blocks, the file holds " +
             std::to_string((file_size - h.header_size) / h.BlockSize()));
  }
  if (h.first_block > h.file_blocks) r.Fail("invalid first block");
  return h;
}

std::vector<uint8_t> BuildHeader(const FileHeader& h) {
  const bool data_header = HasDataHeader(h.level, h.file_type);
  const bool names = HasFieldNames(h.file_type);
  // The variable part first, to know the header size.
  std::vector<uint8_t> var;
  auto put = [&](const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    var.insert(var.end(), b, b + n);
  };
  const size_t var_start = data_header ? 0x78 : 0x58;
  for (const auto& f : h.fields) {
    var.push_back(f.type);
    var.push_back(f.size);
  }
  var.resize(var.size() + 4);
  if (names) var.resize(var.size() + 4 * h.fields.size());
  std::string tn = h.table_name.substr(0, TableNameLength(h.level) - 1);
  tn.resize(TableNameLength(h.level), '\0');
  put(tn.data(), tn.size());
  size_t numbers_offset = 0;
  if (names) {
    for (const auto& n : h.field_names) put(n.c_str(), n.size() + 1);
    if (h.level >= 40) {
      numbers_offset = var_start + var.size();
      for (size_t i = 0; i < h.fields.size(); ++i) {
        uint16_t num = static_cast<uint16_t>(i + 1);
        var.push_back(static_cast<uint8_t>(num));
        var.push_back(static_cast<uint8_t>(num >> 8));
      }
      put(h.sort_order_name.c_str(), h.sort_order_name.size() + 1);
      if (!h.index_name.empty()) put(h.index_name.c_str(), h.index_name.size() + 1);
    }
  }
  const size_t real_size = var_start + var.size();
  size_t header_size = h.header_size ? h.header_size : 0x800;
  while (header_size < real_size) header_size += 0x800;
  std::vector<uint8_t> out(header_size, 0);
  std::copy(var.begin(), var.end(), out.begin() + var_start);
  uint8_t* p = out.data();
  PutU16(p + 0x00, h.record_size);
  PutU16(p + 0x02, static_cast<uint16_t>(header_size));
  p[0x04] = h.file_type;
  p[0x05] = h.block_kib;
  PutU32(p + 0x06, h.record_count);
  PutU16(p + 0x0A, h.blocks_used);
  PutU16(p + 0x0C, h.file_blocks);
  PutU16(p + 0x0E, h.first_block);
  PutU16(p + 0x10, h.last_block);
  PutU16(p + 0x12, h.change_counter);
  p[0x15] = h.index_field;
  PutU16(p + 0x1E, h.root_block);
  p[0x20] = h.index_levels;
  PutU16(p + 0x21, static_cast<uint16_t>(h.fields.size()));
  PutU16(p + 0x23, h.key_field_count);
  PutU32(p + 0x25, data_header ? kEncryptionMarker : h.encryption);
  p[0x29] = h.sort_order;
  p[0x2C] = h.index_stamp;
  p[0x2D] = h.change_count1;
  p[0x2E] = h.change_count2;
  p[0x39] = VersionByteForLevel(h.level);
  PutU16(p + 0x3A, h.file_blocks);
  if (h.encryption == 0) {
    p[0x3E] = 0x1F;
    p[0x3F] = 0x0F;
  }
  PutU32(p + 0x49, h.auto_increment);
  PutU16(p + 0x51, static_cast<uint16_t>(real_size));
  p[0x55] = h.direction;
  if (data_header) {
    p[0x56] = 0x20;
    PutU16(p + 0x58, DataHeaderVersion(h.level));
    PutU16(p + 0x5A, DataHeaderVersion(h.level));
    PutU32(p + 0x5C, h.encryption);
    PutU32(p + 0x60, h.update_time);
    PutU16(p + 0x64, static_cast<uint16_t>(h.fields.size() + 1));
    PutU16(p + 0x66, static_cast<uint16_t>(numbers_offset ? numbers_offset - 0x58 : 0));
    PutU16(p + 0x6A, static_cast<uint16_t>(h.code_page));
    p[0x6C] = 0x01;
    p[0x6D] = 0x01;
    PutU16(p + 0x6E, static_cast<uint16_t>(real_size - 0x5E));
    PutU16(p + 0x70, h.change_counter);
  }
  return out;
}

// ---------------------------------------------------------------- field codecs

bool IsBlank(const uint8_t* p, int size) {
  for (int i = 0; i < size; ++i)
    if (p[i]) return false;
  return true;
}

namespace {

uint64_t ReadBigEndian(const uint8_t* p, int size) {
  uint64_t v = 0;
  for (int i = 0; i < size; ++i) v = (v << 8) | p[i];
  return v;
}

void WriteBigEndian(uint8_t* p, int size, uint64_t v) {
  for (int i = size - 1; i >= 0; --i) {
    p[i] = static_cast<uint8_t>(v);
    v >>= 8;
  }
}

int64_t DecodeInt(const uint8_t* p, int size) {
  uint64_t raw = ReadBigEndian(p, size) ^ (uint64_t{1} << (8 * size - 1));
  // Sign-extend from `size` bytes.
  const int shift = 64 - 8 * size;
  return static_cast<int64_t>(raw << shift) >> shift;
}

void EncodeInt(uint8_t* p, int size, int64_t v) {
  const uint64_t mask = size == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * size)) - 1;
  WriteBigEndian(p, size, (static_cast<uint64_t>(v) & mask) ^ (uint64_t{1} << (8 * size - 1)));
}

double DecodeDouble(const uint8_t* p) {
  uint64_t raw = ReadBigEndian(p, 8);
  if (raw & (uint64_t{1} << 63))
    raw &= ~(uint64_t{1} << 63);
  else
    raw = ~raw;
  double d;
  std::memcpy(&d, &raw, 8);
  return d;
}

void EncodeDouble(uint8_t* p, double d) {
  if (d == 0) d = 0;  // no negative zero
  uint64_t raw;
  std::memcpy(&raw, &d, 8);
  if (raw & (uint64_t{1} << 63))
    raw = ~raw;
  else
    raw |= uint64_t{1} << 63;
  WriteBigEndian(p, 8, raw);
}

double DecodeBcd(const uint8_t* p) {
  const bool positive = p[0] & 0x80;
  const int decimals = p[0] & 0x3F;
  double value = 0;
  for (int i = 0; i < 32; ++i) {
    int nibble = (i % 2 == 0 ? p[1 + i / 2] >> 4 : p[1 + i / 2]) & 0x0F;
    if (!positive) nibble = 0x0F - nibble;
    value = value * 10 + std::min(nibble, 9);
  }
  value /= std::pow(10.0, std::min(decimals, 32));
  return positive ? value : -value;
}

[[noreturn]] void BadValue(const std::string& field, const std::string& why) {
  throw EPxError("The value for field \"" + field + "\" " + why);
}

int64_t ToInt64Checked(const Value& v, const std::string& field) {
  try {
    return v.ToInt64();
  } catch (const Exception&) {
    BadValue(field, "is not an integer");
  }
}

double ToFloatChecked(const Value& v, const std::string& field) {
  try {
    return v.ToFloat();
  } catch (const Exception&) {
    BadValue(field, "is not a number");
  }
}

double ToDaysChecked(const Value& v, const std::string& field) {
  try {
    return v.ToDateTime().days;
  } catch (const Exception&) {
    BadValue(field, "is not a date or time");
  }
}

}  // namespace

Value DecodeField(FieldType type, const uint8_t* p, int size, const TextCodec& codec) {
  if (type == FieldType::kBcd) {
    if ((p[0] & 0x80) == 0 && IsBlank(p + 1, size - 1)) return Value::Null();
  }
  if (IsBlank(p, size)) return Value::Null();
  switch (type) {
    case FieldType::kAlpha: {
      const size_t len = strnlen(reinterpret_cast<const char*>(p), size);
      return Value(codec.Decode(std::string_view(reinterpret_cast<const char*>(p), len)));
    }
    case FieldType::kShort:
    case FieldType::kLong:
    case FieldType::kAutoInc:
      return Value(static_cast<int32_t>(DecodeInt(p, size)));
    case FieldType::kNumber:
      return Value(DecodeDouble(p));
    case FieldType::kMoney: {
      const double d = DecodeDouble(p);
      if (std::isfinite(d) && std::fabs(d) < 9.2e14) return Value(Currency::FromDouble(d));
      return Value(d);
    }
    case FieldType::kLogical:
      return Value(p[0] != 0x80);
    case FieldType::kDate:
      return Value(DateTime{static_cast<double>(DecodeInt(p, 4) - kDateDelta)});
    case FieldType::kTime:
      return Value(DateTime{static_cast<double>(DecodeInt(p, 4)) / kMsPerDay});
    case FieldType::kTimestamp: {
      const double ms = DecodeDouble(p);
      const double day = std::floor(ms / kMsPerDay);
      return Value(DateTime{(day - kDateDelta) + (ms - day * kMsPerDay) / kMsPerDay});
    }
    case FieldType::kBcd:
      return Value(DecodeBcd(p));
    case FieldType::kBytes:
      return Value(Bytes(p, p + size));
    default:
      return Value::Null();
  }
}

void EncodeField(FieldType type, const Value& value, uint8_t* p, int size, const TextCodec& codec,
                 const std::string& field) {
  std::memset(p, 0, size);
  if (value.IsEmptyOrNull()) return;
  switch (type) {
    case FieldType::kAlpha: {
      std::string text;
      try {
        text = value.ToString();
      } catch (const Exception&) {
        BadValue(field, "is not a text");
      }
      if (text.empty()) return;
      const std::string bytes = codec.Encode(text, "field \"" + field + "\"");
      if (bytes.size() > static_cast<size_t>(size))
        BadValue(field, "is longer than " + std::to_string(size) + " characters");
      std::memcpy(p, bytes.data(), bytes.size());
      return;
    }
    case FieldType::kShort:
    case FieldType::kLong:
    case FieldType::kAutoInc: {
      const int64_t v = ToInt64Checked(value, field);
      const int64_t lo = size == 2 ? -32767 : -2147483647;
      const int64_t hi = size == 2 ? 32767 : 2147483647;
      if (v < lo || v > hi) BadValue(field, "is out of range");
      EncodeInt(p, size, v);
      return;
    }
    case FieldType::kNumber:
    case FieldType::kMoney: {
      const double d = value.Kind() == ValueKind::kCurrency ? value.ToCurrency().ToDouble()
                                                            : ToFloatChecked(value, field);
      if (!std::isfinite(d)) BadValue(field, "is not a finite number");
      EncodeDouble(p, d);
      return;
    }
    case FieldType::kLogical: {
      bool b;
      try {
        b = value.ToBoolean();
      } catch (const Exception&) {
        BadValue(field, "is not a logical value");
      }
      p[0] = b ? 0x81 : 0x80;
      return;
    }
    case FieldType::kDate: {
      const double days = std::floor(ToDaysChecked(value, field));
      const double day = days + kDateDelta;
      if (day < 1 || day > 3652059) BadValue(field, "is out of the date range");
      EncodeInt(p, 4, static_cast<int64_t>(day));
      return;
    }
    case FieldType::kTime: {
      const double days = ToDaysChecked(value, field);
      double ms = std::round((days - std::floor(days)) * kMsPerDay);
      if (ms >= kMsPerDay) ms = 0;
      EncodeInt(p, 4, static_cast<int64_t>(ms));
      return;
    }
    case FieldType::kTimestamp: {
      const double days = ToDaysChecked(value, field);
      double day = std::floor(days);
      double ms = std::round((days - day) * kMsPerDay);
      if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        day += 1;
      }
      if (day + kDateDelta < 1) BadValue(field, "is out of the date range");
      EncodeDouble(p, (day + kDateDelta) * kMsPerDay + ms);
      return;
    }
    case FieldType::kBcd: {
      // size byte of the field definition is not known here: keep 2 decimals in front byte
      BadValue(field, "cannot be written: BCD fields are read-only in this engine");
    }
    case FieldType::kBytes: {
      Bytes bytes;
      try {
        bytes = value.ToBytes();
      } catch (const Exception&) {
        BadValue(field, "is not a byte array");
      }
      if (bytes.size() > static_cast<size_t>(size))
        BadValue(field, "is longer than " + std::to_string(size) + " bytes");
      if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
      return;
    }
    default:
      ATLOR_FAIL("EncodeField called for a BLOB field");
  }
}

BlobTail ReadBlobTail(const uint8_t* field, int stored_size) {
  const uint8_t* t = field + stored_size - kBlobTailSize;
  return BlobTail{GetU32(t), GetU32(t + 4), GetU16(t + 8)};
}

void WriteBlobTail(uint8_t* field, int stored_size, const BlobTail& tail) {
  uint8_t* t = field + stored_size - kBlobTailSize;
  PutU32(t, tail.offset);
  PutU32(t + 4, tail.length);
  PutU16(t + 8, tail.mod);
}

}  // namespace format
}  // namespace atlor::pxengine
