// libFuzzer target: the input is the .DB file of a table (seed it with the sample tables); the
// engine must read it or refuse it with EPxError, never crash or read outside it.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "backends/paradox/engine/px_database.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace atlor::pxengine;
  static const std::string folder = [] {
    char templ[] = "/tmp/pxfuzz-XXXXXX";
    return std::string(::mkdtemp(templ));
  }();
  const std::string path = folder + "/T.DB";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  try {
    DatabaseOptions o;
    o.mode = OpenMode::kReadOnly;
    o.missing_index = MissingIndexPolicy::kRebuild;
    o.code_page = 1252;
    auto db = Database::Open(folder, o);
    db->ReadTableInfo("T");
    Table& t = db->OpenTable("T");
    for (RowId r : t.Rows()) {
      try {
        t.GetRecord(r);
      } catch (const EPxError&) {
      }
    }
  } catch (const EPxError&) {
  }
  return 0;
}
