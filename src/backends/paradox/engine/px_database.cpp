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

// The header of a table or index file: its first header-size bytes (or fewer, when the file is
// shorter; ParseHeader then reports it). `file_size` receives the size of the file.
std::vector<uint8_t> ReadHeaderBytes(const std::string& path, uint64_t* file_size = nullptr) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EPxIoError("Cannot open \"" + path + "\": " + ErrnoText());
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    throw EPxIoError("Cannot read \"" + path + "\": " + ErrnoText());
  }
  if (file_size) *file_size = static_cast<uint64_t>(st.st_size);
  auto read_at = [&](std::vector<uint8_t>& out, size_t from) {
    size_t done = from;
    while (done < out.size()) {
      const ssize_t n = ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        ::close(fd);
        throw EPxIoError("Cannot read \"" + path + "\": " + ErrnoText());
      }
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    out.resize(done);
  };
  std::vector<uint8_t> data(std::min<uint64_t>(static_cast<uint64_t>(st.st_size), 0x58));
  read_at(data, 0);
  if (data.size() >= 4) {
    const size_t header_size = std::min<uint64_t>(GetU16(data.data() + 2), static_cast<uint64_t>(st.st_size));
    if (header_size > data.size()) {
      const size_t had = data.size();
      data.resize(header_size);
      read_at(data, had);
    }
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
  // The header alone is enough for the definitions.
  uint64_t file_size = 0;
  std::vector<uint8_t> data = ReadHeaderBytes(path, &file_size);
  FileHeader h = ParseHeader(path, data.data(), data.size(), file_size);
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
    uint64_t x_size = 0;
    std::vector<uint8_t> x = ReadHeaderBytes(xpath, &x_size);
    FileHeader xh = ParseHeader(xpath, x.data(), x.size(), x_size);
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

  // The records, block by block along the chain.
  const int fd = ::open(db_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EPxIoError("Cannot open \"" + db_path + "\": " + ErrnoText());
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0) throw EPxIoError("Cannot read \"" + db_path + "\": " + ErrnoText());
  const uint64_t file_size = static_cast<uint64_t>(st.st_size);
  auto fail = [&](const std::string& detail) { throw EPxCorrupt(db_path, detail); };
  const int bs = h.BlockSize();
  const int per_block = (bs - kBlockHeaderSize) / h.record_size;
  const uint64_t cap = std::min<uint64_t>(h.record_count, uint64_t{h.file_blocks} * per_block);
  t->live_.reserve(static_cast<size_t>(cap));
  std::vector<uint8_t> seen(h.file_blocks + 1u, 0);
  std::vector<uint8_t> buf(static_cast<size_t>(bs));
  uint32_t block = h.first_block;
  if (h.record_count > 0 && block == 0) fail("the table has records but no first block");
  while (block != 0) {
    if (block > h.file_blocks) fail("a block number lies outside the file");
    if (seen[block]) fail("the block chain runs in a circle");
    seen[block] = 1;
    const uint64_t off = h.header_size + static_cast<uint64_t>(block - 1) * bs;
    if (off + kBlockHeaderSize > file_size)
      fail("a data block lies outside the file (offset " + std::to_string(off) + ", file size " +
           std::to_string(file_size) + ")");
    const size_t avail = static_cast<size_t>(std::min<uint64_t>(bs, file_size - off));
    size_t got = 0;
    while (got < avail) {
      const ssize_t n = ::pread(fd, buf.data() + got, avail - got, static_cast<off_t>(off + got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw EPxIoError("Cannot read \"" + db_path + "\": " + ErrnoText());
      if (n == 0) fail("the file ends inside a data block");
      got += static_cast<size_t>(n);
    }
    const uint8_t* b = buf.data();
    const uint16_t next = GetU16(b);
    const int16_t add = static_cast<int16_t>(GetU16(b + 4));
    if (add >= 0) {
      if (add % h.record_size != 0) fail("a block's data size is not a multiple of the record size");
      const int n = add / h.record_size + 1;
      if (n > per_block) fail("a block holds more records than fit in it");
      if (kBlockHeaderSize + static_cast<size_t>(n) * h.record_size > avail)
        fail("the records of a data block lie outside the file (offset " + std::to_string(off) + ")");
      for (int i = 0; i < n; ++i) {
        const RowId row = t->NewSlot();
        std::memcpy(t->Rec(row), b + kBlockHeaderSize + static_cast<size_t>(i) * h.record_size, h.record_size);
        t->live_[row] = 1;
        ++t->live_count_;
      }
    }
    block = next;
  }
  // Indexes: the records come in key order, so the primary index is built by appending.
  if (t->primary_)
    for (RowId row = 0; row < t->slot_count_; ++row)
      if (!t->primary_->insert(row)) fail("two records have the same key");
  if (std::any_of(t->secondaries_.begin(), t->secondaries_.end(), [](const auto& s) { return s != nullptr; })) {
    std::vector<RowId> order(t->slot_count_);
    for (auto& s : t->secondaries_) {
      if (!s) continue;
      for (RowId row = 0; row < t->slot_count_; ++row) order[row] = row;
      std::sort(order.begin(), order.end(), s->rows.key_comp());
      s->rows.assign_sorted(order);
    }
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
      uint64_t px_size = 0;
      std::vector<uint8_t> pdata = ReadHeaderBytes(px_path, &px_size);
      FileHeader ph = ParseHeader(px_path, pdata.data(), pdata.size(), px_size);
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
  for (int i = 0; i < Depth(); ++i) t->PushMark();
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

// Writes a new file beside the old one through a buffer, at increasing offsets.
class FileSink {
 public:
  FileSink(int fd, std::string path) : fd_(fd), path_(std::move(path)) { buf_.reserve(kCapacity); }
  void Write(const uint8_t* data, size_t size) {
    if (buf_.size() + size > kCapacity) Drain();
    if (size >= kCapacity) {
      WriteAll(fd_, data, size, pos_, path_);
      pos_ += size;
      return;
    }
    buf_.insert(buf_.end(), data, data + size);
  }
  void Write(const std::vector<uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }
  void Drain() {
    if (buf_.empty()) return;
    WriteAll(fd_, buf_.data(), buf_.size(), pos_, path_);
    pos_ += buf_.size();
    buf_.clear();
  }

 private:
  static constexpr size_t kCapacity = 256 * 1024;
  int fd_;
  std::string path_;
  uint64_t pos_ = 0;
  std::vector<uint8_t> buf_;
};

std::string SecondaryExtension(const IndexDef& def, int field_number, int& composite_counter, bool x) {
  char buf[8];
  const bool single = def.fields.size() == 1 && !def.case_insensitive && SameTextAscii(def.name, def.fields[0]);
  if (single)
    std::snprintf(buf, sizeof buf, ".%c%02X", x ? 'X' : 'Y', field_number & 0xFF);
  else
    std::snprintf(buf, sizeof buf, ".%cG%X", x ? 'X' : 'Y', composite_counter & 0xF);
  return buf;
}

// Fills `block` (block_size bytes) as data block `index` (0-based) of `count` blocks holding
// `n` records of `record_size` bytes that `fill` copies in.
template <class Fill>
void MakeBlock(std::vector<uint8_t>& block, size_t index, size_t count, int n, int record_size, Fill fill) {
  std::fill(block.begin(), block.end(), 0);
  PutU16(block.data(), index + 1 < count ? static_cast<uint16_t>(index + 2) : 0);
  PutU16(block.data() + 2, index > 0 ? static_cast<uint16_t>(index) : 0);
  PutU16(block.data() + 4, static_cast<uint16_t>((n - 1) * record_size));
  for (int k = 0; k < n; ++k) fill(k, block.data() + kBlockHeaderSize + static_cast<size_t>(k) * record_size);
}

}  // namespace

void Database::WriteFamily(Table& t) {
  RequireWriter("write a table");
  const std::string& name = t.info_.name;
  const TableInfo& info = t.info_;
  const int rs = t.record_size_;
  const std::vector<RowId> rows = t.Rows();

  // 1. BLOBs are written to the .MB file as they are set; here a table without one gets its
  //    file, and what was written is made durable before any .DB refers to it.
  const bool has_blobs = !t.blob_fields_.empty();
  if (has_blobs && !t.mb_exists_) t.CreateMbFile();
  if (has_blobs) {
    Step("sync " + name + ".MB");
    if (::fsync(t.mb_fd_) != 0) throw EPxIoError("Cannot write \"" + t.mb_path_ + "\": " + ErrnoText());
    if (t.mb_) t.mb_->unsynced = false;
  }

  // 2. The .DB header.
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
  const int bs = info.format.block_size;
  const int per_block = (bs - kBlockHeaderSize) / rs;
  const size_t data_blocks = (rows.size() + per_block - 1) / per_block;
  if (data_blocks > 0xFFFF) throw EPxError("The table is too large for its block size");
  h.file_blocks = h.blocks_used = h.last_block = static_cast<uint16_t>(data_blocks);
  h.first_block = data_blocks ? 1 : 0;
  const std::vector<uint8_t> db_header = BuildHeader(h);

  // New files are written beside the old ones, synced, then replace them all at once.
  std::vector<std::pair<std::string, std::string>> renames;
  std::vector<std::string> written;
  int fd = -1;
  auto begin_file = [&](const std::string& final_name) {
    const std::string path = PathOf(final_name + kNewSuffix);
    Step("write " + final_name);
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw EPxIoError("Cannot create \"" + path + "\": " + ErrnoText());
    written.push_back(path);
    return FileSink(fd, path);
  };
  auto end_file = [&](FileSink& sink, const std::string& final_name) {
    const std::string path = PathOf(final_name + kNewSuffix);
    sink.Drain();
    Step("sync " + final_name);
    if (::fsync(fd) != 0) throw EPxIoError("Cannot write \"" + path + "\": " + ErrnoText());
    const int rc = ::close(fd);
    fd = -1;
    if (rc != 0) throw EPxIoError("Cannot write \"" + path + "\": " + ErrnoText());
    // Replace the file of any case the folder holds.
    std::string target = final_name;
    const std::string existing = FindFile(BaseName(final_name), Extension(final_name));
    if (!existing.empty()) target = existing;
    renames.emplace_back(final_name + kNewSuffix, target);
  };

  try {
    // 3. The records in table order, block by block; the first key and record count of each
    //    block for the primary index, the block of each row for the secondary ones.
    std::vector<std::pair<const uint8_t*, int>> firsts;
    firsts.reserve(data_blocks);
    const bool has_secondary =
        std::any_of(t.secondaries_.begin(), t.secondaries_.end(), [](const auto& s) { return s != nullptr; });
    std::vector<uint16_t> block_of(has_secondary ? t.slot_count_ : 0);
    {
      FileSink sink = begin_file(name + ".DB");
      sink.Write(db_header);
      std::vector<uint8_t> block(bs);
      for (size_t b = 0; b < data_blocks; ++b) {
        const size_t first = b * per_block;
        const int n = static_cast<int>(std::min<size_t>(per_block, rows.size() - first));
        MakeBlock(block, b, data_blocks, n, rs,
                  [&](int k, uint8_t* dst) { std::memcpy(dst, t.Rec(rows[first + k]), rs); });
        sink.Write(block);
        firsts.emplace_back(t.Rec(rows[first]), n);
        if (!block_of.empty())
          for (int k = 0; k < n; ++k) block_of[rows[first + k]] = static_cast<uint16_t>(b + 1);
      }
      end_file(sink, name + ".DB");
    }

    // 4. Primary index.
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
      FileSink sink = begin_file(name + ".PX");
      sink.Write(BuildHeader(p));
      sink.Write(blocks);
      end_file(sink, name + ".PX");
    }

    // 5. Secondary indexes: .Xnn/.XGn hold (indexed fields, key fields, block number) in key
    //    order, .Ynn/.YGn index them as the .PX indexes the .DB.
    int composite = 0;
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
      // An entry is the indexed fields, then the key fields (BLOBs are never indexed, so the
      // record's bytes will do), then the block number.
      std::vector<std::pair<int, int>> pieces;  // (offset in the record, size)
      int key_size = 0;
      for (int f : less.fields) {
        x.fields.push_back(h.fields[f]);
        x.field_names.push_back(h.field_names[f]);
        pieces.emplace_back(t.layout_[f].offset, t.layout_[f].size);
        key_size += t.layout_[f].size;
      }
      for (int f = 0; f < info.key_field_count; ++f) {
        x.fields.push_back(h.fields[f]);
        x.field_names.push_back(h.field_names[f]);
        key_size += t.layout_[f].size;
      }
      pieces.emplace_back(0, t.key_size_);
      x.fields.push_back({static_cast<uint8_t>(FieldType::kShort), 2});
      x.field_names.push_back("Blk Num");
      x.key_field_count = static_cast<uint16_t>(less.fields.size() + info.key_field_count);
      x.record_size = static_cast<uint16_t>(key_size + 2);
      // Entries in index order; rows with equal indexed values in primary-key order.
      std::vector<RowId> order(rows);
      auto compare = [&](RowId a, RowId b) {
        const uint8_t* ra = t.Rec(a);
        const uint8_t* rb = t.Rec(b);
        for (const auto& [off, size] : pieces) {
          const int c = std::memcmp(ra + off, rb + off, size);
          if (c) return def.descending ? c > 0 : c < 0;
        }
        return false;
      };
      std::sort(order.begin(), order.end(), compare);
      const int xbs = index_kib * 1024;
      const int xper = (xbs - kBlockHeaderSize) / x.record_size;
      const size_t xblocks = (order.size() + xper - 1) / xper;
      if (xblocks > 0xFFFF) throw EPxError("The index of table \"" + name + "\" is too large for its block size");
      x.record_count = static_cast<uint32_t>(order.size());
      x.file_blocks = x.blocks_used = x.last_block = static_cast<uint16_t>(xblocks);
      x.first_block = xblocks ? 1 : 0;
      std::vector<uint8_t> first_keys(xblocks * key_size);
      std::vector<std::pair<const uint8_t*, int>> xfirsts;
      xfirsts.reserve(xblocks);
      auto make_entry = [&](RowId row, uint8_t* e) {
        const uint8_t* src = t.Rec(row);
        size_t pos = 0;
        for (const auto& [off, size] : pieces) {
          std::memcpy(e + pos, src + off, size);
          pos += size;
        }
        EncodeField(FieldType::kShort, Value(static_cast<int32_t>(block_of[row])), e + pos, 2, codec, "Blk Num");
      };
      {
        FileSink sink = begin_file(name + xext);
        sink.Write(BuildHeader(x));
        std::vector<uint8_t> block(xbs);
        for (size_t b = 0; b < xblocks; ++b) {
          const size_t first = b * xper;
          const int n = static_cast<int>(std::min<size_t>(xper, order.size() - first));
          MakeBlock(block, b, xblocks, n, x.record_size, [&](int k, uint8_t* dst) { make_entry(order[first + k], dst); });
          sink.Write(block);
          std::memcpy(first_keys.data() + b * key_size, block.data() + kBlockHeaderSize, key_size);
          xfirsts.emplace_back(first_keys.data() + b * key_size, n);
        }
        end_file(sink, name + xext);
      }
      FileHeader y;
      y.file_type = is_composite ? kFileTypeCompositeY : kFileTypeSecondaryY;
      y.level = h.level;
      y.block_kib = static_cast<uint8_t>(index_kib);
      y.record_size = static_cast<uint16_t>(key_size + 6);
      for (size_t f = 0; f + 1 < x.fields.size(); ++f) y.fields.push_back(x.fields[f]);
      y.sort_order = h.sort_order;
      y.index_stamp = x.change_count1;
      y.table_name = name + yext;
      std::vector<uint8_t> yblocks = BuildIndexBlocks(xfirsts, key_size, xbs, y.root_block, y.index_levels, y.record_count);
      y.file_blocks = y.blocks_used = y.last_block = static_cast<uint16_t>(yblocks.size() / xbs);
      y.first_block = y.file_blocks ? 1 : 0;
      FileSink sink = begin_file(name + yext);
      sink.Write(BuildHeader(y));
      sink.Write(yblocks);
      end_file(sink, name + yext);
    }

    // 6. Required fields: a new table with required fields gets a .VAL file.
    const bool any_required = std::any_of(info.fields.begin(), info.fields.end(), [](const FieldDef& f) { return f.required; });
    if (any_required && FindFile(name, ".VAL").empty()) {
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
      FileSink sink = begin_file(name + ".VAL");
      sink.Write(v);
      end_file(sink, name + ".VAL");
    }
  } catch (...) {
    if (fd >= 0) ::close(fd);
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

  // 7. The table now matches its files.
  h.header_size = static_cast<uint16_t>(GetU16(db_header.data() + 2));
  t.header_ = h;
  t.dirty_ = false;
  t.AfterFlush();
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
  RequireNoTransaction("Cannot flush inside a transaction; commit it");
  for (auto& [key, t] : tables_)
    if (t->dirty_) WriteFamily(*t);
}

void Database::FlushTable(std::string_view name) {
  RequireNoTransaction("Cannot flush inside a transaction; commit it");
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
  RequireNoTransaction("Tables cannot be created inside a transaction");
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
  ++schema_generation_;
}

void Database::DeleteTable(std::string_view name_view) {
  RequireWriter("delete a table");
  RequireNoTransaction("Tables cannot be deleted inside a transaction");
  const std::string name(name_view);
  if (!TableExists(name)) throw EPxError("Table \"" + name + "\" does not exist");
  tables_.erase(TableKey(name));
  ++schema_generation_;
  const std::vector<std::string> files = FamilyFiles(name);
  CommitReplacements(name, {}, files);
}

void Database::RenameTable(std::string_view old_view, std::string_view new_view) {
  RequireWriter("rename a table");
  RequireNoTransaction("Tables cannot be renamed inside a transaction");
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
  ++schema_generation_;
  CommitReplacements(old_name, renames, {});
  // The name inside the headers.
  for (const auto& [from, to] : renames) {
    const std::string ext = Upper(Extension(to));
    if (ext == ".MB" || ext == ".VAL") continue;
    const std::string path = PathOf(to);
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) continue;
    try {
      uint64_t file_size = 0;
      const std::vector<uint8_t> head = ReadHeaderBytes(path, &file_size);
      if (head.size() >= 0x58) {
        const FileHeader h = ParseHeader(path, head.data(), head.size(), file_size);
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
    } catch (const EPxError&) {
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

void Database::RequireNoTransaction(const char* message) const {
  if (in_transaction_ || savepoints_ > 0) throw EPxError(message);
}

void Database::StartTransaction() {
  RequireWriter("start a transaction");
  if (in_transaction_) throw EPxError("A transaction is already active");
  if (savepoints_ > 0) throw EPxError("A transaction cannot start inside a savepoint");
  in_transaction_ = true;
  for (auto& [k, t] : tables_) t->PushMark();
}

void Database::Commit() {
  if (!in_transaction_) throw EPxError("No transaction is active");
  const int savepoints = savepoints_;
  in_transaction_ = false;
  savepoints_ = 0;
  try {
    for (auto& [k, t] : tables_)
      if (t->dirty_) WriteFamily(*t);
  } catch (...) {
    in_transaction_ = true;  // still undoable
    savepoints_ = savepoints;
    throw;
  }
  for (auto& [k, t] : tables_) t->DropMarks();
}

void Database::Rollback() {
  if (!in_transaction_) throw EPxError("No transaction is active");
  for (auto& [k, t] : tables_) {
    t->UndoToMark(0);
    t->DropMarks();
  }
  in_transaction_ = false;
  savepoints_ = 0;
}

void Database::Savepoint() {
  RequireWriter("set a savepoint");
  ++savepoints_;
  for (auto& [k, t] : tables_) t->PushMark();
}

void Database::ReleaseSavepoint() {
  if (savepoints_ == 0) throw EPxError("No savepoint is open");
  --savepoints_;
  for (auto& [k, t] : tables_) t->PopMark();
}

void Database::RollbackToSavepoint() {
  if (savepoints_ == 0) throw EPxError("No savepoint is open");
  for (auto& [k, t] : tables_) t->UndoToMark(static_cast<size_t>(Depth() - 1));
}

}  // namespace atlor::pxengine
