// The baseline of the optimizer benchmark: the least work a rebuild could do on a database.
// Reads every OBJECTS value of ATLOR_SECTORS once and writes the same bytes into a new table,
// through the same driver and database layer as the optimizer; then drops that table.
//
//   objects-copy-baseline DRIVER [name=value ...]

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "ardb/ardbs.h"
#include "tools/cli_common.h"

int main(int argc, char** argv) {
  using namespace atlor;
  using namespace atlor::cli;
  try {
    ProgramServices services;
    const ConnectionArgs connection =
        ParseConnection(std::vector<std::string>(argv + 1, argv + argc), std::string());
    IntfPtr<IArDb> db = OpenConnection(connection);
    const std::string copy = "BENCH_OBJECTS_COPY";
    if (db->TableExists(copy)) db->DropTable(copy);
    const TArDbFieldDef fields[] = {{"ID", dtString, 12, true}, {"OBJECTS", dtBinary, 0, false}};
    const TArDbIndexDef indexes[] = {{"", "ID", true, true}};
    CreateTableFromDefs(*db, copy, fields, indexes);

    const auto start = std::chrono::steady_clock::now();
    // One transaction, as the optimizer's phases write theirs.
    db->StartTransaction();
    const TArDbParam insert_fields[] = {StringParam("ID"), BinaryParam("OBJECTS")};
    IntfPtr<IArDbSQLCommand> insert = BuildInsertCommand(*db, copy, insert_fields, true);
    IntfPtr<IArDbCursor> rows = OpenTableCursor(*db, "ATLOR_SECTORS");
    long long count = 0, bytes = 0;
    while (rows && !rows->Eof()) {
      const Value blob = rows->AsBlob("OBJECTS");
      if (blob.Kind() == ValueKind::kBytes) bytes += static_cast<long long>(blob.BytesRef().size());
      insert->Execute({Value(rows->AsString("ID", "")), blob});
      rows->Next();
      ++count;
    }
    rows.reset();
    db->Commit();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    db->DropTable(copy);
    std::printf("copied %lld OBJECTS values, %.1f MB, in %.2f s\n", count, bytes / 1e6, seconds);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "Ошибка: " << e.what() << std::endl;
    return 1;
  }
}
