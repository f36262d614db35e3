#include "backends/paradox/engine/px_database.h"

#include "backends/paradox/engine/px_table_impl.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <set>
#include <sstream>

#include "core/encoding.h"

namespace atlor::pxengine {

using namespace format;

namespace {

constexpr const char* kLockFile = "ATLORPX.LCK";
constexpr const char* kNewSuffix = ".atlor-new";
constexpr const char* kCommitSuffix = ".atlor-commit";

std::string ErrnoText() { return std::strerror(errno); }

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && SameTextAscii(s.substr(s.size() - suffix.size()), suffix);
}

std::vector<std::string> ListDir(const std::string& folder) {
  std::vector<std::string> names;
  DIR* d = ::opendir(folder.c_str());
  if (!d) throw EPxIoError("Cannot read the folder \"" + folder + "\": " + ErrnoText());
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(std::move(n));
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EPxIoError("Cannot open \"" + path + "\": " + ErrnoText());
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    throw EPxIoError("Cannot read \"" + path + "\": " + ErrnoText());
  }
  std::vector<uint8_t> data(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::read(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      throw EPxIoError("Cannot read \"" + path + "\": " + (n < 0 ? ErrnoText() : "unexpected end"));
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return data;
}

void WriteAll(int fd, const uint8_t* data, size_t size, uint64_t offset, const std::string& path) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EPxIoError("Cannot write \"" + path + "\": " + ErrnoText());
    done += static_cast<size_t>(n);
  }
}

void SyncDir(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::string Upper(std::string_view s) { return UpperAscii(s); }

std::string Extension(const std::string& file) {
  const size_t dot = file.rfind('.');
  return dot == std::string::npos ? std::string() : file.substr(dot);
}

std::string BaseName(const std::string& file) {
  const size_t dot = file.rfind('.');
  return dot == std::string::npos ? file : file.substr(0, dot);
}

// Is `ext` (with dot) one of a family's extensions?
bool IsFamilyExtension(std::string_view ext) {
  const std::string e = Upper(ext);
  if (e == ".DB" || e == ".MB" || e == ".PX" || e == ".VAL" || e == ".TV" || e == ".FAM") return true;
  if (e.size() == 4 && (e[1] == 'X' || e[1] == 'Y')) {
    if (e[2] == 'G') return std::isxdigit(static_cast<unsigned char>(e[3]));
    return std::isxdigit(static_cast<unsigned char>(e[2])) && std::isxdigit(static_cast<unsigned char>(e[3]));
  }
  return false;
}

void ValidateTableName(std::string_view name) {
  if (name.empty() || name.size() > 64 || name.find_first_of("/\\:*?\"<>|") != std::string_view::npos ||
      name.front() == '.')
    throw EPxError("Invalid table name \"" + std::string(name) + "\"");
}

// Stored bytes of the text in `codec`, for names in headers.
std::string HeaderText(const TextCodec& codec, const std::string& text) {
  return codec.Encode(text, "name \"" + text + "\"");
}

}  // namespace

// ---------------------------------------------------------------- opening

Database::Database(std::string folder, DatabaseOptions options)
    : folder_(std::move(folder)), options_(std::move(options)) {}

Database::~Database() {
  tables_.clear();
  if (lock_fd_ >= 0) {
    ::flock(lock_fd_, LOCK_UN);
    ::close(lock_fd_);
  }
}

std::unique_ptr<Database> Database::Open(const std::string& folder, DatabaseOptions options) {
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    throw EPxIoError("The database folder \"" + folder + "\" does not exist");
  std::unique_ptr<Database> db(new Database(folder, std::move(options)));
  if (!db->ReadOnly()) {
    const std::string lock = db->PathOf(kLockFile);
    db->lock_fd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (db->lock_fd_ < 0) throw EPxIoError("Cannot create the lock file \"" + lock + "\": " + ErrnoText());
    if (::flock(db->lock_fd_, LOCK_EX | LOCK_NB) != 0)
      throw EPxError("The database folder \"" + folder + "\" is being written by another program");
    db->Recover();
  }
  return db;
}

std::string Database::PathOf(std::string_view file) const {
  std::string p = folder_;
  if (!p.empty() && p.back() != '/') p += '/';
  p += file;
  return p;
}

std::string Database::TableKey(std::string_view name) const { return Upper(name); }

std::string Database::FindFile(std::string_view name, std::string_view ext) const {
  const std::string want = std::string(name) + std::string(ext);
  for (const auto& f : ListDir(folder_))
    if (SameTextAscii(f, want)) return f;
  return {};
}

std::vector<std::string> Database::FamilyFiles(std::string_view name) const {
  std::vector<std::string> out;
  for (const auto& f : ListDir(folder_)) {
    const size_t dot = f.rfind('.');
    if (dot == std::string::npos) continue;
    if (SameTextAscii(std::string_view(f).substr(0, dot), name) && IsFamilyExtension(std::string_view(f).substr(dot)))
      out.push_back(f);
  }
  return out;
}

std::vector<std::string> Database::ListTables() const {
  std::vector<std::string> out;
  for (const auto& f : ListDir(folder_))
    if (f.size() > 3 && EndsWithNoCase(f, ".DB")) out.push_back(f.substr(0, f.size() - 3));
  return out;
}

bool Database::TableExists(std::string_view name) const {
  if (tables_.count(TableKey(name))) return true;
  return !FindFile(name, ".DB").empty();
}

void Database::RequireWriter(const char* what) const {
  if (ReadOnly())
    throw EPxError(std::string("Cannot ") + what + ": the database \"" + folder_ + "\" is open for reading only");
}

void Database::RequireWritable(const std::string& table) const {
  if (ReadOnly())
    throw EPxError("Cannot change table \"" + table + "\": the database is open for reading only");
}

int Database::CodePageFor(const std::string& name, int header_code_page, int level) const {
  for (const auto& [t, cp] : options_.table_code_pages)
    if (SameTextAscii(t, name)) return cp;
  if (options_.code_page) return *options_.code_page;
  if (level < 40 || header_code_page == 0) return options_.default_format.code_page;
  if (!TextCodec::Supports(header_code_page))
    throw EPxError("Table \"" + name + "\" uses code page " + std::to_string(header_code_page) +
                   ", which is not supported; give the code page of its texts to open it");
  return header_code_page;
}

// ---------------------------------------------------------------- reading

namespace {

struct IndexFileInfo {
  IndexDef def;
  std::string file;
};

}  // namespace

TableInfo Database::ReadInfo(const std::string& name, FileHeader* out_header) const {
  const std::string db_file = FindFile(name, ".DB");
  if (db_file.empty()) throw EPxError("Table \"" + name + "\" does not exist");
  const std::string path = PathOf(db_file);
  // The header alone is enough for the definitions; read at most its stated size.
  std::vector<uint8_t> data = ReadWholeFile(path);
  FileHeader h = ParseHeader(path, data.data(), data.size());
  if (h.file_type != kFileTypeKeyedDb && h.file_type != kFileTypeUnkeyedDb)
    throw EPxCorrupt(path, "it is not a table file (file type " + std::to_string(h.file_type) + ")");
  if ((h.file_type == kFileTypeKeyedDb) != (h.key_field_count > 0))
    throw EPxCorrupt(path, "the file type does not match the key field count");
  TableInfo info;
  info.name = BaseName(db_file);
  const int cp = CodePageFor(info.name, h.code_page, h.level);
  const TextCodec codec(cp);
  info.format.level = h.level;
  info.format.block_size = h.BlockSize();
  info.format.code_page = cp;
  info.format.sort_order = h.sort_order;
  info.format.sort_order_name = h.sort_order_name;
  info.key_field_count = h.key_field_count;
  info.encrypted = h.encryption != 0;
  info.record_count = h.record_count;
  info.auto_increment = h.auto_increment;
  for (int i = 0; i < h.field_count; ++i) {
    FieldDef f;
    f.name = i < static_cast<int>(h.field_names.size()) ? codec.Decode(h.field_names[i]) : "Field" + std::to_string(i + 1);
    f.type = static_cast<FieldType>(h.fields[i].type);
    if (IsBlobType(f.type))
      f.size = h.fields[i].size - kBlobTailSize;
    else if (f.type == FieldType::kAlpha || f.type == FieldType::kBytes || f.type == FieldType::kBcd)
      f.size = h.fields[i].size;
    info.fields.push_back(f);
  }
  if (h.key_field_count > 0) {
    IndexDef pk;
    pk.primary = true;
    pk.unique = true;
    for (int i = 0; i < h.key_field_count; ++i) pk.fields.push_back(info.fields[i].name);
    info.indexes.push_back(pk);
  }
  // Secondary indexes, from the headers of the .Xnn and .XGn files.
  for (const auto& f : FamilyFiles(info.name)) {
    const std::string ext = Upper(Extension(f));
    if (ext.size() != 4 || ext[1] != 'X') continue;
    const std::string xpath = PathOf(f);
    std::vector<uint8_t> x = ReadWholeFile(xpath);
    FileHeader xh = ParseHeader(xpath, x.data(), x.size());
    if (xh.file_type != kFileTypeSecondaryX && xh.file_type != kFileTypeSecondaryXInc &&
        xh.file_type != kFileTypeCompositeX && xh.file_type != kFileTypeCompositeXInc)
      throw EPxCorrupt(xpath, "it is not a secondary index file");
    const int secondary = xh.key_field_count - h.key_field_count;
    if (secondary <= 0 || static_cast<size_t>(secondary) > xh.field_names.size())
      throw EPxCorrupt(xpath, "its key fields do not match the table");
    IndexDef def;
    for (int i = 0; i < secondary; ++i) {
      const std::string fname = codec.Decode(xh.field_names[i]);
      if (std::none_of(info.fields.begin(), info.fields.end(),
                       [&](const FieldDef& fd) { return SameTextAscii(fd.name, fname); }))
        throw EPxCorrupt(xpath, "it indexes an unknown field \"" + fname + "\"");
      def.fields.push_back(fname);
    }
    def.descending = xh.direction == 0x11;
    if (ext[2] == 'G') {
      def.name = codec.Decode(xh.index_name);
      if (def.name.empty()) def.name = def.fields[0];
    } else {
      def.name = def.fields[0];
    }
    info.indexes.push_back(def);
  }
  // Required fields from the .VAL file.
  const std::string val = FindFile(info.name, ".VAL");
  if (!val.empty()) {
    const std::string vpath = PathOf(val);
    std::vector<uint8_t> v = ReadWholeFile(vpath);
    ByteReader r(vpath, v.data(), v.size());
    const uint32_t footer = r.U32At(0x09, "footer position");
    const uint16_t count = r.U16At(footer, "validity count");
    const uint8_t entries = r.U8At(0x02, "validity count");
    (void)entries;
    // Each entry of the body is 29 bytes plus its values; only plain entries are understood.
    size_t pos = 0x35;
    for (uint16_t i = 0; i < count && pos + 29 <= footer; ++i) {
      const uint8_t* e = r.Span(pos, 29, "validity entry");
      const uint16_t field_no = r.U16At(footer + 6 + 2u * i, "validity field number");
      if (field_no >= 1 && field_no <= info.fields.size() && e[2]) info.fields[field_no - 1].required = true;
      const bool has_values = GetU32(e + 0x0C) || GetU32(e + 0x10) || GetU32(e + 0x14) || GetU32(e + 0x18);
      if (has_values) break;  // values of unknown length follow: stop here
      pos += 29;
    }
  }
  if (out_header) *out_header = std::move(h);
  return info;
}

TableInfo Database::ReadTableInfo(std::string_view name) const {
  auto it = tables_.find(TableKey(name));
  if (it != tables_.end()) return it->second->Info();
  return ReadInfo(std::string(name), nullptr);
}

std::unique_ptr<Table> Database::LoadTable(const std::string& name) const {
  if (FileExists(PathOf(name + kCommitSuffix)) || !FindFile(name, kCommitSuffix).empty())
    throw EPxError("Table \"" + name + "\" was being written when a program stopped; open the database for writing to finish that");
  std::unique_ptr<Table> t(new Table());
  t->db_ = const_cast<Database*>(this);
  t->folder_ = folder_;
  t->info_ = ReadInfo(name, &t->header_);
  const FileHeader& h = t->header_;
  const std::string db_path = PathOf(t->info_.name + Extension(FindFile(name, ".DB")));
  if (h.encryption != 0) {
    if (options_.passwords.empty()) throw EPxPassword("Table \"" + t->info_.name + "\" is protected by a password");
    throw EPxPassword("Table \"" + t->info_.name + "\" is encrypted; this engine cannot decrypt it");
  }
  t->codec_ = TextCodec(t->info_.format.code_page);
  t->Setup();
  if (t->record_size_ != h.record_size) throw EPxCorrupt(db_path, "the record size does not match its fields");

  std::vector<uint8_t> data = ReadWholeFile(db_path);
  ByteReader r(db_path, data.data(), data.size());
  const int bs = h.BlockSize();
  const int per_block = (bs - kBlockHeaderSize) / h.record_size;
  const uint64_t cap = std::min<uint64_t>(h.record_count, uint64_t{h.file_blocks} * per_block);
  t->arena_.reserve(static_cast<size_t>(cap) * h.record_size);
  t->live_.reserve(static_cast<size_t>(cap));
  std::vector<uint8_t> seen(h.file_blocks + 1u, 0);
  uint32_t block = h.first_block;
  if (h.record_count > 0 && block == 0) r.Fail("the table has records but no first block");
  while (block != 0) {
    if (block > h.file_blocks) r.Fail("a block number lies outside the file");
    if (seen[block]) r.Fail("the block chain runs in a circle");
    seen[block] = 1;
    const size_t off = h.header_size + static_cast<size_t>(block - 1) * bs;
    const uint8_t* b = r.Span(off, kBlockHeaderSize, "a data block");
    const uint16_t next = GetU16(b);
    const int16_t add = static_cast<int16_t>(GetU16(b + 4));
    if (add >= 0) {
      if (add % h.record_size != 0) r.Fail("a block's data size is not a multiple of the record size");
      const int n = add / h.record_size + 1;
      if (n > per_block) r.Fail("a block holds more records than fit in it");
      r.Span(off, kBlockHeaderSize + static_cast<size_t>(n) * h.record_size, "the records of a data block");
      for (int i = 0; i < n; ++i) {
        const RowId row = t->NewSlot();
        std::memcpy(t->Rec(row), b + kBlockHeaderSize + static_cast<size_t>(i) * h.record_size, h.record_size);
        t->live_[row] = 1;
        ++t->live_count_;
      }
    }
    block = next;
  }
  data.clear();
  data.shrink_to_fit();
  for (RowId row = 0; row < t->slot_count_; ++row) {
    if (t->primary_ && !t->primary_->insert(row).second) r.Fail("two records have the same key");
    for (auto& s : t->secondaries_)
      if (s) s->rows.insert(row);
  }
  // Primary index file: it must be there and be a sound index file.
  if (t->IsKeyed()) {
    const std::string px = FindFile(t->info_.name, ".PX");
    if (px.empty()) {
      if (options_.missing_index == MissingIndexPolicy::kError)
        throw EPxError("The primary index file \"" + PathOf(t->info_.name + ".PX") + "\" of table \"" +
                       t->info_.name + "\" is missing");
      t->dirty_ = true;
    } else {
      const std::string px_path = PathOf(px);
      std::vector<uint8_t> pdata = ReadWholeFile(px_path);
      FileHeader ph = ParseHeader(px_path, pdata.data(), pdata.size());
      if (ph.file_type != kFileTypePrimaryIndex) throw EPxCorrupt(px_path, "it is not a primary index file");
      if (ph.field_count != h.key_field_count) throw EPxCorrupt(px_path, "its key does not match the table");
      if (ph.root_block > ph.file_blocks || (h.record_count > 0 && ph.root_block == 0))
        throw EPxCorrupt(px_path, "the root block lies outside the file");
    }
  }
  // BLOB file.
  const bool has_blobs = std::any_of(t->info_.fields.begin(), t->info_.fields.end(),
                                     [](const FieldDef& f) { return IsBlobType(f.type); });
  const std::string mb = FindFile(t->info_.name, ".MB");
  t->mb_path_ = PathOf(mb.empty() ? t->info_.name + ".MB" : mb);
  if (has_blobs && !mb.empty()) {
    t->mb_fd_ = ::open(t->mb_path_.c_str(), (ReadOnly() ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (t->mb_fd_ < 0) throw EPxIoError("Cannot open \"" + t->mb_path_ + "\": " + ErrnoText());
    struct stat st;
    ::fstat(t->mb_fd_, &st);
    uint8_t first = 0xFF;
    if (st.st_size < kMbChunk || ::pread(t->mb_fd_, &first, 1, 0) != 1 || first != 0)
      throw EPxCorrupt(t->mb_path_, "it does not start with a BLOB file header");
    t->mb_exists_ = true;
  }
  return t;
}

Table& Database::OpenTable(std::string_view name) {
  const std::string key = TableKey(name);
  auto it = tables_.find(key);
  if (it != tables_.end()) return *it->second;
  std::unique_ptr<Table> t = LoadTable(std::string(name));
  if (in_transaction_) t->BeginTransaction();
  Table& ref = *t;
  tables_[key] = std::move(t);
  return ref;
}

// ---------------------------------------------------------------- writing

namespace {

// A file of blocks in the layout of .DB, .PX, .X and .Y files.
struct BlockFileBuilder {
  int block_size;
  int record_size;
  std::vector<std::vector<uint8_t>> blocks;  // without the file header

  // Appends records in order, filling blocks; returns the block number (1-based) of each.
  std::vector<uint16_t> AddChain(const std::vector<const uint8_t*>& recs, std::vector<std::pair<const uint8_t*, int>>* firsts) {
    std::vector<uint16_t> where;
    where.reserve(recs.size());
    const int per_block = (block_size - kBlockHeaderSize) / record_size;
    const size_t first_block = blocks.size();
    for (size_t i = 0; i < recs.size(); i += per_block) {
      const int n = static_cast<int>(std::min<size_t>(per_block, recs.size() - i));
      std::vector<uint8_t> b(block_size, 0);
      PutU16(b.data() + 4, static_cast<uint16_t>((n - 1) * record_size));
      for (int k = 0; k < n; ++k) std::memcpy(b.data() + kBlockHeaderSize + k * record_size, recs[i + k], record_size);
      blocks.push_back(std::move(b));
      if (blocks.size() > 0xFFFF) throw EPxError("The table is too large for its block size");
      const uint16_t num = static_cast<uint16_t>(blocks.size());
      if (firsts) firsts->emplace_back(recs[i], n);
      for (int k = 0; k < n; ++k) where.push_back(num);
    }
    // Chain the new blocks to each other.
    for (size_t k = first_block; k < blocks.size(); ++k) {
      PutU16(blocks[k].data(), k + 1 < blocks.size() ? static_cast<uint16_t>(k + 2) : 0);
      PutU16(blocks[k].data() + 2, k > first_block ? static_cast<uint16_t>(k) : 0);
    }
    return where;
  }
};

// Builds the blocks of an index (.PX, .Y) over the first keys of the data blocks. Returns the
// file bytes after the header; sets root, levels and entry count.
std::vector<uint8_t> BuildIndexBlocks(const std::vector<std::pair<const uint8_t*, int>>& firsts, int key_size,
                                      int block_size, uint16_t& root, uint8_t& levels, uint32_t& entries) {
  const int rs = key_size + 6;
  BlockFileBuilder b{block_size, rs, {}};
  std::vector<std::vector<uint8_t>> level_entries;  // entries of the current level
  for (size_t i = 0; i < firsts.size(); ++i) {
    std::vector<uint8_t> e(rs, 0);
    std::memcpy(e.data(), firsts[i].first, key_size);
    const Value blk(static_cast<int32_t>(i + 1)), cnt(static_cast<int32_t>(firsts[i].second));
    const TextCodec codec(1252);
    EncodeField(FieldType::kShort, blk, e.data() + key_size, 2, codec, "");
    EncodeField(FieldType::kShort, cnt, e.data() + key_size + 2, 2, codec, "");
    EncodeField(FieldType::kShort, Value(int32_t{0}), e.data() + key_size + 4, 2, codec, "");
    level_entries.push_back(std::move(e));
  }
  entries = 0;
  levels = 0;
  root = 0;
  if (firsts.empty()) return {};
  const TextCodec codec(1252);
  std::vector<int64_t> counts;  // records under each entry
  for (const auto& f : firsts) counts.push_back(f.second);
  while (true) {
    ++levels;
    std::vector<const uint8_t*> recs;
    for (const auto& e : level_entries) recs.push_back(e.data());
    entries += static_cast<uint32_t>(recs.size());
    std::vector<std::pair<const uint8_t*, int>> block_firsts;
    const size_t before = b.blocks.size();
    b.AddChain(recs, &block_firsts);
    if (b.blocks.size() - before == 1) {
      root = static_cast<uint16_t>(b.blocks.size());
      break;
    }
    // One entry per block of this level, for the level above.
    std::vector<std::vector<uint8_t>> upper;
    std::vector<int64_t> upper_counts;
    size_t k = 0;
    for (size_t blk = 0; blk < block_firsts.size(); ++blk) {
      int64_t sum = 0;
      for (int i = 0; i < block_firsts[blk].second; ++i) sum += counts[k++];
      std::vector<uint8_t> e(rs, 0);
      std::memcpy(e.data(), block_firsts[blk].first, key_size);
      EncodeField(FieldType::kShort, Value(static_cast<int32_t>(before + blk + 1)), e.data() + key_size, 2, codec, "");
      EncodeField(FieldType::kShort, Value(static_cast<int32_t>(std::min<int64_t>(sum, 32767))), e.data() + key_size + 2, 2, codec, "");
      EncodeField(FieldType::kShort, Value(int32_t{0}), e.data() + key_size + 4, 2, codec, "");
      upper.push_back(std::move(e));
      upper_counts.push_back(sum);
    }
    // The entries of `upper` point into blocks already copied; keep them alive for this round.
    level_entries = std::move(upper);
    counts = std::move(upper_counts);
    if (levels > 10) throw EPxError("The index is too deep");
  }
  std::vector<uint8_t> out;
  out.reserve(b.blocks.size() * block_size);
  for (auto& blk : b.blocks) out.insert(out.end(), blk.begin(), blk.end());
  return out;
}

struct NewFile {
  std::string final_name;  // file name in the folder
  std::vector<uint8_t> bytes;
};

std::vector<uint8_t> Assemble(const std::vector<uint8_t>& header, const std::vector<std::vector<uint8_t>>& blocks) {
  std::vector<uint8_t> out = header;
  for (const auto& b : blocks) out.insert(out.end(), b.begin(), b.end());
  return out;
}

std::string SecondaryExtension(const IndexDef& def, int field_number, int& composite_counter, bool x) {
  char buf[8];
  const bool single = def.fields.size() == 1 && !def.case_insensitive && SameTextAscii(def.name, def.fields[0]);
  if (single)
    std::snprintf(buf, sizeof buf, ".%c%02X", x ? 'X' : 'Y', field_number & 0xFF);
  else
    std::snprintf(buf, sizeof buf, ".%cG%X", x ? 'X' : 'Y', composite_counter & 0xF);
  return buf;
}

}  // namespace

void Database::WriteFamily(Table& t) {
  RequireWriter("write a table");
  const std::string& name = t.info_.name;
  const TableInfo& info = t.info_;
  const int rs = t.record_size_;
  const std::vector<RowId> rows = t.Rows();

  // 1. BLOBs written since the last flush go to new space at the end of the .MB file.
  std::unordered_map<uint64_t, BlobTail> new_tails;
  const bool has_blobs = std::any_of(info.fields.begin(), info.fields.end(), [](const FieldDef& f) { return IsBlobType(f.type); });
  bool mb_created = false;
  if (has_blobs && !t.mb_exists_) {
    // No .MB yet: every BLOB must fit its leader or be pending.
    for (RowId row : rows)
      for (int i = 0; i < t.FieldCount(); ++i) {
        if (!IsBlobType(info.fields[i].type) || t.pending_.count((uint64_t{row} << 8) | i)) continue;
        const BlobTail tail = ReadBlobTail(t.Rec(row) + t.layout_[i].offset, t.layout_[i].size);
        if (tail.offset != 0) throw EPxError("The BLOB file \"" + t.mb_path_ + "\" is missing; table \"" + name + "\" cannot be written");
      }
    t.mb_path_ = PathOf(name + ".MB");
    Step("write " + name + ".MB");
    t.mb_fd_ = ::open(t.mb_path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (t.mb_fd_ < 0) throw EPxIoError("Cannot create \"" + t.mb_path_ + "\": " + ErrnoText());
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
    WriteAll(t.mb_fd_, head.data(), head.size(), 0, t.mb_path_);
    t.mb_exists_ = true;
    mb_created = true;
  }
  if (!t.pending_.empty()) {
    struct stat st;
    if (::fstat(t.mb_fd_, &st) != 0) throw EPxIoError("Cannot read \"" + t.mb_path_ + "\": " + ErrnoText());
    uint64_t end = (static_cast<uint64_t>(st.st_size) + kMbChunk - 1) / kMbChunk * kMbChunk;
    std::vector<uint8_t> shared;  // the type-3 block being filled
    uint64_t shared_at = 0;
    int next_slot = 63;
    int used16 = 0x150 / 16;
    auto close_shared = [&]() {
      if (shared.empty()) return;
      WriteAll(t.mb_fd_, shared.data(), shared.size(), shared_at, t.mb_path_);
      shared.clear();
    };
    Step("write " + name + ".MB");
    for (RowId row : rows) {
      for (int i = 0; i < t.FieldCount(); ++i) {
        auto it = t.pending_.find((uint64_t{row} << 8) | i);
        if (it == t.pending_.end() || !it->second) continue;
        Bytes data = *it->second;
        if (info.fields[i].type == FieldType::kGraphic) {
          Bytes prefixed = {1, 0, 0, 1, 0, 0, 0, 0};
          PutU32(prefixed.data() + 4, static_cast<uint32_t>(data.size()));
          prefixed.insert(prefixed.end(), data.begin(), data.end());
          data = std::move(prefixed);
        }
        const int leader = t.layout_[i].size - kBlobTailSize;
        if (data.size() <= static_cast<size_t>(leader)) continue;  // kept in the record
        if (data.size() > 0x7FFFFFF0u) throw EPxError("A BLOB of table \"" + name + "\" is too large");
        const uint16_t mod = 1;
        if (data.size() <= 2048) {
          const int chunks16 = static_cast<int>((data.size() + 15) / 16);
          if (shared.empty() || next_slot < 0 || used16 + chunks16 > kMbChunk / 16) {
            close_shared();
            shared.assign(kMbChunk, 0);
            shared[0] = 3;
            PutU16(shared.data() + 1, 1);
            shared_at = end;
            end += kMbChunk;
            next_slot = 63;
            used16 = 0x150 / 16;
          }
          std::memcpy(shared.data() + used16 * 16, data.data(), data.size());
          uint8_t* e = shared.data() + 12 + 5 * next_slot;
          e[0] = static_cast<uint8_t>(used16);
          e[1] = static_cast<uint8_t>(chunks16);
          PutU16(e + 2, mod);
          e[4] = static_cast<uint8_t>(data.size() - (chunks16 - 1) * 16);
          new_tails[(uint64_t{row} << 8) | i] =
              BlobTail{static_cast<uint32_t>(shared_at | next_slot), static_cast<uint32_t>(data.size()), mod};
          used16 += chunks16;
          --next_slot;
        } else {
          const uint64_t chunks = (data.size() + 9 + kMbChunk - 1) / kMbChunk;
          if (chunks > 0xFFFF || end + chunks * kMbChunk > 0xFFFFFF00u)
            throw EPxError("The BLOB file of table \"" + name + "\" is too large");
          std::vector<uint8_t> head(9, 0);
          head[0] = 2;
          PutU16(head.data() + 1, static_cast<uint16_t>(chunks));
          PutU32(head.data() + 3, static_cast<uint32_t>(data.size()));
          PutU16(head.data() + 7, mod);
          WriteAll(t.mb_fd_, head.data(), head.size(), end, t.mb_path_);
          WriteAll(t.mb_fd_, data.data(), data.size(), end + 9, t.mb_path_);
          // Pad the last chunk so the file ends on a chunk boundary.
          const uint64_t stop = end + chunks * kMbChunk;
          const uint8_t zero = 0;
          WriteAll(t.mb_fd_, &zero, 1, stop - 1, t.mb_path_);
          new_tails[(uint64_t{row} << 8) | i] =
              BlobTail{static_cast<uint32_t>(end | 0xFF), static_cast<uint32_t>(data.size()), mod};
          end = stop;
        }
        if (end > 0xFFFFFF00u) throw EPxError("The BLOB file of table \"" + name + "\" is too large");
      }
    }
    close_shared();
  }
  if (has_blobs) {
    Step("sync " + name + ".MB");
    if (::fsync(t.mb_fd_) != 0) throw EPxIoError("Cannot write \"" + t.mb_path_ + "\": " + ErrnoText());
  }

  // 2. The records in table order, with their new BLOB locations.
  std::vector<uint8_t> out_records(rows.size() * static_cast<size_t>(rs));
  std::vector<const uint8_t*> recs(rows.size());
  for (size_t k = 0; k < rows.size(); ++k) {
    uint8_t* dst = out_records.data() + k * rs;
    std::memcpy(dst, t.Rec(rows[k]), rs);
    for (int i = 0; i < t.FieldCount(); ++i) {
      if (!IsBlobType(info.fields[i].type)) continue;
      auto nt = new_tails.find((uint64_t{rows[k]} << 8) | i);
      if (nt != new_tails.end()) WriteBlobTail(dst + t.layout_[i].offset, t.layout_[i].size, nt->second);
    }
    recs[k] = dst;
  }

  const TextCodec& codec = t.codec_;
  FileHeader h = t.header_;
  h.record_size = static_cast<uint16_t>(rs);
  h.file_type = t.IsKeyed() ? kFileTypeKeyedDb : kFileTypeUnkeyedDb;
  h.block_kib = static_cast<uint8_t>(info.format.block_size / 1024);
  h.level = info.format.level;
  h.record_count = static_cast<uint32_t>(rows.size());
  h.key_field_count = static_cast<uint16_t>(info.key_field_count);
  h.code_page = info.format.code_page;
  h.sort_order = info.format.sort_order;
  h.sort_order_name = info.format.sort_order_name;
  h.auto_increment = info.auto_increment;
  h.change_counter = static_cast<uint16_t>(h.change_counter + 1);
  h.change_count1 = static_cast<uint8_t>(h.change_count1 + 1);
  if (h.change_count1 < 2 && t.IsKeyed()) h.change_count1 = 2;
  h.update_time = static_cast<uint32_t>(std::time(nullptr));
  h.encryption = 0;
  h.index_field = 0;
  h.root_block = 0;
  h.index_levels = 0;
  h.direction = 0;
  h.index_name.clear();
  h.table_name = name + ".DB";
  h.fields.clear();
  h.field_names.clear();
  for (const auto& f : info.fields) {
    h.fields.push_back({static_cast<uint8_t>(f.type), static_cast<uint8_t>(f.type == FieldType::kBcd ? f.size : f.StoredSize())});
    h.field_names.push_back(HeaderText(codec, f.name));
  }
  h.header_size = 0;

  std::vector<NewFile> files;
  BlockFileBuilder data{info.format.block_size, rs, {}};
  std::vector<std::pair<const uint8_t*, int>> firsts;
  const std::vector<uint16_t> block_of = data.AddChain(recs, &firsts);
  h.file_blocks = h.blocks_used = h.last_block = static_cast<uint16_t>(data.blocks.size());
  h.first_block = data.blocks.empty() ? 0 : 1;
  files.push_back({name + ".DB", Assemble(BuildHeader(h), data.blocks)});

  // 3. Primary index.
  const int index_kib = std::min(4, static_cast<int>(h.block_kib));
  if (t.IsKeyed()) {
    FileHeader p;
    p.file_type = kFileTypePrimaryIndex;
    p.level = h.level;
    p.block_kib = static_cast<uint8_t>(index_kib);
    p.record_size = static_cast<uint16_t>(t.key_size_ + 6);
    for (int i = 0; i < info.key_field_count; ++i) p.fields.push_back(h.fields[i]);
    p.sort_order = h.sort_order;
    p.index_stamp = h.change_count1;
    p.change_count1 = 1;
    p.table_name = name + ".PX";
    std::vector<uint8_t> blocks =
        BuildIndexBlocks(firsts, t.key_size_, index_kib * 1024, p.root_block, p.index_levels, p.record_count);
    p.file_blocks = p.blocks_used = p.last_block = static_cast<uint16_t>(blocks.size() / (index_kib * 1024));
    p.first_block = p.file_blocks ? 1 : 0;
    std::vector<uint8_t> bytes = BuildHeader(p);
    bytes.insert(bytes.end(), blocks.begin(), blocks.end());
    files.push_back({name + ".PX", std::move(bytes)});
  }

  // 4. Secondary indexes: .Xnn/.XGn hold (indexed fields, key fields, block number) in key
  //    order, .Ynn/.YGn index them as the .PX indexes the .DB.
  int composite = 0;
  std::vector<std::vector<uint8_t>> keep_alive;
  for (size_t ix = 0; ix < info.indexes.size(); ++ix) {
    const IndexDef& def = info.indexes[ix];
    if (def.primary) continue;
    const auto& less = t.secondaries_[ix]->rows.key_comp();
    const int first_field = less.fields[0] + 1;
    const std::string xext = SecondaryExtension(def, first_field, composite, true);
    const std::string yext = SecondaryExtension(def, first_field, composite, false);
    const bool is_composite = xext[2] == 'G';
    if (is_composite) ++composite;
    FileHeader x;
    x.file_type = is_composite ? kFileTypeCompositeXInc : kFileTypeSecondaryXInc;
    x.level = h.level;
    x.block_kib = static_cast<uint8_t>(index_kib);
    x.code_page = h.code_page;
    x.sort_order = h.sort_order;
    x.sort_order_name = h.sort_order_name;
    x.index_field = static_cast<uint8_t>(first_field);
    x.direction = h.level == 70 ? (def.descending ? 0x11 : 0x01) : 0;
    x.change_count1 = h.change_count1;
    x.change_count2 = h.change_count2;
    x.update_time = h.update_time;
    x.table_name = name + xext;
    if (is_composite) x.index_name = HeaderText(codec, def.name);
    int key_size = 0;
    for (int f : less.fields) {
      x.fields.push_back(h.fields[f]);
      x.field_names.push_back(h.field_names[f]);
      key_size += t.layout_[f].size;
    }
    for (int f = 0; f < info.key_field_count; ++f) {
      x.fields.push_back(h.fields[f]);
      x.field_names.push_back(h.field_names[f]);
      key_size += t.layout_[f].size;
    }
    x.fields.push_back({static_cast<uint8_t>(FieldType::kShort), 2});
    x.field_names.push_back("Blk Num");
    x.key_field_count = static_cast<uint16_t>(less.fields.size() + info.key_field_count);
    x.record_size = static_cast<uint16_t>(key_size + 2);
    // Entries in index order.
    std::unordered_map<RowId, uint16_t> block_by_row;
    block_by_row.reserve(rows.size());
    for (size_t k = 0; k < rows.size(); ++k) block_by_row[rows[k]] = block_of[k];
    std::vector<uint8_t> xrecs(t.secondaries_[ix]->rows.size() * x.record_size);
    std::vector<const uint8_t*> xptr;
    size_t k = 0;
    for (RowId row : t.secondaries_[ix]->rows) {
      uint8_t* e = xrecs.data() + k++ * x.record_size;
      const uint8_t* src = t.Rec(row);  // BLOBs are never indexed: the stored record will do
      size_t pos = 0;
      for (int f : less.fields) {
        std::memcpy(e + pos, src + t.layout_[f].offset, t.layout_[f].size);
        pos += t.layout_[f].size;
      }
      std::memcpy(e + pos, src, t.key_size_);
      pos += t.key_size_;
      EncodeField(FieldType::kShort, Value(static_cast<int32_t>(block_by_row[row])), e + pos, 2, codec, "Blk Num");
      xptr.push_back(e);
    }
    // Rows with equal indexed values come in primary-key order.
    const size_t xkey = static_cast<size_t>(key_size);
    std::stable_sort(xptr.begin(), xptr.end(), [&](const uint8_t* a, const uint8_t* b) {
      const int c = std::memcmp(a, b, xkey);
      return def.descending ? c > 0 : c < 0;
    });
    BlockFileBuilder xb{index_kib * 1024, x.record_size, {}};
    std::vector<std::pair<const uint8_t*, int>> xfirsts;
    xb.AddChain(xptr, &xfirsts);
    x.record_count = static_cast<uint32_t>(xptr.size());
    x.file_blocks = x.blocks_used = x.last_block = static_cast<uint16_t>(xb.blocks.size());
    x.first_block = xb.blocks.empty() ? 0 : 1;
    files.push_back({name + xext, Assemble(BuildHeader(x), xb.blocks)});
    FileHeader y;
    y.file_type = is_composite ? kFileTypeCompositeY : kFileTypeSecondaryY;
    y.level = h.level;
    y.block_kib = static_cast<uint8_t>(index_kib);
    y.record_size = static_cast<uint16_t>(key_size + 6);
    for (size_t f = 0; f + 1 < x.fields.size(); ++f) y.fields.push_back(x.fields[f]);
    y.sort_order = h.sort_order;
    y.index_stamp = x.change_count1;
    y.table_name = name + yext;
    std::vector<uint8_t> yblocks =
        BuildIndexBlocks(xfirsts, key_size, index_kib * 1024, y.root_block, y.index_levels, y.record_count);
    y.file_blocks = y.blocks_used = y.last_block = static_cast<uint16_t>(yblocks.size() / (index_kib * 1024));
    y.first_block = y.file_blocks ? 1 : 0;
    std::vector<uint8_t> ybytes = BuildHeader(y);
    ybytes.insert(ybytes.end(), yblocks.begin(), yblocks.end());
    files.push_back({name + yext, std::move(ybytes)});
    keep_alive.push_back(std::move(xrecs));
  }

  // 5. Required fields: a new table with required fields gets a .VAL file.
  const bool any_required = std::any_of(info.fields.begin(), info.fields.end(), [](const FieldDef& f) { return f.required; });
  const std::string old_val = FindFile(name, ".VAL");
  if (any_required && old_val.empty()) {
    std::vector<uint8_t> v(0x35, 0);
    v[0] = h.change_count2;
    v[1] = VersionByteForLevel(h.level);
    int count = 0;
    for (size_t i = 0; i < info.fields.size(); ++i) {
      if (!info.fields[i].required) continue;
      std::vector<uint8_t> e(29, 0);
      e[0] = static_cast<uint8_t>(i);
      e[2] = 1;
      v.insert(v.end(), e.begin(), e.end());
      ++count;
    }
    v[2] = static_cast<uint8_t>(count);
    PutU32(v.data() + 9, static_cast<uint32_t>(v.size()));
    std::vector<uint8_t> footer(6, 0);
    PutU16(footer.data(), static_cast<uint16_t>(count));
    for (size_t i = 0; i < info.fields.size(); ++i) {
      if (!info.fields[i].required) continue;
      footer.push_back(static_cast<uint8_t>(i + 1));
      footer.push_back(0);
    }
    for (const auto& f : h.fields) {
      footer.push_back(f.type);
      footer.push_back(f.size);
    }
    std::string tn = name + ".DB";
    tn.resize(79, '\0');
    footer.insert(footer.end(), tn.begin(), tn.end());
    for (const auto& n : h.field_names) {
      footer.insert(footer.end(), n.begin(), n.end());
      footer.push_back(0);
    }
    v.insert(v.end(), footer.begin(), footer.end());
    files.push_back({name + ".VAL", std::move(v)});
  }

  // 6. New files beside the old ones, synced; then the replacement.
  std::vector<std::pair<std::string, std::string>> renames;
  std::vector<std::string> written;
  try {
    for (const auto& f : files) {
      const std::string tmp = f.final_name + kNewSuffix;
      const std::string path = PathOf(tmp);
      Step("write " + f.final_name);
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0) throw EPxIoError("Cannot create \"" + path + "\": " + ErrnoText());
      written.push_back(path);
      try {
        WriteAll(fd, f.bytes.data(), f.bytes.size(), 0, path);
        Step("sync " + f.final_name);
        if (::fsync(fd) != 0) throw EPxIoError("Cannot write \"" + path + "\": " + ErrnoText());
      } catch (...) {
        ::close(fd);
        throw;
      }
      if (::close(fd) != 0) throw EPxIoError("Cannot write \"" + path + "\": " + ErrnoText());
      // Replace the file of any case the folder holds.
      std::string final_name = f.final_name;
      const std::string existing = FindFile(BaseName(f.final_name), Extension(f.final_name));
      if (!existing.empty()) final_name = existing;
      renames.emplace_back(tmp, final_name);
    }
  } catch (...) {
    for (const auto& p : written) ::unlink(p.c_str());
    throw;
  }
  // Old secondary index files that the new family does not have.
  std::vector<std::string> removals;
  for (const auto& f : FamilyFiles(name)) {
    const std::string ext = Upper(Extension(f));
    if (ext.size() != 4 || (ext[1] != 'X' && ext[1] != 'Y')) continue;
    if (std::none_of(renames.begin(), renames.end(), [&](const auto& r) { return SameTextAscii(r.second, f); }))
      removals.push_back(f);
  }
  try {
    CommitReplacements(name, renames, removals);
  } catch (...) {
    if (!FileExists(PathOf(name + kCommitSuffix)))
      for (const auto& p : written) ::unlink(p.c_str());
    throw;
  }
  (void)mb_created;

  // 7. The table now matches its files.
  for (const auto& [k, tail] : new_tails) {
    const RowId row = static_cast<RowId>(k >> 8);
    const int field = static_cast<int>(k & 0xFF);
    WriteBlobTail(t.Rec(row) + t.layout_[field].offset, t.layout_[field].size, tail);
  }
  t.pending_.clear();
  h.header_size = static_cast<uint16_t>(GetU16(files[0].bytes.data() + 2));
  t.header_ = h;
  t.dirty_ = false;
}

void Database::CommitReplacements(const std::string& name, const std::vector<std::pair<std::string, std::string>>& renames,
                                  const std::vector<std::string>& removals) {
  // The note that lists the replacements makes them all-or-nothing: once it exists, a writer
  // opening the folder completes them.
  std::string note;
  for (const auto& [from, to] : renames) note += "R\t" + from + "\t" + to + "\n";
  for (const auto& f : removals) note += "D\t" + f + "\n";
  const std::string note_path = PathOf(name + kCommitSuffix);
  const std::string note_tmp = note_path + kNewSuffix;
  Step("commit " + name);
  {
    const int fd = ::open(note_tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw EPxIoError("Cannot create \"" + note_tmp + "\": " + ErrnoText());
    try {
      WriteAll(fd, reinterpret_cast<const uint8_t*>(note.data()), note.size(), 0, note_tmp);
      if (::fsync(fd) != 0) throw EPxIoError("Cannot write \"" + note_tmp + "\": " + ErrnoText());
    } catch (...) {
      ::close(fd);
      ::unlink(note_tmp.c_str());
      throw;
    }
    ::close(fd);
  }
  if (::rename(note_tmp.c_str(), note_path.c_str()) != 0) {
    ::unlink(note_tmp.c_str());
    throw EPxIoError("Cannot create \"" + note_path + "\": " + ErrnoText());
  }
  SyncDir(folder_);
  for (const auto& [from, to] : renames) {
    Step("replace " + to);
    if (::rename(PathOf(from).c_str(), PathOf(to).c_str()) != 0)
      throw EPxIoError("Cannot replace \"" + PathOf(to) + "\": " + ErrnoText());
  }
  for (const auto& f : removals) {
    Step("remove " + f);
    if (::unlink(PathOf(f).c_str()) != 0 && errno != ENOENT)
      throw EPxIoError("Cannot remove \"" + PathOf(f) + "\": " + ErrnoText());
  }
  SyncDir(folder_);
  ::unlink(note_path.c_str());
  SyncDir(folder_);
}

void Database::Recover() {
  const std::vector<std::string> files = ListDir(folder_);
  for (const auto& f : files) {
    if (!EndsWithNoCase(f, kCommitSuffix)) continue;
    const std::string note_path = PathOf(f);
    std::vector<uint8_t> bytes = ReadWholeFile(note_path);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    while (std::getline(in, line)) {
      std::vector<std::string> parts;
      std::istringstream ls(line);
      std::string part;
      while (std::getline(ls, part, '\t')) parts.push_back(part);
      auto safe = [](const std::string& s) { return !s.empty() && s.find('/') == std::string::npos && s != "." && s != ".."; };
      if (parts.size() == 3 && parts[0] == "R" && safe(parts[1]) && safe(parts[2])) {
        if (FileExists(PathOf(parts[1])) && ::rename(PathOf(parts[1]).c_str(), PathOf(parts[2]).c_str()) != 0)
          throw EPxIoError("Cannot finish writing \"" + PathOf(parts[2]) + "\": " + ErrnoText());
      } else if (parts.size() == 2 && parts[0] == "D" && safe(parts[1])) {
        ::unlink(PathOf(parts[1]).c_str());
      }
    }
    SyncDir(folder_);
    ::unlink(note_path.c_str());
  }
  for (const auto& f : ListDir(folder_))
    if (EndsWithNoCase(f, kNewSuffix)) ::unlink(PathOf(f).c_str());
  SyncDir(folder_);
}

void Database::Flush() {
  if (in_transaction_) throw EPxError("Cannot flush inside a transaction; commit it");
  for (auto& [key, t] : tables_)
    if (t->dirty_) WriteFamily(*t);
}

void Database::FlushTable(std::string_view name) {
  if (in_transaction_) throw EPxError("Cannot flush inside a transaction; commit it");
  auto it = tables_.find(TableKey(name));
  if (it != tables_.end() && it->second->dirty_) WriteFamily(*it->second);
}

// ---------------------------------------------------------------- folder operations

TableFormat Database::FolderFormat() const {
  for (const auto& t : tables_) return t.second->info_.format;
  for (const auto& name : ListTables()) {
    try {
      return ReadInfo(name, nullptr).format;
    } catch (const EPxError&) {
      // A damaged table says nothing about the folder's format.
    }
  }
  return options_.default_format;
}

void Database::CreateTable(std::string_view name_view, const std::vector<FieldDef>& fields,
                           const std::vector<IndexDef>& indexes, std::optional<TableFormat> format) {
  RequireWriter("create a table");
  if (in_transaction_) throw EPxError("Tables cannot be created inside a transaction");
  const std::string name(name_view);
  ValidateTableName(name);
  if (TableExists(name)) throw EPxError("Table \"" + name + "\" already exists");
  if (fields.empty() || fields.size() > 255) throw EPxError("Table \"" + name + "\" needs 1 to 255 fields");
  TableFormat fmt = format ? *format : FolderFormat();
  if (fmt.level < 40) fmt.level = 70;
  for (const auto& f : fields) fmt.level = std::max(fmt.level, MinimumLevel(f.type));
  if (!TextCodec::Supports(fmt.code_page)) fmt.code_page = options_.default_format.code_page;
  const int kib = fmt.block_size / 1024;
  if (fmt.block_size % 1024 || !((kib >= 1 && kib <= 4) || (fmt.level == 70 && (kib == 16 || kib == 32))))
    throw EPxError("Invalid block size " + std::to_string(fmt.block_size));

  std::unique_ptr<Table> t(new Table());
  t->db_ = this;
  t->folder_ = folder_;
  t->codec_ = TextCodec(fmt.code_page);
  TableInfo& info = t->info_;
  info.name = name;
  info.format = fmt;
  std::set<std::string> seen;
  int record_size = 0;
  for (const auto& f : fields) {
    if (f.name.empty() || Utf8Length(f.name) > 25) throw EPxError("Invalid field name \"" + f.name + "\"");
    if (!seen.insert(Upper(f.name)).second) throw EPxError("Duplicate field name \"" + f.name + "\"");
    FieldDef d = f;
    switch (f.type) {
      case FieldType::kAlpha:
      case FieldType::kBytes:
        if (f.size < 1 || f.size > 255)
          throw EPxError("Field \"" + f.name + "\": the size must be 1 to 255, not " + std::to_string(f.size));
        break;
      case FieldType::kMemo:
      case FieldType::kFmtMemo:
      case FieldType::kBinary:
      case FieldType::kOle:
      case FieldType::kGraphic: {
        const int min_leader = (f.type == FieldType::kMemo || f.type == FieldType::kFmtMemo) ? 1 : 0;
        if (f.size < min_leader || f.size > 240) throw EPxError("Field \"" + f.name + "\": invalid BLOB leader size");
        break;
      }
      case FieldType::kBcd:
        throw EPxError("Field \"" + f.name + "\": BCD fields cannot be created");
      default:
        d.size = 0;
    }
    info.fields.push_back(d);
    record_size += d.StoredSize();
  }
  if (record_size + kBlockHeaderSize > fmt.block_size) throw EPxError("The records of table \"" + name + "\" do not fit a block");
  // Indexes.
  for (const auto& idx : indexes) {
    if (idx.fields.empty()) throw EPxError("An index of table \"" + name + "\" has no fields");
    for (const auto& fn : idx.fields)
      if (std::none_of(info.fields.begin(), info.fields.end(), [&](const FieldDef& f) { return SameTextAscii(f.name, fn); }))
        throw EPxError("An index of table \"" + name + "\" names an unknown field \"" + fn + "\"");
    if (idx.primary) {
      if (info.key_field_count) throw EPxError("Table \"" + name + "\" has two primary indexes");
      for (size_t i = 0; i < idx.fields.size(); ++i)
        if (i >= info.fields.size() || !SameTextAscii(idx.fields[i], info.fields[i].name))
          throw EPxError("The key fields of table \"" + name + "\" must be its first fields, in order");
      for (size_t i = 0; i < idx.fields.size(); ++i)
        if (IsBlobType(info.fields[i].type)) throw EPxError("A BLOB field cannot be a key field");
      info.key_field_count = static_cast<int>(idx.fields.size());
    }
  }
  for (const auto& idx : indexes) {
    IndexDef d = idx;
    if (d.primary) {
      d.unique = true;
      d.name.clear();
      info.indexes.insert(info.indexes.begin(), d);
      continue;
    }
    if (!info.key_field_count) throw EPxError("Secondary indexes need a primary key (table \"" + name + "\")");
    if (d.name.empty()) d.name = d.fields.size() == 1 ? d.fields[0] : "Ind" + std::to_string(info.indexes.size());
    for (const auto& fn : d.fields)
      for (const auto& f : info.fields)
        if (SameTextAscii(f.name, fn) && IsBlobType(f.type)) throw EPxError("A BLOB field cannot be indexed");
    info.indexes.push_back(d);
  }
  int composite = 0;
  for (const auto& d : info.indexes)
    if (!d.primary && !(d.fields.size() == 1 && SameTextAscii(d.name, d.fields[0]) && !d.case_insensitive)) ++composite;
  if (composite > 16) throw EPxError("Table \"" + name + "\" has too many composite indexes");
  t->Setup();
  t->header_.change_count1 = 1;
  t->header_.change_count2 = 1;
  t->dirty_ = true;
  WriteFamily(*t);
  tables_[TableKey(name)] = std::move(t);
}

void Database::DeleteTable(std::string_view name_view) {
  RequireWriter("delete a table");
  if (in_transaction_) throw EPxError("Tables cannot be deleted inside a transaction");
  const std::string name(name_view);
  if (!TableExists(name)) throw EPxError("Table \"" + name + "\" does not exist");
  tables_.erase(TableKey(name));
  const std::vector<std::string> files = FamilyFiles(name);
  CommitReplacements(name, {}, files);
}

void Database::RenameTable(std::string_view old_view, std::string_view new_view) {
  RequireWriter("rename a table");
  if (in_transaction_) throw EPxError("Tables cannot be renamed inside a transaction");
  const std::string old_name(old_view), new_name(new_view);
  ValidateTableName(new_name);
  if (!TableExists(old_name)) throw EPxError("Table \"" + old_name + "\" does not exist");
  if (!SameTextAscii(old_name, new_name) && TableExists(new_name))
    throw EPxError("Table \"" + new_name + "\" already exists");
  // Flush pending changes first: they belong to the old files.
  auto it = tables_.find(TableKey(old_name));
  if (it != tables_.end() && it->second->dirty_) WriteFamily(*it->second);
  std::vector<std::pair<std::string, std::string>> renames;
  for (const auto& f : FamilyFiles(old_name)) renames.emplace_back(f, new_name + Upper(Extension(f)));
  CommitReplacements(old_name, renames, {});
  // The name inside the headers.
  for (const auto& [from, to] : renames) {
    const std::string ext = Upper(Extension(to));
    if (ext == ".MB" || ext == ".VAL") continue;
    const std::string path = PathOf(to);
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) continue;
    uint8_t head[0x800];
    const ssize_t n = ::pread(fd, head, sizeof head, 0);
    try {
      if (n >= 0x58) {
        const FileHeader h = ParseHeader(path, head, static_cast<size_t>(n));
        const bool names = !h.IsIndexFile();
        const size_t pos = (HasDataHeader(h.level, h.file_type) ? 0x78 : 0x58) + 2 * h.field_count + 4 +
                           (names ? 4 * h.field_count : 0);
        std::string tn = new_name + ext;
        const size_t len = h.level == 70 ? 261 : 79;
        tn.resize(len - 1, '\0');
        tn.resize(len, '\0');
        WriteAll(fd, reinterpret_cast<const uint8_t*>(tn.data()), len, pos, path);
        ::fsync(fd);
      }
    } catch (const EPxCorrupt&) {
      // A header this engine cannot read keeps its old name inside.
    }
    ::close(fd);
  }
  if (it != tables_.end()) {
    std::unique_ptr<Table> t = std::move(it->second);
    tables_.erase(it);
    t->info_.name = new_name;
    t->header_.table_name = new_name + ".DB";
    t->mb_path_ = PathOf(new_name + ".MB");
    tables_[TableKey(new_name)] = std::move(t);
  }
}

// ---------------------------------------------------------------- transactions

void Database::StartTransaction() {
  RequireWriter("start a transaction");
  if (in_transaction_) throw EPxError("A transaction is already active");
  in_transaction_ = true;
  for (auto& [k, t] : tables_) t->BeginTransaction();
}

void Database::Commit() {
  if (!in_transaction_) throw EPxError("No transaction is active");
  in_transaction_ = false;
  try {
    for (auto& [k, t] : tables_)
      if (t->dirty_) WriteFamily(*t);
  } catch (...) {
    in_transaction_ = true;  // still undoable
    throw;
  }
  for (auto& [k, t] : tables_) t->EndTransaction(false);
}

void Database::Rollback() {
  if (!in_transaction_) throw EPxError("No transaction is active");
  for (auto& [k, t] : tables_) t->EndTransaction(true);
  in_transaction_ = false;
}

}  // namespace atlor::pxengine
