#include "backends/sqlite/sqlite_ardb.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <utility>

#include "ardb/ardb_std_impl.h"
#include "core/encoding.h"
#include "core/simple_params.h"
#include "core/xml.h"

namespace atlor {

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// "[name]"
std::string Bracketed(const std::string& name) { return "[" + name + "]"; }

std::string HexNumber(uint32_t value, int min_digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  while (static_cast<int>(text.size()) < min_digits) text.insert(text.begin(), '0');
  return text;
}

// Currency values that are whole numbers are stored as integers (exact at any size), the others
// as doubles.
constexpr int64_t kMaxWholeCurrency = std::numeric_limits<int64_t>::max() / Currency::kScale;

Currency CurrencyFromInt64(int64_t value) {
  if (value > kMaxWholeCurrency || value < -kMaxWholeCurrency)
    throw EVariantError("Переполнение при преобразовании числа " + std::to_string(value) +
                        " в денежный тип");
  return Currency{value * Currency::kScale};
}

// The bytes of an SQLite file's first 16 bytes.
constexpr char kSQLiteHeader[] = "SQLite format 3";  // with its terminating zero: 16 bytes

// ---------------------------------------------------------------------------------------------
// Declared types

struct TypeWord {
  const char* Name;
  TArDbDataType Type;
};

// Declared type names (upper case, single blanks) and what they hold.
constexpr TypeWord kTypeWords[] = {
    {"BOOLEAN", dtBoolean},
    {"BOOL", dtBoolean},
    {"BIT", dtBoolean},
    {"INTEGER", dtInteger},
    {"INT", dtInteger},
    {"BIGINT", dtInteger},
    {"SMALLINT", dtInteger},
    {"TINYINT", dtInteger},
    {"MEDIUMINT", dtInteger},
    {"INT2", dtInteger},
    {"INT4", dtInteger},
    {"INT8", dtInteger},
    {"UNSIGNED BIG INT", dtInteger},
    {"DOUBLE", dtFloat},
    {"DOUBLE PRECISION", dtFloat},
    {"REAL", dtFloat},
    {"FLOAT", dtFloat},
    {"FLOAT4", dtFloat},
    {"FLOAT8", dtFloat},
    {"CURRENCY", dtCurrency},
    {"MONEY", dtCurrency},
    {"SMALLMONEY", dtCurrency},
    {"DATETIME", dtDateTime},
    {"TIMESTAMP", dtDateTime},
    {"DATE", dtDate},
    {"TIME", dtTime},
    {"VARCHAR", dtString},
    {"CHAR", dtString},
    {"CHARACTER", dtString},
    {"NCHAR", dtString},
    {"NVARCHAR", dtString},
    {"VARCHAR2", dtString},
    {"NVARCHAR2", dtString},
    {"CHARACTER VARYING", dtString},
    {"CHAR VARYING", dtString},
    {"VARYING CHARACTER", dtString},
    {"NATIVE CHARACTER", dtString},
    {"NATIONAL CHARACTER", dtString},
    {"NATIONAL CHAR", dtString},
    {"NATIONAL CHARACTER VARYING", dtString},
    {"NATIONAL CHAR VARYING", dtString},
    {"TEXT", dtMemo},
    {"CLOB", dtMemo},
    {"NCLOB", dtMemo},
    {"NTEXT", dtMemo},
    {"TINYTEXT", dtMemo},
    {"MEDIUMTEXT", dtMemo},
    {"LONGTEXT", dtMemo},
    {"MEMO", dtMemo},
    {"LONG VARCHAR", dtMemo},
    {"BLOB", dtBinary},
    {"BINARY", dtBinary},
    {"VARBINARY", dtBinary},
    {"LONG VARBINARY", dtBinary},
    {"IMAGE", dtBinary},
    {"BYTEA", dtBinary},
    {"TINYBLOB", dtBinary},
    {"MEDIUMBLOB", dtBinary},
    {"LONGBLOB", dtBinary},
};

// Reads the integer arguments of "(p, s)"; false when they are not integers.
bool ReadTypeArguments(std::string_view text, std::vector<int64_t>& args) {
  args.clear();
  std::string piece;
  auto flush = [&]() {
    const std::string t = TrimText(piece);
    piece.clear();
    if (t.empty()) return false;
    size_t pos = 0;
    bool negative = false;
    if (t[0] == '+' || t[0] == '-') {
      negative = t[0] == '-';
      pos = 1;
    }
    if (pos >= t.size()) return false;
    int64_t value = 0;
    for (; pos < t.size(); ++pos) {
      if (t[pos] < '0' || t[pos] > '9') return false;
      if (value > (std::numeric_limits<int32_t>::max() - (t[pos] - '0')) / 10) return false;
      value = value * 10 + (t[pos] - '0');
    }
    args.push_back(negative ? -value : value);
    return true;
  };
  for (const char c : text) {
    if (c == ',') {
      if (!flush()) return false;
    } else {
      piece += c;
    }
  }
  return flush();
}

// ---------------------------------------------------------------------------------------------
// Internal queries

// A statement of the back-end's own work, reset when it goes.
class Query {
 public:
  Query(TSQLiteArDb& db, const std::string& sql)
      : db_(db), statement_(db.CompileStatement(sql, false)) {}
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;
  ~Query() {
    if (statement_->Stmt != nullptr) sqlite3_reset(statement_->Stmt);
  }

  Query& Bind(int position, const std::string& text) {
    sqlite3_bind_text(statement_->Stmt, position, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
    return *this;
  }
  // True on a row, false at the end.
  bool Step() {
    const int rc = sqlite3_step(statement_->Stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    const std::string message = db_.ErrorText(rc);
    sqlite3_reset(statement_->Stmt);
    throw Exception(message);
  }
  bool IsNull(int column) const {
    return sqlite3_column_type(statement_->Stmt, column) == SQLITE_NULL;
  }
  int64_t Int(int column) const { return sqlite3_column_int64(statement_->Stmt, column); }
  std::string Text(int column) const {
    const auto* text = sqlite3_column_text(statement_->Stmt, column);
    if (text == nullptr) return std::string();
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<size_t>(sqlite3_column_bytes(statement_->Stmt, column)));
  }

 private:
  TSQLiteArDb& db_;
  std::shared_ptr<TSQLiteStatement> statement_;
};

// ---------------------------------------------------------------------------------------------
// Binding

void BindText(sqlite3_stmt* stmt, int position, const Value& value, bool keep_copy) {
  if (value.Kind() == ValueKind::kString) {
    const std::string& text = value.StringRef();
    sqlite3_bind_text64(stmt, position, text.data(), text.size(),
                        keep_copy ? SQLITE_TRANSIENT : SQLITE_STATIC, SQLITE_UTF8);
    return;
  }
  const std::string text = value.ToString();
  sqlite3_bind_text64(stmt, position, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void BindBlob(sqlite3_stmt* stmt, int position, const Value& value, bool keep_copy) {
  if (value.Kind() != ValueKind::kBytes) {
    const Bytes bytes = value.ToBytes();
    if (bytes.empty())
      sqlite3_bind_zeroblob(stmt, position, 0);
    else
      sqlite3_bind_blob64(stmt, position, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
    return;
  }
  const Bytes& bytes = value.BytesRef();
  // A null address would bind Null: an empty array is an empty blob.
  if (bytes.empty())
    sqlite3_bind_zeroblob(stmt, position, 0);
  else
    sqlite3_bind_blob64(stmt, position, bytes.data(), bytes.size(),
                        keep_copy ? SQLITE_TRANSIENT : SQLITE_STATIC);
}

void BindCurrency(sqlite3_stmt* stmt, int position, Currency value) {
  if (value.scaled % Currency::kScale == 0)
    sqlite3_bind_int64(stmt, position, value.scaled / Currency::kScale);
  else
    sqlite3_bind_double(stmt, position, value.ToDouble());
}

// Binds one value by the base type of its placeholder (by its own kind for an unknown type).
// Without `keep_copy` text and blobs are bound in place: the caller's values must stay until
// the statement is reset.
void BindValue(sqlite3_stmt* stmt, int position, TArDbDataType type, const Value& value,
               bool keep_copy) {
  int rc = SQLITE_OK;
  if (value.IsNull()) {
    rc = sqlite3_bind_null(stmt, position);
  } else {
    switch (BaseDataType(type)) {
      case dtBoolean:
        rc = sqlite3_bind_int(stmt, position, value.ToBoolean() ? 1 : 0);
        break;
      case dtInteger:
        rc = sqlite3_bind_int64(stmt, position, value.ToInt64());
        break;
      case dtFloat:
        rc = sqlite3_bind_double(stmt, position, value.ToFloat());
        break;
      case dtCurrency:
        BindCurrency(stmt, position, value.ToCurrency());
        break;
      case dtDateTime:
        rc = sqlite3_bind_double(stmt, position, value.ToDateTime().days);
        break;
      case dtString:
      case dtMemo:
        BindText(stmt, position, value, keep_copy);
        break;
      case dtBinary:
        BindBlob(stmt, position, value, keep_copy);
        break;
      default:
        switch (value.Kind()) {
          case ValueKind::kBoolean:
            rc = sqlite3_bind_int(stmt, position, value.ToBoolean() ? 1 : 0);
            break;
          case ValueKind::kInteger:
          case ValueKind::kInt64:
            rc = sqlite3_bind_int64(stmt, position, value.ToInt64());
            break;
          case ValueKind::kFloat:
            rc = sqlite3_bind_double(stmt, position, value.ToFloat());
            break;
          case ValueKind::kCurrency:
            BindCurrency(stmt, position, value.ToCurrency());
            break;
          case ValueKind::kDateTime:
            rc = sqlite3_bind_double(stmt, position, value.ToDateTime().days);
            break;
          case ValueKind::kString:
            BindText(stmt, position, value, keep_copy);
            break;
          case ValueKind::kBytes:
            BindBlob(stmt, position, value, keep_copy);
            break;
          default:
            throw EVariantError("Значение вида " + value.KindName() +
                                " не может быть параметром запроса");
        }
        break;
    }
  }
  if (rc == SQLITE_RANGE)
    throw Exception("Число параметров в запросе SQLite не совпадает с числом типов параметров");
  if (rc != SQLITE_OK) throw Exception(sqlite3_errstr(rc));
}

// Skips blanks, semicolons and comments; true when nothing else follows.
bool OnlyEmptyStatements(const char* text, const char* end) {
  while (text < end) {
    const char c = *text;
    if (c == ';' || static_cast<unsigned char>(c) <= ' ') {
      ++text;
    } else if (c == '-' && text + 1 < end && text[1] == '-') {
      while (text < end && *text != '\n') ++text;
    } else if (c == '/' && text + 1 < end && text[1] == '*') {
      const char* close = std::search(text + 2, end, "*/", "*/" + 2);
      text = close == end ? end : close + 2;
    } else {
      return false;
    }
  }
  return true;
}

// The error of opening a database after SQLite's code.
std::string OpenErrorText(int code, const std::string& quoted, const std::string& detail,
                          int32_t busy_timeout) {
  switch (code & 0xFF) {
    case SQLITE_NOTADB:
      return "Файл " + quoted + " не является базой данных SQLite";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return "База данных " + quoted + " заблокирована другим процессом: время ожидания (" +
             std::to_string(busy_timeout) + " мс) истекло";
    case SQLITE_CORRUPT:
      return "Файл базы данных " + quoted + " повреждён: " + detail;
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
      return "Файл базы данных " + quoted + " не может быть открыт для записи: " + detail;
    default:
      return "Ошибка открытия базы данных " + quoted + ": " + detail;
  }
}

}  // namespace

std::string AdaptSQLiteStatement(const std::string& sql) { return DropOwnTableQualifiers(sql); }

namespace {

bool IsSystemName(const std::string& name) {
  return name.size() >= 7 && SameTextAscii(std::string_view(name).substr(0, 7), "sqlite_");
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Types

std::string SQLiteTypeName(TArDbDataType type, int32_t size) {
  switch (BaseDataType(type)) {
    case dtBoolean:
      return "BOOLEAN";
    case dtInteger:
      return "INTEGER";
    case dtFloat:
      return "DOUBLE";
    case dtCurrency:
      return "CURRENCY";
    case dtDateTime:
      return "DATETIME";
    case dtString:
      return size > 0 ? "VARCHAR(" + std::to_string(size) + ")" : std::string("VARCHAR");
    case dtMemo:
      return "TEXT";
    case dtBinary:
      return "BLOB";
    default:
      return std::string();
  }
}

TArDbDataType SQLiteDataTypeOf(std::string_view declared_type, int32_t* size) {
  if (size != nullptr) *size = 0;
  std::string name;
  std::string_view arguments;
  bool has_arguments = false;
  const size_t open = declared_type.find('(');
  if (open != std::string_view::npos) {
    const size_t close = declared_type.find(')', open);
    if (close == std::string_view::npos) return dtUnknown;
    if (!TrimText(declared_type.substr(close + 1)).empty()) return dtUnknown;
    arguments = declared_type.substr(open + 1, close - open - 1);
    has_arguments = true;
  }
  // Upper case with single blanks.
  for (const char c : declared_type.substr(0, open)) {
    if (static_cast<unsigned char>(c) <= ' ') {
      if (!name.empty() && name.back() != ' ') name += ' ';
    } else {
      name += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
  }
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.empty()) return dtUnknown;
  std::vector<int64_t> args;
  if (has_arguments && !ReadTypeArguments(arguments, args)) return dtUnknown;

  if (name == "NUMERIC" || name == "DECIMAL" || name == "NUMBER") {
    if (args.empty()) return dtFloat;
    const int64_t precision = args[0];
    const int64_t scale = args.size() > 1 ? args[1] : 0;
    if (scale <= 0 && precision - scale <= 10) return dtInteger;
    if (scale == 4 && precision == 20) return dtCurrency;
    return dtFloat;
  }
  for (const TypeWord& word : kTypeWords) {
    if (name != word.Name) continue;
    if (word.Type == dtString && size != nullptr && !args.empty())
      *size = static_cast<int32_t>(args[0]);
    return word.Type;
  }
  return dtUnknown;
}

// ---------------------------------------------------------------------------------------------
// TSQLiteStatement

TSQLiteStatement::~TSQLiteStatement() { Finalize(); }

void TSQLiteStatement::Finalize() {
  if (Stmt != nullptr) sqlite3_finalize(std::exchange(Stmt, nullptr));
  Busy = false;
}

std::shared_ptr<const TSQLiteColumns> TSQLiteStatement::Columns() {
  // SQLite compiles a statement again after a change of the schema; its column names then live
  // elsewhere, which tells that the columns must be read again.
  const int count = Stmt != nullptr ? sqlite3_column_count(Stmt) : 0;
  const char* key = count > 0 ? sqlite3_column_name(Stmt, 0) : nullptr;
  if (columns_ && count == column_count_ && key == columns_key_) return columns_;
  auto columns = std::make_shared<TSQLiteColumns>();
  columns->Names.reserve(static_cast<size_t>(count));
  columns->Types.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const char* name = sqlite3_column_name(Stmt, i);
    columns->Names.emplace_back(name != nullptr ? name : "");
    const char* declared = sqlite3_column_decltype(Stmt, i);
    columns->Types.push_back(declared != nullptr ? SQLiteDataTypeOf(declared) : dtUnknown);
    if (declared == nullptr) columns->HasExpressions = true;
  }
  columns_ = std::move(columns);
  columns_key_ = key;
  column_count_ = count;
  return columns_;
}

// ---------------------------------------------------------------------------------------------
// TSQLiteArDb

TSQLiteArDb::TSQLiteArDb() = default;

TSQLiteArDb::~TSQLiteArDb() { Disconnect(); }

std::string TSQLiteArDb::MakeDescription(const std::string& file, int32_t busy_timeout) {
  XmlDocument document;
  XmlNode root = document.CreateRoot("driver");
  root.SetAttribute("name", kSQLiteDriverName);
  IntfPtr<ISimpleParams> params = ParamsOf(root, true);
  params->SetString(kSQLiteFileParam, file);
  if (busy_timeout >= 0) params->SetInteger(kSQLiteBusyTimeoutParam, busy_timeout);
  return document.Text();
}

void TSQLiteArDb::CreateDatabaseFile(const std::string& path) {
  if (TrimText(path).empty()) throw EArDbException("Не задан файл новой базы данных SQLite");
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(path, ec)))
    throw EArDbException("Файл " + Quoted(path) +
                         " уже существует: новая база данных SQLite не создана");
  // The file is made here, exclusively, so that nothing existing is ever taken over.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int error = errno;
    if (error == EEXIST)
      throw EArDbException("Файл " + Quoted(path) +
                           " уже существует: новая база данных SQLite не создана");
    throw EArDbException("Не удалось создать файл базы данных " + Quoted(path) + ": " +
                         std::strerror(error));
  }
  ::close(fd);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  char* error = nullptr;
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(db,
                      "PRAGMA page_size=4096; PRAGMA journal_mode=WAL; "
                      "CREATE TABLE atlor_new_database(x); DROP TABLE atlor_new_database;",
                      nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    std::string message = error != nullptr ? error
                          : db != nullptr  ? sqlite3_errmsg(db)
                                           : sqlite3_errstr(rc);
    sqlite3_free(error);
    sqlite3_close_v2(db);
    std::filesystem::remove(path, ec);
    std::filesystem::remove(path + "-wal", ec);
    std::filesystem::remove(path + "-shm", ec);
    throw EArDbException("Не удалось создать базу данных " + Quoted(path) + ": " + message);
  }
  rc = sqlite3_close(db);
  if (rc != SQLITE_OK)
    throw EArDbException("Не удалось создать базу данных " + Quoted(path) + ": " +
                         sqlite3_errstr(rc));
}

IntfPtr<TArDbTableDef> TSQLiteArDb::CreateTableDef() {
  return IntfPtr<TArDbTableDef>(new TSQLiteTableDef(this));
}

IntfPtr<TArDbSQLCommand> TSQLiteArDb::CreateSQLCommand() {
  return IntfPtr<TArDbSQLCommand>(new TSQLiteCommand(this));
}

void TSQLiteArDb::DoOpen() {
  IntfPtr<ISimpleParams> params = Description();
  const std::string file = params->GetString(kSQLiteFileParam, "");
  int32_t busy_timeout =
      params->GetInteger(kSQLiteBusyTimeoutParam, kSQLiteDefaultBusyTimeout);
  if (busy_timeout < 0) busy_timeout = 0;
  if (TrimText(file).empty()) throw EArDbException("Не задан файл базы данных SQLite");

  const std::string quoted = Quoted(file);
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(file, ec);
  if (!std::filesystem::exists(status))
    throw EArDbException("Файл базы данных " + quoted + " не найден");
  if (!std::filesystem::is_regular_file(status))
    throw EArDbException("Файл " + quoted + " не является базой данных SQLite");
  {
    // The header is checked before SQLite sees the file: SQLite would take an empty file for a
    // new database and write into it. (An empty file next to its write-ahead log is a database
    // whose pages are all still in the log.)
    std::ifstream in(file, std::ios::binary);
    if (!in) throw EArDbException("Файл базы данных " + quoted + " не может быть прочитан");
    char header[sizeof kSQLiteHeader] = {};
    in.read(header, sizeof header);
    const auto got = in.gcount();
    const bool empty_with_log =
        got == 0 && std::filesystem::exists(std::filesystem::status(file + "-wal", ec));
    if (!empty_with_log &&
        (got != static_cast<std::streamsize>(sizeof header) ||
         std::memcmp(header, kSQLiteHeader, sizeof header) != 0))
      throw EArDbException("Файл " + quoted + " не является базой данных SQLite");
  }

  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
  std::string error;
  if (rc != SQLITE_OK) {
    error = "Файл базы данных " + quoted + " не может быть открыт: " +
            (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  } else if (sqlite3_db_readonly(db, "main") == 1) {
    // SQLite falls back to reading only when it may not write the file.
    error = "Файл базы данных " + quoted + " не может быть открыт для записи";
  } else {
    // The journal and the write-ahead log are made next to the file.
    const std::filesystem::path folder = std::filesystem::absolute(file, ec).parent_path();
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
      error = "Файл базы данных " + quoted +
              " не может быть открыт для записи: папка недоступна для записи";
  }
  if (error.empty()) {
    sqlite3_busy_timeout(db, busy_timeout);
    // Reading the schema proves the file is a database; nothing is written before that.
    for (const char* sql : {"SELECT count(*) FROM sqlite_master", "PRAGMA journal_mode=WAL",
                            "PRAGMA synchronous=NORMAL", "PRAGMA cache_size=-16384"}) {
      char* message = nullptr;
      const int code = sqlite3_exec(db, sql, nullptr, nullptr, &message);
      const std::string detail = message != nullptr ? message : sqlite3_errstr(code);
      sqlite3_free(message);
      if (code == SQLITE_OK) continue;
      error = OpenErrorText(code, quoted, detail, busy_timeout);
      break;
    }
  }
  if (!error.empty()) {
    sqlite3_close_v2(db);
    throw EArDbException(error);
  }
  db_ = db;
  file_name_ = file;
  in_transaction_ = false;
}

void TSQLiteArDb::Disconnect() {
  // Statements still held by commands and cursors go first, so the connection closes at once.
  for (const std::weak_ptr<TSQLiteStatement>& weak : statements_)
    if (std::shared_ptr<TSQLiteStatement> statement = weak.lock()) statement->Finalize();
  statements_.clear();
  purge_at_ = 64;
  if (db_ != nullptr) sqlite3_close_v2(std::exchange(db_, nullptr));
  in_transaction_ = false;
}

void TSQLiteArDb::DoClose() {
  Disconnect();
  file_name_.clear();
}

bool TSQLiteArDb::GetActive() { return db_ != nullptr; }

bool TSQLiteArDb::GetInTransaction() { return in_transaction_; }

bool TSQLiteArDb::SQLiteInTransaction() const {
  return db_ != nullptr && sqlite3_get_autocommit(db_) == 0;
}

void TSQLiteArDb::DoStartTransaction() {
  ExecDirect("BEGIN IMMEDIATE");
  in_transaction_ = true;
}

void TSQLiteArDb::DoCommit() {
  // SQLite itself may have ended the transaction after an error (a full disk, for example).
  if (!SQLiteInTransaction())
    throw EArDbException("Транзакция базы данных SQLite была прервана и отменена");
  ExecDirect("COMMIT");
  in_transaction_ = false;
}

void TSQLiteArDb::DoRollback() {
  in_transaction_ = false;
  if (SQLiteInTransaction()) ExecDirect("ROLLBACK");
}

bool TSQLiteArDb::BeginOwn() {
  if (SQLiteInTransaction()) {
    ExecDirect("SAVEPOINT atlor_own");
    return true;
  }
  ExecDirect("BEGIN IMMEDIATE");
  return false;
}

void TSQLiteArDb::EndOwn(bool savepoint, bool commit) {
  if (commit) {
    try {
      ExecDirect(savepoint ? "RELEASE atlor_own" : "COMMIT");
      return;
    } catch (...) {
      EndOwn(savepoint, false);
      throw;
    }
  }
  if (!SQLiteInTransaction()) return;  // SQLite already rolled back
  try {
    ExecDirect(savepoint ? "ROLLBACK TO atlor_own; RELEASE atlor_own" : "ROLLBACK");
  } catch (const Exception&) {
    // The error that made the rollback necessary is the one to report.
  }
}

std::shared_ptr<TSQLiteStatement> TSQLiteArDb::CompileStatement(const std::string& sql,
                                                                 bool persistent) {
  CheckDatabaseOpen();
  sqlite3_stmt* stmt = nullptr;
  const char* tail = nullptr;
  const int rc = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()),
                                    persistent ? SQLITE_PREPARE_PERSISTENT : 0, &stmt, &tail);
  if (rc != SQLITE_OK) {
    const std::string message = ErrorText(rc);
    sqlite3_finalize(stmt);
    throw Exception(message);
  }
  if (stmt == nullptr) throw Exception("Пустой запрос");
  if (tail != nullptr && !OnlyEmptyStatements(tail, sql.data() + sql.size())) {
    sqlite3_finalize(stmt);
    throw Exception("Запрос содержит более одного оператора SQL");
  }
  auto statement = std::make_shared<TSQLiteStatement>();
  statement->Stmt = stmt;
  if (statements_.size() >= purge_at_) {
    std::erase_if(statements_, [](const std::weak_ptr<TSQLiteStatement>& w) { return w.expired(); });
    purge_at_ = std::max<size_t>(64, statements_.size() * 2);
  }
  statements_.push_back(statement);
  return statement;
}

void TSQLiteArDb::ExecDirect(const char* sql) {
  CheckDatabaseOpen();
  char* error = nullptr;
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &error);
  if (rc == SQLITE_OK) return;
  std::string message = ErrorText(rc);
  if (error != nullptr && (rc & 0xFF) != SQLITE_BUSY) message = error;
  sqlite3_free(error);
  throw Exception(message);
}

std::string TSQLiteArDb::ErrorText(int rc) const {
  const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  if ((rc & 0xFF) == SQLITE_BUSY)
    return "База данных " + Quoted(file_name_) + " заблокирована другим процессом (" + message +
           ")";
  return message;
}

bool TSQLiteArDb::ObjectExists(const std::string& name, bool relations_only) {
  Query query(*this, relations_only ? "SELECT 1 FROM sqlite_master WHERE name=?1 COLLATE NOCASE "
                                      "AND type IN ('table','view')"
                                    : "SELECT 1 FROM sqlite_master WHERE name=?1 COLLATE NOCASE");
  query.Bind(1, name);
  return query.Step();
}

IntfPtr<IArDbCursor> TSQLiteArDb::DoOpenTable(const std::string& table_name,
                                              const std::string* fields, int32_t field_count,
                                              const std::string* key_fields,
                                              int32_t key_field_count, const Value* key_values,
                                              int32_t key_row_count, bool copy_key_values) {
  (void)copy_key_values;  // the key values are bound (copied) at once
  ATLOR_ASSERT(key_row_count <= 0 || (key_field_count >= 1 && key_fields != nullptr &&
                                      key_values != nullptr),
               "Assertion failure");
  std::string sql = "SELECT ";
  if (field_count <= 0 || (field_count == 1 && fields[0] == "*")) {
    sql += "*";
  } else {
    for (int32_t i = 0; i < field_count; ++i) {
      if (i > 0) sql += ",";
      sql += Bracketed(fields[i]);
    }
  }
  sql += " FROM " + Bracketed(table_name);
  int32_t value_count = 0;
  if (key_row_count > 0) {
    value_count = key_row_count * key_field_count;
    if (key_field_count == 1) {
      sql += " WHERE " + Bracketed(key_fields[0]) + " IN (?";
      for (int32_t i = 1; i < key_row_count; ++i) sql += ",?";
      sql += ")";
    } else {
      std::string condition;
      for (int32_t k = 0; k < key_field_count; ++k) {
        if (k > 0) condition += " AND ";
        condition += Bracketed(key_fields[k]) + "=?";
      }
      sql += " WHERE " + condition;
      for (int32_t i = 1; i < key_row_count; ++i) sql += " OR " + condition;
      sql += " ORDER BY ";
      for (int32_t k = 0; k < key_field_count; ++k) {
        if (k > 0) sql += ",";
        sql += Bracketed(key_fields[k]);
      }
    }
  }
  // The key values bind by their own kinds.
  const TArDbDataTypeArray types(static_cast<size_t>(value_count), dtUnknown);
  IntfPtr<IArDbSQLCommand> command =
      CreateCommand(sql, types.empty() ? nullptr : types.data(), value_count, true);
  return command->Execute(value_count > 0 ? key_values : nullptr, value_count);
}

IntfPtr<IArDbCursor> TSQLiteArDb::DoGetInfo(int32_t kind) {
  const Value null = Value::Null();
  switch (kind) {
    case ikRelations: {
      IntfPtr<TInMemoryCursor> cursor(new TInMemoryCursor(this, 100, ArDbRelationsFields));
      Query query(*this,
                  "SELECT name, type FROM sqlite_master WHERE type IN ('table','view') "
                  "ORDER BY rowid");
      while (query.Step()) {
        const std::string name = query.Text(0);
        const int32_t type = query.Text(1) == "view" ? otView : otTable;
        cursor->AddRow({Value(name), Value(IsSystemName(name)), Value(type)});
      }
      return IntfPtr<IArDbCursor>(cursor);
    }
    case ikLiteralInfo: {
      IntfPtr<TInMemoryCursor> cursor(new TInMemoryCursor(this, 3, ArDbLiteralInfoFields));
      // A name goes between square brackets, so it cannot hold the closing one.
      for (const int32_t literal : {ltTableName, ltFieldName, ltIndexName})
        cursor->AddRow({Value(literal), Value(kSQLiteMaxNameLength), Value(false), null, null,
                        Value("]"), null});
      return IntfPtr<IArDbCursor>(cursor);
    }
    case ikReservedWords: {
      std::vector<std::string> words;
      const int count = sqlite3_keyword_count();
      for (int i = 0; i < count; ++i) {
        const char* name = nullptr;
        int length = 0;
        if (sqlite3_keyword_name(i, &name, &length) == SQLITE_OK && name != nullptr)
          words.push_back(UpperAscii(std::string_view(name, static_cast<size_t>(length))));
      }
      std::sort(words.begin(), words.end());
      words.erase(std::unique(words.begin(), words.end()), words.end());
      IntfPtr<TInMemoryCursor> cursor(new TInMemoryCursor(
          this, static_cast<int32_t>(words.size()), ArDbReservedWordsFields));
      for (const std::string& word : words) cursor->AddRow({Value(word)});
      return IntfPtr<IArDbCursor>(cursor);
    }
    case ikDataTypesInfo: {
      IntfPtr<TInMemoryCursor> cursor(new TInMemoryCursor(this, 8, ArDbDataTypesInfoFields));
      for (const TArDbDataType type : {dtBoolean, dtInteger, dtFloat, dtCurrency, dtDateTime,
                                       dtString, dtMemo, dtBinary})
        cursor->AddRow({Value(static_cast<int32_t>(type)), Value(SQLiteTypeName(type, 0)), null,
                        null, null});
      return IntfPtr<IArDbCursor>(cursor);
    }
    default:
      return nullptr;
  }
}

bool TSQLiteArDb::DoTableExists(const std::string& table_name) {
  return ObjectExists(table_name, true);
}

void TSQLiteArDb::DoDropTable(const std::string& table_name) {
  IntfPtr<IArDbSQLCommand> command =
      CreateCommand("DROP TABLE " + Bracketed(table_name), nullptr, 0, false);
  command->Execute(nullptr, 0);
}

// ---------------------------------------------------------------------------------------------
// TSQLiteCommand

TSQLiteCommand::TSQLiteCommand(TSQLiteArDb* database) : TArDbSQLCommand(database), db_(database) {}

void TSQLiteCommand::Prepare() {
  text_ = AdaptSQLiteStatement(SQL());
  statement_ = db_->CompileStatement(text_, Prepared());
  const int placeholders = sqlite3_bind_parameter_count(statement_->Stmt);
  if (static_cast<size_t>(placeholders) != ParamTypes().size())
    throw Exception("Число параметров в запросе (" + std::to_string(placeholders) +
                    ") не совпадает с числом типов параметров (" +
                    std::to_string(ParamTypes().size()) + ")");
}

IntfPtr<IArDbCursor> TSQLiteCommand::DoExecute(const Value* params, int32_t count,
                                               int32_t& rows_affected) {
  // A cursor still reads from the statement: this execution gets a statement of its own.
  if (!statement_ || statement_->Busy || statement_->Stmt == nullptr)
    statement_ = db_->CompileStatement(text_, Prepared());
  sqlite3_stmt* stmt = statement_->Stmt;
  const bool gives_rows = sqlite3_column_count(stmt) > 0;
  // A statement without rows runs to its end here, so its values can be bound in place.
  try {
    for (int32_t i = 0; i < count; ++i)
      BindValue(stmt, i + 1, ParamTypes()[static_cast<size_t>(i)], params[i], gives_rows);
  } catch (...) {
    sqlite3_clear_bindings(stmt);
    throw;
  }
  sqlite3* handle = db_->Handle();
  const int64_t changes_before = sqlite3_total_changes64(handle);
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) {
    rows_affected = -1;
    statement_->Busy = true;
    return IntfPtr<IArDbCursor>(new TSQLiteCursor(db_, statement_, false));
  }
  if (rc == SQLITE_DONE) {
    if (gives_rows) {
      rows_affected = -1;
      return IntfPtr<IArDbCursor>(new TSQLiteCursor(db_, statement_, true));
    }
    rows_affected = sqlite3_total_changes64(handle) != changes_before
                        ? static_cast<int32_t>(sqlite3_changes64(handle))
                        : 0;
    sqlite3_reset(stmt);
    return nullptr;
  }
  const std::string message = db_->ErrorText(rc);
  sqlite3_reset(stmt);
  throw Exception(message);
}

// ---------------------------------------------------------------------------------------------
// TSQLiteCursor

TSQLiteCursor::TSQLiteCursor(TSQLiteArDb* database, std::shared_ptr<TSQLiteStatement> statement,
                             bool at_end)
    : TArDbCursor(database), db_(database), statement_(std::move(statement)) {
  columns_ = statement_->Columns();
  if (columns_->HasExpressions && !at_end) {
    // Expressions are typed by their first value.
    auto typed = std::make_shared<TSQLiteColumns>(*columns_);
    sqlite3_stmt* stmt = Stmt();
    for (size_t i = 0; i < typed->Types.size(); ++i) {
      if (typed->Types[i] != dtUnknown ||
          sqlite3_column_decltype(stmt, static_cast<int>(i)) != nullptr)
        continue;
      switch (sqlite3_column_type(stmt, static_cast<int>(i))) {
        case SQLITE_INTEGER:
          typed->Types[i] = dtInteger;
          break;
        case SQLITE_FLOAT:
          typed->Types[i] = dtFloat;
          break;
        case SQLITE_TEXT:
          typed->Types[i] = dtMemo;
          break;
        case SQLITE_BLOB:
          typed->Types[i] = dtBinary;
          break;
        default:
          break;
      }
    }
    columns_ = std::move(typed);
  }
  if (at_end) ReleaseStatement();
}

TSQLiteCursor::~TSQLiteCursor() { ReleaseStatement(); }

void TSQLiteCursor::ReleaseStatement() {
  eof_ = true;
  if (!statement_) return;
  if (statement_->Stmt != nullptr) {
    sqlite3_reset(statement_->Stmt);
    // In-place bindings of the caller's values are not kept past the execution.
    statement_->Busy = false;
  }
  statement_.reset();
}

bool TSQLiteCursor::GetIsNull(int32_t index) {
  return sqlite3_column_type(Stmt(), index) == SQLITE_NULL;
}

Value TSQLiteCursor::GetValue(int32_t index) {
  sqlite3_stmt* stmt = Stmt();
  switch (sqlite3_column_type(stmt, index)) {
    case SQLITE_INTEGER: {
      const int64_t value = sqlite3_column_int64(stmt, index);
      if (value >= std::numeric_limits<int32_t>::min() &&
          value <= std::numeric_limits<int32_t>::max())
        return Value(static_cast<int32_t>(value));
      return Value(value);
    }
    case SQLITE_FLOAT:
      return Value(sqlite3_column_double(stmt, index));
    case SQLITE_TEXT: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
      const int bytes = sqlite3_column_bytes(stmt, index);
      return Value(std::string(text != nullptr ? text : "", static_cast<size_t>(bytes)));
    }
    case SQLITE_BLOB: {
      const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(stmt, index));
      const int bytes = sqlite3_column_bytes(stmt, index);
      return Value(data != nullptr ? Bytes(data, data + bytes) : Bytes());
    }
    default:
      return Value::Null();
  }
}

bool TSQLiteCursor::GetAsBoolean(int32_t index) {
  sqlite3_stmt* stmt = Stmt();
  switch (sqlite3_column_type(stmt, index)) {
    case SQLITE_INTEGER:
      return sqlite3_column_int64(stmt, index) != 0;
    case SQLITE_FLOAT:
      return sqlite3_column_double(stmt, index) != 0;
    default:
      return GetValue(index).ToBoolean();
  }
}

int32_t TSQLiteCursor::GetAsInteger(int32_t index) {
  sqlite3_stmt* stmt = Stmt();
  if (sqlite3_column_type(stmt, index) == SQLITE_INTEGER) {
    const int64_t value = sqlite3_column_int64(stmt, index);
    if (value >= std::numeric_limits<int32_t>::min() &&
        value <= std::numeric_limits<int32_t>::max())
      return static_cast<int32_t>(value);
  }
  return GetValue(index).ToInteger();
}

double TSQLiteCursor::GetAsFloat(int32_t index) {
  sqlite3_stmt* stmt = Stmt();
  switch (sqlite3_column_type(stmt, index)) {
    case SQLITE_INTEGER:
      return static_cast<double>(sqlite3_column_int64(stmt, index));
    case SQLITE_FLOAT:
      return sqlite3_column_double(stmt, index);
    default:
      return GetValue(index).ToFloat();
  }
}

Currency TSQLiteCursor::GetAsCurrency(int32_t index) {
  sqlite3_stmt* stmt = Stmt();
  switch (sqlite3_column_type(stmt, index)) {
    case SQLITE_INTEGER:
      return CurrencyFromInt64(sqlite3_column_int64(stmt, index));
    case SQLITE_FLOAT:
      return Currency::FromDouble(sqlite3_column_double(stmt, index));
    default:
      return GetValue(index).ToCurrency();
  }
}

DateTime TSQLiteCursor::GetAsDateTime(int32_t index) {
  sqlite3_stmt* stmt = Stmt();
  switch (sqlite3_column_type(stmt, index)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      return DateTime{sqlite3_column_double(stmt, index)};
    default:
      return GetValue(index).ToDateTime();
  }
}

std::string TSQLiteCursor::GetAsString(int32_t index) {
  sqlite3_stmt* stmt = Stmt();
  switch (sqlite3_column_type(stmt, index)) {
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      // Text, and blobs as their bytes.
      const void* data = sqlite3_column_blob(stmt, index);
      const int bytes = sqlite3_column_bytes(stmt, index);
      return data != nullptr ? std::string(static_cast<const char*>(data), static_cast<size_t>(bytes))
                             : std::string();
    }
    default:
      return GetValue(index).ToString();
  }
}

Value TSQLiteCursor::GetAsBlob(int32_t index) {
  Value value = GetValue(index);
  if (value.IsNull() || value.Kind() == ValueKind::kBytes) return value;
  return Value(value.ToBytes());
}

int32_t TSQLiteCursor::GetFieldCount() { return static_cast<int32_t>(columns_->Names.size()); }

int32_t TSQLiteCursor::GetFieldIndex(const std::string& name) {
  const std::vector<std::string>& names = columns_->Names;
  for (size_t i = 0; i < names.size(); ++i)
    if (SameTextAscii(names[i], name)) return static_cast<int32_t>(i);
  return -1;
}

std::string TSQLiteCursor::GetFieldName(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= columns_->Names.size())
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return columns_->Names[static_cast<size_t>(index)];
}

TArDbDataType TSQLiteCursor::GetFieldType(int32_t index) {
  return columns_->Types[static_cast<size_t>(index)];
}

int32_t TSQLiteCursor::GetFieldSize(int32_t index) {
  sqlite3_stmt* stmt = Stmt();
  switch (sqlite3_column_type(stmt, index)) {
    case SQLITE_TEXT: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
      const int bytes = sqlite3_column_bytes(stmt, index);
      return static_cast<int32_t>(
          Utf8Length(std::string_view(text != nullptr ? text : "", static_cast<size_t>(bytes))));
    }
    case SQLITE_BLOB:
      return sqlite3_column_bytes(stmt, index);
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      return 8;
    default:
      return 0;
  }
}

bool TSQLiteCursor::GetEof() { return eof_ || !statement_ || statement_->Stmt == nullptr; }

void TSQLiteCursor::DoNext() {
  if (GetEof()) return;
  const int rc = sqlite3_step(Stmt());
  if (rc == SQLITE_ROW) return;
  if (rc == SQLITE_DONE) {
    ReleaseStatement();
    return;
  }
  const std::string message = db_->ErrorText(rc);
  ReleaseStatement();
  throw Exception(message);
}

void TSQLiteCursor::DoClose() { ReleaseStatement(); }

// ---------------------------------------------------------------------------------------------
// TSQLiteTableDef

TSQLiteTableDef::TSQLiteTableDef(TSQLiteArDb* database) : TArDbTableDef(database) {}

TSQLiteArDb& TSQLiteTableDef::Db() const {
  ATLOR_ASSERT(Database() != nullptr, "Object not initialized");
  return static_cast<TSQLiteArDb&>(*Database());
}

void TSQLiteTableDef::Exec(const std::string& sql) {
  IntfPtr<IArDbSQLCommand> command = Db().CreateCommand(sql, nullptr, 0, false);
  command->Execute(nullptr, 0);
}

namespace {

std::string ColumnDeclaration(const TFieldDef& field) {
  std::string text = Bracketed(field.Name);
  const std::string type = SQLiteTypeName(field.DataType, field.Size);
  if (!type.empty()) text += " " + type;
  if (field.Required) text += " NOT NULL";
  return text;
}

// CREATE TABLE with the columns and, with `with_primary_key`, the primary key as a table
// constraint.
std::string CreateTableText(const std::string& table_name, const TTableDef& def,
                            bool with_primary_key) {
  std::string sql = "CREATE TABLE " + Bracketed(table_name) + " (";
  for (int32_t i = 0; i < def.Fields.Count(); ++i) {
    if (i > 0) sql += ", ";
    sql += ColumnDeclaration(def.Fields[i]);
  }
  if (with_primary_key) {
    if (const TIndexDef* primary = PrimaryIndex(def.Indexes))
      sql += ", PRIMARY KEY (" + IndexFieldsText(*primary, ',', '[', ']') + ")";
  }
  return sql + ")";
}

std::vector<int32_t> SecondaryIndexes(const TTableDef& def) {
  std::vector<int32_t> positions;
  const TIndexDef* primary = PrimaryIndex(def.Indexes);
  for (int32_t i = 0; i < def.Indexes.Count(); ++i)
    if (&def.Indexes[i] != primary) positions.push_back(i);
  return positions;
}

bool IsAutoIndex(const std::string& name) {
  return name.size() > 17 && SameTextAscii(std::string_view(name).substr(0, 17),
                                           "sqlite_autoindex_");
}

}  // namespace

std::vector<std::string> TSQLiteTableDef::NameIndexes(const std::string& table_name,
                                                      size_t count) {
  std::vector<std::string> taken;  // names handed out in this pass
  std::vector<std::string> names;
  const size_t base_length = Utf8Length(table_name);
  for (size_t n = 0; n < count; ++n) {
    for (uint32_t i = 0;; ++i) {
      const std::string suffix = "_IND" + HexNumber(i, 2);
      const size_t suffix_length = Utf8Length(suffix);
      std::string base = table_name;
      if (base_length + suffix_length > static_cast<size_t>(kSQLiteMaxNameLength))
        base = Utf8Prefix(table_name, static_cast<size_t>(kSQLiteMaxNameLength) - suffix_length);
      const std::string candidate = base + suffix;
      const bool in_pass = std::any_of(taken.begin(), taken.end(), [&](const std::string& t) {
        return SameTextAscii(t, candidate);
      });
      if (in_pass) continue;
      // Index names share one name space with tables and views in SQLite.
      if (Db().ObjectExists(candidate, false)) {
        taken.push_back(candidate);
        continue;
      }
      taken.push_back(candidate);
      names.push_back(candidate);
      break;
    }
  }
  return names;
}

void TSQLiteTableDef::CreateIndexes(const std::string& table_name, const TTableDef& def,
                                    const std::vector<int32_t>& positions) {
  const std::vector<std::string> names = NameIndexes(table_name, positions.size());
  for (size_t n = 0; n < positions.size(); ++n) {
    const TIndexDef& index = def.Indexes[positions[n]];
    Exec(std::string("CREATE") + (index.Unique ? " UNIQUE" : "") + " INDEX " +
         Bracketed(names[n]) + " ON " + Bracketed(table_name) + " (" +
         IndexFieldsText(index, ',', '[', ']') + ")");
  }
}

void TSQLiteTableDef::DoCreateTable(const std::string& table_name, const TTableDef& def,
                                    bool with_indexes) {
  // One transaction: a failing index leaves no table behind.
  Db().RunInTransaction([&]() {
    Exec(CreateTableText(table_name, def, with_indexes));
    if (with_indexes) CreateIndexes(table_name, def, SecondaryIndexes(def));
  });
}

void TSQLiteTableDef::DoLoad(const std::string& table_name, TTableDef& def) {
  TSQLiteArDb& db = Db();
  std::vector<std::pair<int64_t, std::string>> key;  // (position in the key, field)
  {
    Query columns(db, "SELECT name, type, \"notnull\", pk FROM pragma_table_info(?1) ORDER BY cid");
    columns.Bind(1, table_name);
    while (columns.Step()) {
      auto field = std::make_unique<TFieldDef>();
      field->Name = columns.Text(0);
      int32_t size = 0;
      field->DataType = SQLiteDataTypeOf(columns.Text(1), &size);
      field->Size = BaseDataType(field->DataType) == dtString ? size : 0;
      field->Required = columns.Int(2) != 0;
      if (columns.Int(3) > 0) key.emplace_back(columns.Int(3), field->Name);
      def.Fields.Add(std::move(field));
    }
  }
  // Indexes in the order they were made; the primary key first.
  struct IndexRow {
    std::string Name;
    bool Unique;
    std::string Origin;
  };
  std::vector<IndexRow> rows;
  {
    Query indexes(db,
                  "SELECT l.name, l.\"unique\", l.origin FROM pragma_index_list(?1) AS l "
                  "LEFT JOIN sqlite_master AS m ON m.type='index' AND m.name=l.name "
                  "ORDER BY m.rowid, l.seq");
    indexes.Bind(1, table_name);
    while (indexes.Step())
      rows.push_back({indexes.Text(0), indexes.Int(1) != 0, indexes.Text(2)});
  }
  if (!key.empty()) {
    std::sort(key.begin(), key.end());
    auto primary = std::make_unique<TIndexDef>();
    for (const IndexRow& row : rows)
      if (row.Origin == "pk") primary->Name = row.Name;
    primary->Primary = true;
    primary->Unique = true;
    for (const auto& [position, name] : key) primary->Fields.push_back(name);
    def.Indexes.Add(std::move(primary));
  }
  for (const IndexRow& row : rows) {
    if (row.Origin == "pk") continue;
    auto index = std::make_unique<TIndexDef>();
    index->Name = row.Name;
    index->Unique = row.Unique;
    Query columns(db, "SELECT name FROM pragma_index_info(?1) ORDER BY seqno");
    columns.Bind(1, row.Name);
    bool plain = true;
    while (columns.Step()) {
      // An index on an expression cannot be described by field names.
      if (columns.IsNull(0)) plain = false;
      index->Fields.push_back(columns.Text(0));
    }
    if (plain && !index->Fields.empty()) def.Indexes.Add(std::move(index));
  }
}

void TSQLiteTableDef::RenameTable(const std::string& from, const std::string& to) {
  if (SameTextAscii(from, to)) {
    // SQLite takes a name that differs only in case for another table's: go round a free name.
    const std::string between = UniqueTableName(Db(), from, "_REN");
    Exec("ALTER TABLE " + Bracketed(from) + " RENAME TO " + Bracketed(between));
    Exec("ALTER TABLE " + Bracketed(between) + " RENAME TO " + Bracketed(to));
    return;
  }
  Exec("ALTER TABLE " + Bracketed(from) + " RENAME TO " + Bracketed(to));
}

void TSQLiteTableDef::Rebuild(const TTableDef& old_def, const TTableDef& new_def) {
  TSQLiteArDb& db = Db();
  const std::string temporary = UniqueTableName(db, old_def.Name, "_TMP");
  Exec(CreateTableText(temporary, new_def, true));
  const TArDbFieldMap map = BuildFieldMap(old_def, new_def);
  if (!map.empty()) {
    std::string columns;
    std::string values;
    for (const TArDbFieldMapItem& item : map) {
      if (!columns.empty()) {
        columns += ",";
        values += ",";
      }
      columns += Bracketed(item.NewField.Name);
      values += Bracketed(item.OldField.Name);
    }
    Exec("INSERT INTO " + Bracketed(temporary) + " (" + columns + ") SELECT " + values +
         " FROM " + Bracketed(old_def.Name));
  }
  Exec("DROP TABLE " + Bracketed(old_def.Name));
  // Views on the table name the old table; the rebuilt one takes its place without SQLite
  // checking or rewriting them on the way.
  db.ExecDirect("PRAGMA legacy_alter_table=ON");
  try {
    Exec("ALTER TABLE " + Bracketed(temporary) + " RENAME TO " + Bracketed(new_def.Name));
  } catch (...) {
    db.ExecDirect("PRAGMA legacy_alter_table=OFF");
    throw;
  }
  db.ExecDirect("PRAGMA legacy_alter_table=OFF");
  // The old indexes went with the old table: their names are free again.
  CreateIndexes(new_def.Name, new_def, SecondaryIndexes(new_def));
}

void TSQLiteTableDef::DoAlterTable(const TTableDef& old_def, const TTableDef& new_def) {
  const TTableModificationInfo mods = CompareTableDefs(new_def, old_def, NameCase::kSensitive);
  if (mods.empty()) return;

  // Only a table rename and changes of secondary indexes can be made in place; SQLite cannot
  // change a primary key or drop the index of a UNIQUE constraint.
  constexpr TTableModifications kFieldChanges = tmAddField | tmDropField | tmRenameField |
                                                tmFieldType | tmFieldSize | tmFieldRequired |
                                                tmMoveField;
  bool rebuild = ModificationsMatch(kFieldChanges, mods, MaskMatch::kAny);
  std::vector<int32_t> drops;    // positions in Old
  std::vector<int32_t> creates;  // positions in New
  for (const TTableModificationEntry& entry : mods) {
    if (rebuild) break;
    const TTableModifications m = entry.Modifications;
    if ((m & (tmAddIndex | tmDropIndex | tmIndexFields | tmIndexPrimary | tmIndexUnique)) == 0)
      continue;
    const int32_t a = (m & tmAddIndex) ? -1 : ItemIndexById(old_def.Indexes, entry.ItemId);
    const int32_t b = (m & tmDropIndex) ? -1 : ItemIndexById(new_def.Indexes, entry.ItemId);
    if (a >= 0) {
      const TIndexDef& index = old_def.Indexes[a];
      if (index.Primary || IsAutoIndex(index.Name) || index.Name.empty()) rebuild = true;
      drops.push_back(a);
    }
    if (b >= 0) {
      if (new_def.Indexes[b].Primary) rebuild = true;
      creates.push_back(b);
    }
  }

  TSQLiteArDb& db = Db();
  db.RunInTransaction([&]() {
    if (rebuild) {
      Rebuild(old_def, new_def);
      return;
    }
    if (!SameName(old_def.Name, new_def.Name, NameCase::kSensitive))
      RenameTable(old_def.Name, new_def.Name);
    for (const int32_t a : drops) Exec("DROP INDEX " + Bracketed(old_def.Indexes[a].Name));
    if (!creates.empty()) CreateIndexes(new_def.Name, new_def, creates);
  });
}

}  // namespace atlor
