#include "backends/paradox/engine/px_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "backends/paradox/engine/px_database.h"
#include "backends/paradox/engine/px_table_impl.h"
#include "core/encoding.h"

namespace atlor::pxengine {

using namespace format;

namespace {

constexpr uint32_t kSharedBlobMax = 2048;  // larger BLOBs get blocks of their own
constexpr int kSharedSlots = 64;
constexpr int kSharedDataStart16 = 0x150 / 16;  // first 16-byte unit after the slot table

std::string ErrnoText() { return std::strerror(errno); }

void PWriteAll(int fd, const uint8_t* data, size_t size, uint64_t offset, const std::string& path) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EPxIoError("Cannot write \"" + path + "\": " + ErrnoText());
    done += static_cast<size_t>(n);
  }
}

uint32_t ChunksFor(uint32_t length) { return (length + 9 + kMbChunk - 1) / kMbChunk; }

}  // namespace

Table::Table() {
  static std::atomic<uint64_t> next_serial{0};  // databases of several threads share it
  serial_ = ++next_serial;
}

Table::~Table() {
  if (mb_fd_ >= 0) ::close(mb_fd_);
}

int Table::FieldIndex(std::string_view name) const {
  for (int i = 0; i < FieldCount(); ++i)
    if (SameTextAscii(info_.fields[i].name, name)) return i;
  return -1;
}

void Table::Setup() {
  layout_.clear();
  blob_fields_.clear();
  int offset = 0;
  for (int i = 0; i < FieldCount(); ++i) {
    const auto& f = info_.fields[i];
    layout_.push_back({offset, f.StoredSize()});
    offset += f.StoredSize();
    if (IsBlobType(f.type)) blob_fields_.push_back(i);
  }
  record_size_ = offset;
  key_size_ = 0;
  for (int i = 0; i < info_.key_field_count; ++i) key_size_ += layout_[i].size;
  // Pages of up to 64 KiB, at least 16 records.
  page_shift_ = 4;
  while (page_shift_ < 16 && (size_t{2} << page_shift_) * static_cast<size_t>(std::max(record_size_, 1)) <= 65536)
    ++page_shift_;
  page_mask_ = (uint32_t{1} << page_shift_) - 1;
  primary_ = IsKeyed() ? std::make_unique<SortedRowIndex<PrimaryLess>>(PrimaryLess{this}) : nullptr;
  secondaries_.clear();
  for (const auto& idx : info_.indexes) {
    if (idx.primary) {
      secondaries_.push_back(nullptr);
      continue;
    }
    SecondaryLess less{this, {}, idx.descending};
    for (const auto& name : idx.fields) {
      const int f = FieldIndex(name);
      if (f < 0) throw EPxError("Index \"" + idx.name + "\" of table \"" + info_.name + "\" names an unknown field \"" + name + "\"");
      less.fields.push_back(f);
    }
    secondaries_.push_back(std::make_unique<SecondaryIndex>(less));
  }
}

std::vector<RowId> Table::Rows() const {
  std::vector<RowId> rows;
  if (primary_) {
    primary_->append_to(rows);
  } else {
    rows.reserve(live_count_);
    for (RowId r = 0; r < slot_count_; ++r)
      if (live_[r]) rows.push_back(r);
  }
  return rows;
}

void Table::CheckRow(RowId row) const {
  if (!IsLive(row)) throw EPxError("Table \"" + info_.name + "\": the record no longer exists");
}

Value Table::Get(RowId row, int field) const {
  CheckRow(row);
  ATLOR_ASSERT(field >= 0 && field < FieldCount(), "Field index out of range");
  const FieldDef& f = info_.fields[field];
  const uint8_t* p = Rec(row) + layout_[field].offset;
  if (!IsBlobType(f.type)) return DecodeField(f.type, p, layout_[field].size, codec_);
  return BlobValue(field, ReadBlob(row, field));
}

std::vector<Value> Table::GetRecord(RowId row, BlobFetch fetch) const {
  CheckRow(row);
  std::vector<Value> values;
  values.reserve(FieldCount());
  for (int i = 0; i < FieldCount(); ++i) {
    if (fetch == BlobFetch::kSkip && IsBlobType(info_.fields[i].type)) {
      values.emplace_back();
      continue;
    }
    values.push_back(Get(row, i));
  }
  return values;
}

uint32_t Table::BlobLength(RowId row, int field) const {
  CheckRow(row);
  return ReadBlobTail(Rec(row) + layout_[field].offset, layout_[field].size).length;
}

Value Table::BlobValue(int field, Bytes data) const {
  const FieldType type = info_.fields[field].type;
  if (data.empty()) return Value::Null();
  if (type == FieldType::kMemo || type == FieldType::kFmtMemo)
    return Value(codec_.Decode(std::string_view(reinterpret_cast<const char*>(data.data()), data.size())));
  return Value(std::move(data));
}

Bytes Table::ReadBlob(RowId row, int field) const {
  const uint8_t* p = Rec(row) + layout_[field].offset;
  const int size = layout_[field].size;
  const int leader = size - kBlobTailSize;
  const BlobTail tail = ReadBlobTail(p, size);
  if (tail.length == 0) return {};
  if (tail.offset == 0 || tail.length <= static_cast<uint32_t>(leader)) {
    if (tail.length > static_cast<uint32_t>(leader))
      throw EPxCorrupt(info_.name + ".DB", "a BLOB longer than its leader has no .MB location");
    return Bytes(p, p + tail.length);
  }
  if (!mb_exists_ || mb_fd_ < 0) throw EPxError("The BLOB file \"" + mb_path_ + "\" is missing");
  auto read_at = [&](uint64_t pos, size_t count, uint8_t* out) {
    size_t done = 0;
    while (done < count) {
      const ssize_t n = ::pread(mb_fd_, out + done, count - done, static_cast<off_t>(pos + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw EPxIoError("Cannot read \"" + mb_path_ + "\": " + std::strerror(errno));
      if (n == 0) throw EPxCorrupt(mb_path_, "a BLOB lies outside the file");
      done += static_cast<size_t>(n);
    }
  };
  const uint64_t block = tail.offset & ~uint64_t{0xFF};
  const unsigned slot = tail.offset & 0xFF;
  Bytes data;
  if (slot == 0xFF && tail.length > (1u << 20)) {
    // A large BLOB: its size is checked against the block before memory is taken for it.
    uint8_t head[9];
    read_at(block, 9, head);
    if (head[0] != 2) throw EPxCorrupt(mb_path_, "a BLOB points to a block that is not a single-BLOB block");
    const uint32_t length = GetU32(head + 3);
    const uint16_t chunks = GetU16(head + 1);
    if (length != tail.length || 9ull + length > uint64_t{chunks} * kMbChunk)
      throw EPxCorrupt(mb_path_, "the size of a BLOB does not match its record");
    if (GetU16(head + 7) != tail.mod) throw EPxCorrupt(mb_path_, "Blob has been modified");
    data.resize(length);
    read_at(block + 9, length, data.data());
  } else if (slot == 0xFF) {
    // Header and content in one read.
    uint8_t head[9];
    data.resize(tail.length);
    iovec parts[2] = {{head, sizeof head}, {data.data(), data.size()}};
    size_t done = 0;
    const size_t want = sizeof head + data.size();
    while (done < want) {
      ssize_t n;
      if (done < sizeof head) {
        iovec rest[2] = {{head + done, sizeof head - done}, parts[1]};
        n = ::preadv(mb_fd_, rest, 2, static_cast<off_t>(block + done));
      } else {
        n = ::pread(mb_fd_, data.data() + (done - sizeof head), want - done, static_cast<off_t>(block + done));
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw EPxIoError("Cannot read \"" + mb_path_ + "\": " + std::strerror(errno));
      if (n == 0) throw EPxCorrupt(mb_path_, "a BLOB lies outside the file");
      done += static_cast<size_t>(n);
    }
    if (head[0] != 2) throw EPxCorrupt(mb_path_, "a BLOB points to a block that is not a single-BLOB block");
    const uint32_t length = GetU32(head + 3);
    const uint16_t chunks = GetU16(head + 1);
    if (length != tail.length || 9ull + length > uint64_t{chunks} * kMbChunk)
      throw EPxCorrupt(mb_path_, "the size of a BLOB does not match its record");
    if (GetU16(head + 7) != tail.mod) throw EPxCorrupt(mb_path_, "Blob has been modified");
  } else {
    if (slot >= kSharedSlots) throw EPxCorrupt(mb_path_, "invalid BLOB slot");
    uint8_t b[kMbChunk];  // the whole shared block in one read (the file may end early)
    size_t got = 0;
    while (got < sizeof b) {
      const ssize_t n = ::pread(mb_fd_, b + got, sizeof b - got, static_cast<off_t>(block + got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw EPxIoError("Cannot read \"" + mb_path_ + "\": " + std::strerror(errno));
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    if (got < 12 + 5 * (slot + 1)) throw EPxCorrupt(mb_path_, "a BLOB lies outside the file");
    std::memset(b + got, 0, sizeof b - got);
    if (b[0] != 3) throw EPxCorrupt(mb_path_, "a BLOB points to a block that is not a shared block");
    const uint8_t* entry = b + 12 + 5 * slot;
    if (entry[1] == 0) throw EPxCorrupt(mb_path_, "a BLOB points to a free slot");
    const uint32_t length = (entry[1] - 1u) * 16u + entry[4];
    const uint32_t start = entry[0] * 16u;
    if (length != tail.length || entry[4] == 0 || entry[4] > 16 || start < 0x150 || start + length > kMbChunk)
      throw EPxCorrupt(mb_path_, "the size of a BLOB does not match its record");
    if (GetU16(entry + 2) != tail.mod) throw EPxCorrupt(mb_path_, "Blob has been modified");
    if (start + length > got) throw EPxCorrupt(mb_path_, "a BLOB lies outside the file");
    data.assign(b + start, b + start + length);
  }
  if (info_.fields[field].type == FieldType::kGraphic && data.size() >= 8 && data[0] == 1 && data[1] == 0 &&
      data[2] == 0 && data[3] == 1)
    data.erase(data.begin(), data.begin() + 8);
  return data;
}

std::optional<RowId> Table::FindKey(const std::vector<Value>& key) const {
  if (!primary_) throw EPxError("Table \"" + info_.name + "\" has no primary key");
  if (key.empty() || key.size() > static_cast<size_t>(info_.key_field_count))
    throw EPxError("Table \"" + info_.name + "\": wrong number of key values");
  uint8_t small[256];
  std::vector<uint8_t> large;
  uint8_t* bytes = small;
  size_t total = 0;
  for (size_t i = 0; i < key.size(); ++i) total += layout_[i].size;
  if (total > sizeof small) {
    large.resize(total);
    bytes = large.data();
  }
  size_t pos = 0;
  for (size_t i = 0; i < key.size(); ++i) {
    const auto& l = layout_[i];
    try {
      EncodeField(info_.fields[i].type, key[i], bytes + pos, l.size, codec_, info_.fields[i].name);
    } catch (const EPxError&) {
      return std::nullopt;  // a value that cannot be stored matches no row
    }
    pos += l.size;
  }
  PrimaryLess::Probe probe{bytes, total};
  auto it = primary_->lower_bound(probe);
  if (it == primary_->end() || std::memcmp(Rec(*it), bytes, total) != 0) return std::nullopt;
  return *it;
}

std::vector<RowId> Table::FindEqual(int index, const std::vector<Value>& values) const {
  ATLOR_ASSERT(index >= 0 && index < static_cast<int>(info_.indexes.size()), "Index out of bound");
  const IndexDef& def = info_.indexes[index];
  if (values.empty() || values.size() > def.fields.size())
    throw EPxError("Table \"" + info_.name + "\": wrong number of index values");
  std::vector<RowId> out;
  if (def.primary) {
    if (values.size() == static_cast<size_t>(info_.key_field_count)) {
      if (auto r = FindKey(values)) out.push_back(*r);
      return out;
    }
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < values.size(); ++i) {
      const auto& l = layout_[i];
      bytes.resize(bytes.size() + l.size);
      try {
        EncodeField(info_.fields[i].type, values[i], bytes.data() + bytes.size() - l.size, l.size, codec_,
                    info_.fields[i].name);
      } catch (const EPxError&) {
        return out;
      }
    }
    PrimaryLess::Probe probe{bytes.data(), bytes.size()};
    for (auto it = primary_->lower_bound(probe), stop = primary_->upper_bound(probe); it != stop; ++it)
      out.push_back(*it);
    return out;
  }
  const SecondaryIndex& si = *secondaries_[index];
  SecondaryLess::Probe probe{{}, values.size()};
  for (size_t i = 0; i < values.size(); ++i) {
    const int f = si.rows.key_comp().fields[i];
    const auto& l = layout_[f];
    probe.bytes.resize(probe.bytes.size() + l.size);
    try {
      EncodeField(info_.fields[f].type, values[i], probe.bytes.data() + probe.bytes.size() - l.size, l.size,
                  codec_, info_.fields[f].name);
    } catch (const EPxError&) {
      return out;
    }
  }
  for (auto it = si.rows.lower_bound(probe), stop = si.rows.upper_bound(probe); it != stop; ++it)
    out.push_back(*it);
  return out;
}

int Table::IndexOnField(int field) const {
  if (field < 0 || field >= FieldCount()) return -1;
  for (size_t i = 0; i < info_.indexes.size(); ++i) {
    const auto& idx = info_.indexes[i];
    if (!idx.fields.empty() && SameTextAscii(idx.fields[0], info_.fields[field].name)) return static_cast<int>(i);
  }
  return -1;
}

size_t Table::MemoryUse() const {
  size_t n = pages_.size() * ((size_t{1} << page_shift_) * record_size_ + sizeof(pages_[0])) + live_.capacity();
  if (primary_) n += primary_->MemoryUse();
  for (const auto& s : secondaries_)
    if (s) n += s->rows.MemoryUse();
  n += undo_.capacity() * sizeof(UndoEntry) + undo_bytes_.capacity() + scratch_.capacity();
  if (mb_) n += mb_->free.size() * 48 + mb_->fresh.bits.capacity() * 8 + mb_->odd_sizes.size() * 32;
  return n;
}

uint64_t Table::BlobFileSize() const {
  struct stat st;
  if (mb_fd_ < 0 || ::fstat(mb_fd_, &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

// ---------------------------------------------------------------- changes

RowId Table::NewSlot() {
  if (slot_count_ == UINT32_MAX - 1) throw EPxError("Table \"" + info_.name + "\" is full");
  if ((slot_count_ >> page_shift_) >= pages_.size())
    pages_.emplace_back(new uint8_t[(size_t{1} << page_shift_) * record_size_]);
  live_.push_back(0);
  return slot_count_++;
}

void Table::IndexRow(RowId row) {
  if (primary_) primary_->insert(row);
  for (auto& s : secondaries_)
    if (s) s->rows.insert(row);
}

void Table::UnindexRow(RowId row) {
  if (primary_) primary_->erase(row);
  for (auto& s : secondaries_)
    if (s) s->rows.erase(row);
}

bool Table::KeyTaken(const uint8_t* rec, RowId except) const {
  if (primary_) {
    PrimaryLess::Probe probe{rec, static_cast<size_t>(key_size_)};
    auto it = primary_->find(probe);
    if (it != primary_->end() && *it != except) return true;
  }
  for (size_t i = 0; i < secondaries_.size(); ++i) {
    if (!secondaries_[i] || !info_.indexes[i].unique) continue;
    const auto& less = secondaries_[i]->rows.key_comp();
    SecondaryLess::Probe probe{{}, less.fields.size()};
    for (int f : less.fields)
      probe.bytes.insert(probe.bytes.end(), rec + layout_[f].offset, rec + layout_[f].offset + layout_[f].size);
    for (auto it = secondaries_[i]->rows.lower_bound(probe), stop = secondaries_[i]->rows.upper_bound(probe);
         it != stop; ++it)
      if (*it != except) return true;
  }
  return false;
}

void Table::EncodeInto(uint8_t* rec, int field, const Value& value, bool for_insert, Bytes* blob) {
  const FieldDef& f = info_.fields[field];
  uint8_t* p = rec + layout_[field].offset;
  const int size = layout_[field].size;
  if (f.type == FieldType::kAutoInc && value.IsEmptyOrNull()) {
    if (for_insert) {
      if (info_.auto_increment >= 2147483647u) throw EPxError("Table \"" + info_.name + "\": autoincrement overflow");
      EncodeField(f.type, Value(static_cast<int32_t>(info_.auto_increment + 1)), p, size, codec_, f.name);
    }
    return;
  }
  if (!IsBlobType(f.type)) {
    if (f.type == FieldType::kBcd) {
      if (!value.IsEmptyOrNull()) throw EPxError("Field \"" + f.name + "\": BCD values cannot be written");
      std::memset(p, 0, size);
      return;
    }
    EncodeField(f.type, value, p, size, codec_, f.name);
    return;
  }
  // BLOB: the record gets the leader and the length; the content is written by StoreBlobs.
  Bytes bytes;
  if (!value.IsEmptyOrNull()) {
    if (value.Kind() == ValueKind::kString) {
      const std::string& s = value.StringRef();
      if (f.type == FieldType::kMemo || f.type == FieldType::kFmtMemo) {
        const std::string enc = codec_.Encode(s, "field \"" + f.name + "\"");
        bytes.assign(enc.begin(), enc.end());
      } else {
        bytes.assign(s.begin(), s.end());
      }
    } else if (value.Kind() == ValueKind::kBytes) {
      bytes = value.BytesRef();
    } else {
      try {
        bytes = value.ToBytes();
      } catch (const Exception&) {
        throw EPxError("The value for field \"" + f.name + "\" is not a text or byte array");
      }
    }
  }
  std::memset(p, 0, size);
  if (bytes.empty()) return;
  const size_t leader = static_cast<size_t>(size - kBlobTailSize);
  const bool graphic = f.type == FieldType::kGraphic;
  if (bytes.size() + (graphic ? 8 : 0) <= leader) {  // kept in the record
    std::memcpy(p, bytes.data(), bytes.size());
    WriteBlobTail(p, size, BlobTail{0, static_cast<uint32_t>(bytes.size()), 0});
    return;
  }
  if (graphic) {
    Bytes prefixed = {1, 0, 0, 1, 0, 0, 0, 0};
    PutU32(prefixed.data() + 4, static_cast<uint32_t>(bytes.size()));
    prefixed.insert(prefixed.end(), bytes.begin(), bytes.end());
    bytes = std::move(prefixed);
  }
  if (bytes.size() > 0x7FFFFFF0u) throw EPxError("A BLOB of table \"" + info_.name + "\" is too large");
  std::memcpy(p, bytes.data(), std::min(leader, bytes.size()));
  WriteBlobTail(p, size, BlobTail{0, static_cast<uint32_t>(bytes.size()), 0});
  *blob = std::move(bytes);
}

void Table::CheckRequired(const uint8_t* rec) const {
  for (int i = 0; i < FieldCount(); ++i) {
    const FieldDef& f = info_.fields[i];
    if (f.required && IsBlank(rec + layout_[i].offset, layout_[i].size))
      throw EPxError("Field value required: \"" + f.name + "\" of table \"" + info_.name + "\"");
  }
}

void Table::SaveUndo(int kind, RowId row, const uint8_t* new_rec) {
  if (marks_.empty()) return;
  UndoEntry e{static_cast<UndoEntry::Kind>(kind), row, 0, 0, undo_bytes_.size()};
  if (kind == UndoEntry::kUpdate) {
    // The fields from the first to the last one that changes.
    const uint8_t* old = Rec(row);
    int first = -1, last = -1;
    for (int i = 0; i < FieldCount(); ++i) {
      if (std::memcmp(old + layout_[i].offset, new_rec + layout_[i].offset, layout_[i].size) == 0) continue;
      if (first < 0) first = i;
      last = i;
    }
    if (first < 0) return;
    e.from = static_cast<uint32_t>(layout_[first].offset);
    e.size = static_cast<uint32_t>(layout_[last].offset + layout_[last].size) - e.from;
    undo_bytes_.insert(undo_bytes_.end(), old + e.from, old + e.from + e.size);
  }
  undo_.push_back(e);
}

template <class F>
void Table::ForEachUndoTail(const UndoEntry& e, F f) const {
  for (int fi : blob_fields_) {
    const auto& l = layout_[fi];
    if (e.kind == UndoEntry::kDelete)
      f(Rec(e.row) + l.offset, l.size);
    else if (e.kind == UndoEntry::kUpdate && static_cast<uint32_t>(l.offset) >= e.from &&
             static_cast<uint32_t>(l.offset + l.size) <= e.from + e.size)
      f(undo_bytes_.data() + e.bytes + (l.offset - e.from), l.size);
  }
}

RowId Table::Insert(const std::vector<Value>& values) {
  db_->RequireWritable(info_.name);
  if (values.size() > static_cast<size_t>(FieldCount()))
    throw EPxError("Table \"" + info_.name + "\": too many values for a record");
  std::vector<uint8_t> rec(record_size_, 0);
  std::vector<std::pair<int, Bytes>> blobs;
  for (int i = 0; i < FieldCount(); ++i) {
    const Value& v = i < static_cast<int>(values.size()) ? values[i] : Value();
    Bytes blob;
    EncodeInto(rec.data(), i, v, true, &blob);
    if (!blob.empty()) blobs.emplace_back(i, std::move(blob));
  }
  CheckRequired(rec.data());
  if (KeyTaken(rec.data(), kNoRow)) throw EPxError("Key violation in table \"" + info_.name + "\"");
  if (!blobs.empty()) StoreBlobs(rec.data(), blobs);
  const RowId row = NewSlot();
  std::memcpy(Rec(row), rec.data(), record_size_);
  // Auto-increment: the highest value in use.
  for (int i = 0; i < FieldCount(); ++i) {
    if (info_.fields[i].type != FieldType::kAutoInc) continue;
    const Value v = DecodeField(FieldType::kAutoInc, Rec(row) + layout_[i].offset, 4, codec_);
    if (!v.IsNull() && v.ToInteger() > 0 && static_cast<uint32_t>(v.ToInteger()) > info_.auto_increment)
      info_.auto_increment = static_cast<uint32_t>(v.ToInteger());
  }
  live_[row] = 1;
  ++live_count_;
  IndexRow(row);
  SaveUndo(UndoEntry::kInsert, row);
  dirty_ = true;
  return row;
}

void Table::Update(RowId row, const std::vector<Value>& values) {
  db_->RequireWritable(info_.name);
  CheckRow(row);
  if (values.size() > static_cast<size_t>(FieldCount()))
    throw EPxError("Table \"" + info_.name + "\": too many values for a record");
  std::vector<uint8_t> rec(Rec(row), Rec(row) + record_size_);
  std::vector<std::pair<int, Bytes>> blobs;
  for (size_t i = 0; i < values.size(); ++i) {
    if (values[i].IsEmpty()) continue;
    Bytes blob;
    EncodeInto(rec.data(), static_cast<int>(i), values[i], false, &blob);
    if (!blob.empty()) blobs.emplace_back(static_cast<int>(i), std::move(blob));
  }
  CheckRequired(rec.data());
  // Do the indexes see a change? (A BLOB update changes none.)
  const uint8_t* old = Rec(row);
  bool reindex = std::memcmp(old, rec.data(), key_size_) != 0;
  for (size_t i = 0; i < secondaries_.size() && !reindex; ++i) {
    if (!secondaries_[i]) continue;
    for (int f : secondaries_[i]->rows.key_comp().fields)
      if (std::memcmp(old + layout_[f].offset, rec.data() + layout_[f].offset, layout_[f].size) != 0) reindex = true;
  }
  if (reindex && KeyTaken(rec.data(), row)) throw EPxError("Key violation in table \"" + info_.name + "\"");
  if (!blobs.empty()) StoreBlobs(rec.data(), blobs);
  if (std::memcmp(old, rec.data(), record_size_) == 0) return;  // nothing changes
  NoteLostBlobs(old, rec.data());
  ReleaseFreshBlobs(old, rec.data());
  SaveUndo(UndoEntry::kUpdate, row, rec.data());
  if (reindex) UnindexRow(row);
  std::memcpy(Rec(row), rec.data(), record_size_);
  if (reindex) IndexRow(row);
  dirty_ = true;
}

void Table::SetValue(RowId row, int field, const Value& value) {
  ATLOR_ASSERT(field >= 0 && field < FieldCount(), "Field index out of range");
  std::vector<Value> values(field + 1);
  values[field] = value.IsEmpty() ? Value::Null() : value;
  Update(row, values);
}

void Table::Delete(RowId row) {
  db_->RequireWritable(info_.name);
  CheckRow(row);
  NoteLostBlobs(Rec(row), nullptr);
  ReleaseFreshBlobs(Rec(row), nullptr);
  SaveUndo(UndoEntry::kDelete, row);
  UnindexRow(row);
  live_[row] = 0;
  --live_count_;
  dirty_ = true;
}

// ---------------------------------------------------------------- undo marks

void Table::PushMark() {
  marks_.push_back(Mark{undo_.size(), info_.auto_increment, dirty_, slot_count_, flush_count_});
}

void Table::UndoToMark(size_t level) {
  ATLOR_ASSERT(level < marks_.size(), "Index out of bound");
  const Mark m = marks_[level];
  while (undo_.size() > m.undo_size) {
    const UndoEntry e = undo_.back();
    switch (e.kind) {
      case UndoEntry::kInsert:
        UnindexRow(e.row);
        live_[e.row] = 0;
        --live_count_;
        break;
      case UndoEntry::kUpdate:
        UnindexRow(e.row);
        std::memcpy(Rec(e.row) + e.from, undo_bytes_.data() + e.bytes, e.size);
        IndexRow(e.row);
        undo_bytes_.resize(e.bytes);
        break;
      case UndoEntry::kDelete:
        live_[e.row] = 1;
        ++live_count_;
        IndexRow(e.row);
        break;
    }
    undo_.pop_back();
  }
  // Blocks replaced by the undone changes are in use again.
  while (!superseded_.empty() && superseded_.back().undo_pos >= m.undo_size) superseded_.pop_back();
  // Slots of undone inserts at the end are given back.
  while (slot_count_ > m.slot_count && !live_[slot_count_ - 1]) {
    --slot_count_;
    live_.pop_back();
  }
  info_.auto_increment = m.auto_increment;
  // A table written since the mark differs from its files now.
  dirty_ = m.dirty || flush_count_ != m.flush_count;
  marks_.resize(level + 1);
}

void Table::PopMark() {
  ATLOR_ASSERT(!marks_.empty(), "Index out of bound");
  marks_.pop_back();
  if (marks_.empty()) DropMarks();
}

void Table::DropMarks() {
  marks_.clear();
  undo_.clear();
  undo_bytes_.clear();
  if (undo_bytes_.capacity() > (size_t{1} << 20)) {
    undo_.shrink_to_fit();
    undo_bytes_.shrink_to_fit();
  }
  // The replaced fresh blocks are garbage now.
  for (const auto& s : superseded_) {
    if (mb_ && mb_->fresh.Remove(s.chunk)) FreeChunks(s.chunk, s.count);
  }
  superseded_.clear();
}

// ---------------------------------------------------------------- .MB space

uint32_t Table::BlockChunks(uint32_t chunk, uint32_t length) const {
  if (mb_) {
    auto it = mb_->odd_sizes.find(chunk);
    if (it != mb_->odd_sizes.end()) return it->second;
  }
  return ChunksFor(length);
}

void Table::CreateMbFile() {
  // Records that point into a BLOB file that is not there: the table is damaged.
  for (RowId r = 0; r < slot_count_; ++r)
    if (live_[r])
      for (int f : blob_fields_)
        if (ReadBlobTail(Rec(r) + layout_[f].offset, layout_[f].size).offset != 0)
          throw EPxError("The BLOB file \"" + mb_path_ + "\" is missing; table \"" + info_.name + "\" cannot be written");
  mb_path_ = folder_ + (folder_.empty() || folder_.back() == '/' ? "" : "/") + info_.name + ".MB";
  db_->Step("write " + info_.name + ".MB");
  mb_fd_ = ::open(mb_path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (mb_fd_ < 0) throw EPxIoError("Cannot create \"" + mb_path_ + "\": " + ErrnoText());
  std::vector<uint8_t> head(kMbChunk, 0);
  PutU16(head.data() + 1, 1);
  PutU16(head.data() + 3, 1);
  const uint8_t magic[6] = {0x82, 0x73, 0x02, 0x00, 0x29, 0x00};
  std::memcpy(head.data() + 5, magic, 6);
  PutU16(head.data() + 0x0B, 0x1000);
  PutU16(head.data() + 0x0D, 0x1000);
  head[0x10] = 0x10;
  PutU16(head.data() + 0x11, 0x0040);
  PutU16(head.data() + 0x13, 0x0800);
  PutU16(head.data() + 0x29, 0x02A1);
  PWriteAll(mb_fd_, head.data(), head.size(), 0, mb_path_);
  mb_exists_ = true;
  mb_.reset();
}

// Works out which chunks of the .MB file no BLOB of the .DB on disk uses. Called before the
// first BLOB is written: the records then still name every place the .DB on disk uses, but
// for those noted in lost_refs_.
void Table::EnsureMbSpace() {
  if (mb_) return;
  auto m = std::make_unique<MbSpace>();
  m->mod = static_cast<uint16_t>(header_.change_counter + 1 + flush_count_);
  if (m->mod == 0) m->mod = 1;
  struct stat st;
  if (::fstat(mb_fd_, &st) != 0) throw EPxIoError("Cannot read \"" + mb_path_ + "\": " + ErrnoText());
  m->end = static_cast<uint32_t>((static_cast<uint64_t>(st.st_size) + kMbChunk - 1) / kMbChunk);
  m->reuse = true;
  uint8_t head[9];
  if (::pread(mb_fd_, head, 3, 0) != 3) m->reuse = false;
  m->header_chunks = std::max<uint32_t>(1, GetU16(head + 1));
  if (m->header_chunks > m->end) m->reuse = false;
  // Places in use: (chunk, length) of single-BLOB blocks, chunks of shared blocks.
  std::vector<std::pair<uint32_t, uint32_t>> singles;
  std::vector<uint32_t> shared;
  auto note = [&](const BlobTail& t) {
    if (t.offset == 0) return;
    if ((t.offset & 0xF00) != 0) m->reuse = false;  // not on a chunk boundary
    const uint32_t chunk = t.offset >> 12;
    if ((t.offset & 0xFF) == 0xFF)
      singles.emplace_back(chunk, t.length);
    else
      shared.push_back(chunk);
  };
  for (RowId r = 0; r < slot_count_; ++r)
    if (live_[r])
      for (int f : blob_fields_) note(ReadBlobTail(Rec(r) + layout_[f].offset, layout_[f].size));
  for (const auto& e : undo_)
    ForEachUndoTail(e, [&](const uint8_t* field, int size) { note(ReadBlobTail(field, size)); });
  for (const auto& t : lost_refs_) note(t);
  lost_refs_.clear();
  lost_refs_.shrink_to_fit();
  std::sort(singles.begin(), singles.end());
  singles.erase(std::unique(singles.begin(), singles.end()), singles.end());
  // The real size of each single-BLOB block is in its header (another program may have given
  // a BLOB more chunks than it needs).
  std::vector<std::pair<uint32_t, uint32_t>> used;
  used.reserve(singles.size() + shared.size() + 1);
  used.emplace_back(0, m->header_chunks);
  for (const auto& [chunk, length] : singles) {
    if (!m->reuse) break;
    if (::pread(mb_fd_, head, 9, static_cast<off_t>(chunk) * kMbChunk) != 9 || head[0] != 2 ||
        GetU32(head + 3) != length) {
      m->reuse = false;  // a damaged reference: leave the file's space as it is
      break;
    }
    const uint32_t chunks = GetU16(head + 1);
    if (chunks < ChunksFor(length)) {
      m->reuse = false;
      break;
    }
    if (chunks != ChunksFor(length)) m->odd_sizes[chunk] = chunks;
    used.emplace_back(chunk, chunks);
  }
  for (uint32_t c : shared) used.emplace_back(c, 1);
  mb_ = std::move(m);
  if (!mb_->reuse) {
    mb_->odd_sizes.clear();
    return;
  }
  std::sort(used.begin(), used.end());
  uint32_t at = 0;
  for (const auto& [chunk, count] : used) {
    if (chunk > at) FreeChunks(at, std::min(chunk, mb_->end) - std::min(at, mb_->end));
    at = std::max(at, chunk + count);
  }
  if (at < mb_->end) FreeChunks(at, mb_->end - at);
}

void Table::NoteLostBlobs(const uint8_t* old_rec, const uint8_t* new_rec) {
  if (mb_ || blob_fields_.empty()) return;
  for (int f : blob_fields_) {
    const BlobTail t = ReadBlobTail(old_rec + layout_[f].offset, layout_[f].size);
    if (t.offset == 0) continue;
    if (new_rec && std::memcmp(old_rec + layout_[f].offset, new_rec + layout_[f].offset, layout_[f].size) == 0) continue;
    lost_refs_.push_back(t);
  }
}

void Table::ReleaseFreshBlobs(const uint8_t* old_rec, const uint8_t* new_rec) {
  if (!mb_ || mb_->fresh.count == 0) return;
  for (int f : blob_fields_) {
    const BlobTail t = ReadBlobTail(old_rec + layout_[f].offset, layout_[f].size);
    if (t.offset == 0 || (t.offset & 0xFF) != 0xFF) continue;
    if (new_rec && std::memcmp(old_rec + layout_[f].offset, new_rec + layout_[f].offset, layout_[f].size) == 0) continue;
    const uint32_t chunk = t.offset >> 12;
    if (!mb_->fresh.Has(chunk)) continue;
    if (marks_.empty()) {
      mb_->fresh.Remove(chunk);
      FreeChunks(chunk, BlockChunks(chunk, t.length));
    } else {
      superseded_.push_back(Superseded{chunk, BlockChunks(chunk, t.length), undo_.size()});
    }
  }
}

uint32_t Table::AllocChunks(uint32_t count) {
  MbSpace& m = *mb_;
  if (m.reuse) {
    for (auto it = m.free.begin(); it != m.free.end(); ++it) {
      if (it->second < count) continue;
      const uint32_t at = it->first;
      const uint32_t rest = it->second - count;
      auto hint = m.free.erase(it);
      if (rest) m.free.emplace_hint(hint, at + count, rest);
      return at;
    }
  }
  if ((static_cast<uint64_t>(m.end) + count) * kMbChunk > 0xFFFFFF00u)
    throw EPxError("The BLOB file of table \"" + info_.name + "\" is too large");
  const uint32_t at = m.end;
  m.end += count;
  return at;
}

void Table::FreeChunks(uint32_t first, uint32_t count) {
  if (!count || !mb_->reuse) return;
  auto& free = mb_->free;
  auto next = free.lower_bound(first);
  if (next != free.end() && next->first < first + count) return;  // overlaps free space: keep as is
  if (next != free.begin()) {
    auto prev = std::prev(next);
    if (prev->first + prev->second > first) return;
    if (prev->first + prev->second == first) {
      first = prev->first;
      count += prev->second;
      free.erase(prev);
    }
  }
  if (next != free.end() && next->first == first + count) {
    count += next->second;
    next = free.erase(next);
  }
  free.emplace_hint(next, first, count);
}

void Table::StoreBlobs(uint8_t* rec, std::vector<std::pair<int, Bytes>>& blobs) {
  if (!mb_exists_) CreateMbFile();
  EnsureMbSpace();
  MbSpace& m = *mb_;
  for (auto& [field, data] : blobs) {
    const uint32_t length = static_cast<uint32_t>(data.size());
    BlobTail tail{0, length, m.mod};
    if (length <= kSharedBlobMax) {
      const int units = static_cast<int>((length + 15) / 16);
      if (m.shared == 0 || m.shared_slot < 0 || m.shared_used16 + units > kMbChunk / 16) {
        const uint32_t chunk = AllocChunks(1);
        scratch_.assign(kMbChunk, 0);
        scratch_[0] = 3;
        PutU16(scratch_.data() + 1, 1);
        PWriteAll(mb_fd_, scratch_.data(), kMbChunk, uint64_t{chunk} * kMbChunk, mb_path_);
        m.shared = chunk;
        m.shared_slot = kSharedSlots - 1;
        m.shared_used16 = kSharedDataStart16;
      }
      const uint64_t block = uint64_t{m.shared} * kMbChunk;
      PWriteAll(mb_fd_, data.data(), length, block + m.shared_used16 * 16u, mb_path_);
      uint8_t entry[5];
      entry[0] = static_cast<uint8_t>(m.shared_used16);
      entry[1] = static_cast<uint8_t>(units);
      PutU16(entry + 2, m.mod);
      entry[4] = static_cast<uint8_t>(length - (units - 1) * 16);
      PWriteAll(mb_fd_, entry, 5, block + 12 + 5 * m.shared_slot, mb_path_);
      tail.offset = static_cast<uint32_t>(block) | static_cast<uint32_t>(m.shared_slot);
      m.shared_used16 += units;
      --m.shared_slot;
    } else {
      const uint32_t chunks = ChunksFor(length);
      if (chunks > 0xFFFF) throw EPxError("A BLOB of table \"" + info_.name + "\" is too large");
      const uint32_t chunk = AllocChunks(chunks);
      scratch_.resize(static_cast<size_t>(chunks) * kMbChunk);
      scratch_[0] = 2;
      PutU16(scratch_.data() + 1, static_cast<uint16_t>(chunks));
      PutU32(scratch_.data() + 3, length);
      PutU16(scratch_.data() + 7, m.mod);
      std::memcpy(scratch_.data() + 9, data.data(), length);
      std::memset(scratch_.data() + 9 + length, 0, scratch_.size() - 9 - length);
      PWriteAll(mb_fd_, scratch_.data(), scratch_.size(), uint64_t{chunk} * kMbChunk, mb_path_);
      m.fresh.Add(chunk);
      tail.offset = (chunk << 12) | 0xFF;
    }
    m.unsynced = true;
    WriteBlobTail(rec + layout_[field].offset, layout_[field].size, tail);
  }
  if (scratch_.capacity() > (size_t{1} << 20)) {
    scratch_.clear();
    scratch_.shrink_to_fit();
  }
}

// After a flush the .DB on disk uses exactly the BLOBs of the records (and of undo entries,
// should a commit of several tables fail after this one): every other chunk is free.
void Table::RebuildFreeSpace() {
  MbSpace& m = *mb_;
  m.fresh.Clear();
  m.shared = 0;
  m.shared_slot = -1;
  if (!m.reuse) return;
  std::vector<std::pair<uint32_t, uint32_t>> used;
  used.reserve(live_count_ + 1);
  used.emplace_back(0, m.header_chunks);
  auto note = [&](const uint8_t* field, int size) {
    const BlobTail t = ReadBlobTail(field, size);
    if (t.offset == 0) return;
    const uint32_t chunk = t.offset >> 12;
    used.emplace_back(chunk, (t.offset & 0xFF) == 0xFF ? BlockChunks(chunk, t.length) : 1);
  };
  for (RowId r = 0; r < slot_count_; ++r)
    if (live_[r])
      for (int f : blob_fields_) note(Rec(r) + layout_[f].offset, layout_[f].size);
  for (const auto& e : undo_) ForEachUndoTail(e, note);
  std::sort(used.begin(), used.end());
  m.free.clear();
  uint32_t at = 0;
  for (const auto& [chunk, count] : used) {
    if (chunk > at) FreeChunks(at, std::min(chunk, m.end) - std::min(at, m.end));
    at = std::max(at, chunk + count);
  }
  if (at < m.end) FreeChunks(at, m.end - at);
}

void Table::AfterFlush() {
  ++flush_count_;
  lost_refs_.clear();
  lost_refs_.shrink_to_fit();
  superseded_.clear();
  if (mb_) {
    RebuildFreeSpace();
    mb_->mod = static_cast<uint16_t>(mb_->mod + 1);
    if (mb_->mod == 0) mb_->mod = 1;
  }
}

}  // namespace atlor::pxengine
