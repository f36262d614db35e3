#pragma once

// The Paradox back-end: an Atlor database kept as Paradox tables in one folder, reached through
// the "STANDARD" driver of the data-access components (bde_ardbs.h).
//
//   IntfPtr<IArDb> db(new TPdoxArDb);
//   db->Open(TPdoxArDb::MakeDescription("/data/atlor"));
//
// Description parameters: "folder" (the folder of the tables) and "password" (optional, the
// password of protected tables). Names are compared without regard to case; quoted names in SQL
// use double quotes; table, field and index names are at most 24 characters.

#include <string>

#include "backends/paradox/bde_ardbs.h"

namespace atlor {

inline constexpr const char* kPdoxDriverName = "BDE.Paradox";
inline constexpr const char* kPdoxDriverCaption = "Paradox";
inline constexpr const char* kPdoxFolderParam = "folder";
inline constexpr const char* kPdoxPasswordParam = "password";
// LiteralInfo MAXNAMELEN of table, field and index names.
inline constexpr int32_t kPdoxMaxNameLength = 24;
// The largest size of a String field (DataTypesInfo).
inline constexpr int32_t kPdoxMaxStringSize = 255;

class TPdoxArDb : public TBDEArDb {
 public:
  TPdoxArDb();

  // <driver name="BDE.Paradox"><param name="folder">...</param>[<param name="password">...]
  static std::string MakeDescription(const std::string& folder);
  static std::string MakeDescription(const std::string& folder, const std::string& password);

  // A table dataset of the Paradox table type.
  std::unique_ptr<bde::TTable> NewTable(const std::string& table_name) override;

 protected:
  IntfPtr<TArDbTableDef> CreateTableDef() override;
  IntfPtr<TArDbSQLCommand> CreateSQLCommand() override;
  // The parameter list cleared; the password (when the description has one) given to the
  // session; driver "STANDARD" with "PATH=" + folder; dirty-read isolation; connect.
  void DoOpen() override;
  // Relations, LiteralInfo, ReservedWords and DataTypesInfo; any other kind is an internal
  // error (assertion "Abstract error").
  IntfPtr<IArDbCursor> DoGetInfo(int32_t kind) override;
};

// Creates the folder of a new, empty Paradox database (with missing parent folders). An existing
// folder is accepted only when it is empty; a file of that name, a folder with anything in it
// or a folder that cannot be made is an Exception whose message says so.
void CreatePdoxDatabaseFolder(const std::string& folder);

}  // namespace atlor
