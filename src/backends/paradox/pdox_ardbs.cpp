#include "backends/paradox/pdox_ardbs.h"

#include <filesystem>
#include <system_error>

#include "ardb/ardb_std_impl.h"
#include "core/simple_params.h"
#include "core/xml.h"

namespace atlor {

TPdoxArDb::TPdoxArDb() = default;

std::string TPdoxArDb::MakeDescription(const std::string& folder) {
  XmlDocument doc;
  XmlNode root = doc.CreateRoot("driver");
  root.SetAttribute("name", kPdoxDriverName);
  XmlNode param = root.AppendElement("param");
  param.SetAttribute("name", kPdoxFolderParam);
  param.SetText(folder);
  return doc.Text();
}

std::string TPdoxArDb::MakeDescription(const std::string& folder, const std::string& password) {
  XmlDocument doc = XmlDocument::Parse(MakeDescription(folder));
  XmlNode param = doc.Root().AppendElement("param");
  param.SetAttribute("name", kPdoxPasswordParam);
  param.SetText(password);
  return doc.Text();
}

std::unique_ptr<bde::TTable> TPdoxArDb::NewTable(const std::string& table_name) {
  std::unique_ptr<bde::TTable> table = TBDEArDb::NewTable(table_name);
  table->SetTableType(bde::TTableType::ttParadox);
  return table;
}

IntfPtr<TArDbTableDef> TPdoxArDb::CreateTableDef() {
  return IntfPtr<TArDbTableDef>(new TBDETableDef(this, false));
}

IntfPtr<TArDbSQLCommand> TPdoxArDb::CreateSQLCommand() {
  return IntfPtr<TArDbSQLCommand>(new TBDESQLCommand(this, '"', '"'));
}

void TPdoxArDb::DoOpen() {
  bde::TDatabase& db = BdeDatabase();
  db.Params().clear();
  IntfPtr<ISimpleParams> description = Description();
  if (description->Exists(Value(kPdoxPasswordParam)))
    BdeSession().AddPassword(description->GetString(Value(kPdoxPasswordParam), ""));
  db.SetDriverName("STANDARD");
  db.Params().push_back("PATH=" + description->GetString(Value(kPdoxFolderParam), ""));
  db.SetTransIsolation(bde::TTransIsolation::tiDirtyRead);
  db.Open();
}

IntfPtr<IArDbCursor> TPdoxArDb::DoGetInfo(int32_t kind) {
  const Value null = Value::Null();
  switch (kind) {
    case ikRelations:
      return TableListCursor();
    case ikLiteralInfo: {
      IntfPtr<TInMemoryCursor> cursor(new TInMemoryCursor(this, 3, ArDbLiteralInfoFields));
      for (const int32_t literal : {ltTableName, ltFieldName, ltIndexName})
        cursor->AddRow(
            {Value(literal), Value(kPdoxMaxNameLength), Value(false), null, null, null, null});
      return IntfPtr<IArDbCursor>(cursor);
    }
    case ikReservedWords:
      return ReservedWordsCursor();
    case ikDataTypesInfo: {
      IntfPtr<TInMemoryCursor> cursor(new TInMemoryCursor(this, 8, ArDbDataTypesInfoFields));
      const struct {
        TArDbDataType type;
        const char* name;
      } rows[] = {{dtBoolean, "Logical"}, {dtInteger, "Long integer"}, {dtFloat, "Number"},
                  {dtCurrency, "Money"},  {dtDateTime, "Timestamp"},   {dtString, "Alpha"},
                  {dtMemo, "Memo"},       {dtBinary, "Binary"}};
      for (const auto& row : rows)
        cursor->AddRow({Value(static_cast<int32_t>(row.type)), Value(row.name),
                        row.type == dtString ? Value(kPdoxMaxStringSize) : null, null, null});
      return IntfPtr<IArDbCursor>(cursor);
    }
    default:
      ATLOR_FAIL("Abstract error");
  }
}

void CreatePdoxDatabaseFolder(const std::string& folder) {
  namespace fs = std::filesystem;
  if (folder.empty()) throw Exception("Не указана папка базы данных Paradox");
  const fs::path path(folder);
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (fs::exists(status)) {
    if (!fs::is_directory(status))
      throw Exception("Нельзя создать базу данных Paradox: \"" + folder + "\" - это не папка");
    if (!fs::is_empty(path, ec) || ec)
      throw Exception("Нельзя создать базу данных Paradox: папка \"" + folder + "\" не пуста");
    return;
  }
  fs::create_directories(path, ec);
  if (ec)
    throw Exception("Нельзя создать папку базы данных Paradox \"" + folder + "\": " + ec.message());
}

}  // namespace atlor
