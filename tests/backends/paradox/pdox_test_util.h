#pragma once

// Helpers of the Paradox back-end tests: scratch folders, an open database and table fills
// through the table dataset.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "backends/paradox/pdox_ardbs.h"
#include "core/exception.h"
#include "support/temp_folder.h"

namespace atlor::pdoxtest {

namespace fs = std::filesystem;

using test::TempFolder;

// The message of the error `f` raises: "(assertion) " + text for assertion failures.
template <class F>
std::string ErrorText(F&& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  } catch (const EAssertionFailed& e) {
    return "(assertion) " + e.Text();
  }
  return "(no error)";
}

// The file names of a folder, sorted, upper case.
inline std::vector<std::string> FolderFiles(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) {
    std::string n = e.path().filename().string();
    for (char& c : n) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    names.push_back(n);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Appends rows to a table through the table dataset of the database.
inline void AppendRows(TPdoxArDb& db, const std::string& table,
                       const std::vector<std::vector<Value>>& rows) {
  std::unique_ptr<bde::TTable> t = db.NewTable(table);
  t->Open();
  for (const auto& row : rows) {
    t->Append();
    for (size_t i = 0; i < row.size(); ++i) t->Fields(static_cast<int>(i)).SetValue(row[i]);
    t->Post();
  }
  t->Close();
}

// The rows of a cursor, each its values' texts joined by "|" ("null" for Null).
inline std::vector<std::string> CursorRows(IArDbCursor& c) {
  std::vector<std::string> rows;
  for (; !c.Eof(); c.Next()) {
    std::string row;
    for (int32_t i = 0; i < c.FieldCount(); ++i) {
      if (i > 0) row += "|";
      row += c.IsNull(i) ? "null" : c.AsString(i, "");
    }
    rows.push_back(row);
  }
  return rows;
}

}  // namespace atlor::pdoxtest
