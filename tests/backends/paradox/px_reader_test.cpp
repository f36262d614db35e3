#include <gtest/gtest.h>

#include <iostream>

#include "backends/paradox/engine/px_database.h"
#include "px_test_util.h"

namespace atlor::pxengine {
namespace {

using testing::ScratchDir;

std::string Show(const Value& v) {
  if (v.IsNull()) return "NULL";
  if (v.IsEmpty()) return "EMPTY";
  if (v.Kind() == ValueKind::kBytes) return "bytes[" + std::to_string(v.BytesRef().size()) + "]";
  if (v.Kind() == ValueKind::kDateTime) { auto p = DecodeDateTime(v.ToDateTime()); char b[64]; snprintf(b, 64, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year,p.month,p.day,p.hour,p.minute,p.second,p.millisecond); return b; }
  std::string s = v.ToString();
  if (s.size() > 60) s = s.substr(0, 60) + "...(" + std::to_string(s.size()) + ")";
  return v.KindName() + ":" + s;
}

TEST(PxDump, All) {
  REQUIRE_SAMPLES();
  for (const char* sub : {"paradoxdriver/fields", "paradoxdriver/db", "paradoxdriver/joins", "paradoxdriver/mtdemo", "paradoxdriver/areas", "Rparadox", "paradoxReader", "paradoxdriver/encrypt"}) {
    ScratchDir dir;
    dir.CopySamples(sub);
    DatabaseOptions o;
    o.mode = OpenMode::kReadOnly;
    o.missing_index = MissingIndexPolicy::kRebuild;
    o.table_code_pages["NOTE1251"] = 1251;
    auto db = Database::Open(dir.Str(), o);
    for (const auto& name : db->ListTables()) {
      std::cout << "== " << sub << "/" << name << "\n";
      try {
        Table& t = db->OpenTable(name);
        for (const auto& f : t.Info().fields) std::cout << "  " << f.name << " " << FieldTypeName(f.type) << " " << f.size << (f.required ? " req" : "") << "\n";
        for (const auto& i : t.Info().indexes) { std::cout << "  index '" << i.name << "'"; for (auto& f : i.fields) std::cout << " " << f; std::cout << "\n"; }
        int n = 0;
        for (RowId r : t.Rows()) {
          if (n++ >= 3) break;
          std::cout << "  ";
          for (int i = 0; i < t.FieldCount() && i < 14; ++i) {
            try { std::cout << Show(t.Get(r, i)) << " | "; } catch (const std::exception& e) { std::cout << "ERR(" << e.what() << ") | "; }
          }
          std::cout << "\n";
        }
        std::cout << "  rows=" << t.RecordCount() << "\n";
      } catch (const std::exception& e) {
        std::cout << "  ERROR " << e.what() << "\n";
      }
    }
  }
}

}  // namespace
}  // namespace atlor::pxengine
