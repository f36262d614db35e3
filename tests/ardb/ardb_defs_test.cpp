#include "ardb/ardb_defs.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/exception.h"

namespace atlor {
namespace {

int32_t AddField(TTableDef& def, const std::string& name, TArDbDataType type = dtInteger,
                 int32_t size = 0, bool required = false) {
  auto field = std::make_unique<TFieldDef>();
  RecordToFieldDef(*field, {name, type, size, required});
  return def.Fields.Add(std::move(field));
}

int32_t AddIndex(TTableDef& def, const std::string& fields, bool primary = false,
                 bool unique = false, const std::string& name = "") {
  auto index = std::make_unique<TIndexDef>();
  index->Name = name;
  RecordToIndexDef(*index, {"ignored", fields, primary, unique});
  return def.Indexes.Add(std::move(index));
}

// A table T(ID, NAME, CODE) with a primary key on ID and an index on NAME;CODE.
void FillSample(TTableDef& def) {
  def.Name = "T";
  AddField(def, "ID", dtInteger, 0, true);
  AddField(def, "NAME", dtString, 40);
  AddField(def, "CODE", dtString, 10);
  AddIndex(def, "ID", true, true, "PK_T");
  AddIndex(def, "NAME;CODE", false, false, "IX_T");
}

template <class F>
std::string AssertionText(F&& f) {
  try {
    f();
  } catch (const EAssertionFailed& e) {
    return e.Text();
  }
  return "(no assertion)";
}

using Mods = TTableModificationInfo;

TEST(TableDefItemListTest, IdsComeFromAGrowingCounter) {
  TTableDef def;
  AddField(def, "A");
  AddField(def, "B");
  AddField(def, "C");
  EXPECT_EQ(def.Fields[0].Id, 0);
  EXPECT_EQ(def.Fields[1].Id, 1);
  EXPECT_EQ(def.Fields[2].Id, 2);
  def.Fields.Delete(ItemIndexById(def.Fields, 1));
  AddField(def, "D");
  EXPECT_EQ(def.Fields[2].Id, 3);
  def.Fields.Clear();
  AddField(def, "E");
  EXPECT_EQ(def.Fields[0].Id, 4);  // clearing does not reset the counter
  // Indexes count on their own.
  AddIndex(def, "E");
  EXPECT_EQ(def.Indexes[0].Id, 0);
}

TEST(TableDefItemListTest, OwnIdsAreKeptAndNeverHandedOutAgain) {
  TFieldList list;
  auto kept = std::make_unique<TFieldDef>();
  kept->Id = 7;
  list.Add(std::move(kept));
  list.Add(std::make_unique<TFieldDef>());
  EXPECT_EQ(list[0].Id, 7);
  EXPECT_EQ(list[1].Id, 8);
}

TEST(TableDefItemListTest, WrongItemsAndPositions) {
  TFieldList fields;
  EXPECT_EQ(AssertionText([&] { fields.Add(std::unique_ptr<TTableDefItem>(new TIndexDef)); }),
            "Unknown object type");
  EXPECT_EQ(AssertionText([&] { fields.Add(std::unique_ptr<TTableDefItem>()); }),
            "Object not initialized");
  TIndexList indexes;
  EXPECT_EQ(AssertionText([&] { indexes.Add(std::unique_ptr<TTableDefItem>(new TFieldDef)); }),
            "Unknown object type");
  EXPECT_EQ(fields.Count(), 0);
  EXPECT_EQ(indexes.Count(), 0);
  try {
    (void)fields[0];
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (0)");
  }
  EXPECT_THROW(fields.Delete(-1), EListError);
}

TEST(TableDefItemListTest, MoveKeepsItems) {
  TTableDef def;
  FillSample(def);
  def.Fields.Move(0, 2);
  EXPECT_EQ(def.Fields[0].Name, "NAME");
  EXPECT_EQ(def.Fields[2].Name, "ID");
  EXPECT_EQ(def.Fields[2].Id, 0);
  EXPECT_THROW(def.Fields.Move(0, 3), EListError);
  EXPECT_EQ(def.Fields.Count(), 3);
}

TEST(TableDefConversionTest, RecordsRoundTrip) {
  TTableDef def;
  FillSample(def);
  EXPECT_EQ(FieldDefToRecord(def.Fields[1]), (TArDbFieldDef{"NAME", dtString, 40, false}));
  EXPECT_EQ(IndexDefToRecord(def.Indexes[1]), (TArDbIndexDef{"IX_T", "NAME;CODE", false, false}));
  EXPECT_EQ(IndexDefToRecord(def.Indexes[0]), (TArDbIndexDef{"PK_T", "ID", true, true}));

  // The record's name is not taken; the field list is split, trimmed, empties dropped.
  TIndexDef& index = def.Indexes[1];
  RecordToIndexDef(index, {"OTHER", " CODE ; ;ID;", true, false});
  EXPECT_EQ(index.Name, "IX_T");
  EXPECT_EQ(index.Fields, (std::vector<std::string>{"CODE", "ID"}));
  EXPECT_TRUE(index.Primary);
  EXPECT_EQ(IndexFieldsText(index, ',', '[', ']'), "[CODE],[ID]");

  RecordToIndexDef(index, {"", "", false, false});
  EXPECT_TRUE(index.Fields.empty());
  EXPECT_EQ(IndexDefToRecord(index).Fields, "");
  EXPECT_EQ(AssertionText([&] { IndexFieldsText(index, ',', '"', '"'); }),
            "Index fields list empty");
}

TEST(TableDefConversionTest, SplitNames) {
  EXPECT_EQ(SplitNames(" A ; ;B;", ';'), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(SplitNames("", ';'), std::vector<std::string>{});
  EXPECT_EQ(SplitNames("A,\tB\r\n", ','), (std::vector<std::string>{"A", "B"}));
  std::vector<std::string> list{"old"};
  SplitNames(list, "X", ';');
  EXPECT_EQ(list, std::vector<std::string>{"X"});
}

TEST(TableDefLookupTest, ByNameIdAndFields) {
  TTableDef def;
  FillSample(def);
  AddIndex(def, "B;A;C", false, false, "IX_BAC");
  AddIndex(def, "A;X", false, false, "IX_AX");
  EXPECT_EQ(FieldIndexByName(def.Fields, "name", NameCase::kIgnore), 1);
  EXPECT_EQ(FieldIndexByName(def.Fields, "name", NameCase::kSensitive), -1);
  EXPECT_EQ(IndexIndexByName(def.Indexes, "ix_t", NameCase::kIgnore), 1);
  EXPECT_EQ(ItemIndexById(def.Indexes, 3), 3);
  EXPECT_EQ(ItemIndexById(def.Indexes, 9), -1);
  EXPECT_EQ(PrimaryIndex(def.Indexes), &def.Indexes[0]);

  const std::vector<std::string> ab{"A", "B"};
  EXPECT_EQ(IndexIndexByFields(def.Indexes, ab, NameCase::kSensitive, FieldsMatch::kAll), 2);
  const std::vector<std::string> ax{"a", "x"};
  EXPECT_EQ(IndexIndexByFields(def.Indexes, ax, NameCase::kSensitive, FieldsMatch::kAll), -1);
  EXPECT_EQ(IndexIndexByFields(def.Indexes, ax, NameCase::kIgnore, FieldsMatch::kAll), 3);
  // (A, Y): only the leading name is found in (B, A, C) and (A, X).
  const std::vector<std::string> ay{"A", "Y"};
  EXPECT_EQ(IndexIndexByFields(def.Indexes, ay, NameCase::kSensitive, FieldsMatch::kAll), -1);
  EXPECT_EQ(IndexIndexByFields(def.Indexes, ay, NameCase::kSensitive, FieldsMatch::kFirst), 2);
  const std::vector<std::string> ya{"Y", "A"};
  EXPECT_EQ(IndexIndexByFields(def.Indexes, ya, NameCase::kSensitive, FieldsMatch::kFirst), -1);
  EXPECT_TRUE(IndexHasField(def.Indexes[1], "code", NameCase::kIgnore));
  EXPECT_FALSE(IndexHasField(def.Indexes[1], "code", NameCase::kSensitive));

  TTableDef empty;
  EXPECT_EQ(PrimaryIndex(empty.Indexes), nullptr);
}

class CompareTableDefsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FillSample(old_def);
    AssignTableDef(new_def, old_def);
  }
  Mods Compare(NameCase name_case = NameCase::kSensitive) {
    return CompareTableDefs(new_def, old_def, name_case);
  }
  TTableDef old_def;
  TTableDef new_def;
};

TEST_F(CompareTableDefsTest, CopyIsIdenticalWithSameIds) {
  EXPECT_TRUE(Compare().empty());
  ASSERT_EQ(new_def.Fields.Count(), 3);
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(new_def.Fields[i].Id, old_def.Fields[i].Id);
  EXPECT_EQ(new_def.Indexes[1].Fields, old_def.Indexes[1].Fields);
  EXPECT_EQ(new_def.Indexes[1].Name, "IX_T");
  // The copy's own counter does not hand out an Id it already holds.
  EXPECT_EQ(AddField(new_def, "X"), 3);
  EXPECT_EQ(new_def.Fields[3].Id, 3);
}

TEST_F(CompareTableDefsTest, SingleEdits) {
  struct Case {
    const char* what;
    std::function<void(TTableDef&)> edit;
    Mods expected;
  };
  const Case cases[] = {
      {"rename table", [](TTableDef& d) { d.Name = "T2"; }, {{-1, tmRenameTable}}},
      {"type and size",
       [](TTableDef& d) {
         d.Fields[2].DataType = dtMemo;
         d.Fields[2].Size = 0;
       },
       {{2, tmFieldType | tmFieldSize}}},
      {"required", [](TTableDef& d) { d.Fields[0].Required = false; }, {{0, tmFieldRequired}}},
      {"move first field to the end",
       [](TTableDef& d) { d.Fields.Move(0, 2); },
       {{1, tmMoveField}, {2, tmMoveField}, {0, tmMoveField}}},
      {"add field", [](TTableDef& d) { AddField(d, "NEW"); }, {{3, tmAddField}}},
      {"drop and re-add field of the same name",
       [](TTableDef& d) {
         d.Fields.Delete(2);
         AddField(d, "CODE", dtString, 10);
       },
       // The index on NAME;CODE now names another field.
       {{3, tmAddField}, {2, tmDropField}, {1, tmIndexFields}}},
      {"index flags",
       [](TTableDef& d) {
         d.Indexes[1].Unique = true;
         d.Indexes[0].Primary = false;
       },
       {{0, tmIndexPrimary}, {1, tmIndexUnique}}},
      {"reorder index fields",
       [](TTableDef& d) {
         d.Indexes[1].Fields = {"CODE", "NAME"};
       },
       {{1, tmIndexFields}}},
      {"replace index",
       [](TTableDef& d) {
         d.Indexes.Delete(1);
         AddIndex(d, "CODE");
       },
       {{2, tmAddIndex}, {1, tmDropIndex}}},
      {"rename field together with its index entry",
       [](TTableDef& d) {
         d.Fields[1].Name = "TITLE";
         d.Indexes[1].Fields[0] = "TITLE";
       },
       {{1, tmRenameField}}},
  };
  for (const Case& c : cases) {
    TTableDef edited;
    AssignTableDef(edited, old_def);
    c.edit(edited);
    EXPECT_EQ(CompareTableDefs(edited, old_def, NameCase::kSensitive), c.expected) << c.what;
  }
}

TEST_F(CompareTableDefsTest, NameCaseDecidesRenames) {
  new_def.Fields[1].Name = "Name";
  new_def.Indexes[1].Fields[0] = "Name";
  EXPECT_TRUE(Compare(NameCase::kIgnore).empty());
  EXPECT_EQ(Compare(NameCase::kSensitive), (Mods{{1, tmRenameField}}));
}

TEST_F(CompareTableDefsTest, IndexNamingAMissingFieldIsAnAssertion) {
  new_def.Fields[1].Name = "TITLE";  // the index still lists NAME
  EXPECT_EQ(AssertionText([&] { Compare(); }),
            "In TableDef not found field, defined in index fields list");
}

TEST_F(CompareTableDefsTest, FieldMapPairsFieldsByIdInNewOrder) {
  new_def.Fields.Move(2, 0);
  new_def.Fields[0].Name = "KOD";
  new_def.Fields.Delete(ItemIndexById(new_def.Fields, 1));
  AddField(new_def, "EXTRA");
  const TArDbFieldMap map = BuildFieldMap(old_def, new_def);
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map[0].OldField.Name, "CODE");
  EXPECT_EQ(map[0].NewField.Name, "KOD");
  EXPECT_EQ(map[1].OldField.Name, "ID");
  EXPECT_EQ(map[1].NewField.Name, "ID");
}

TEST(ModificationsMatchTest, ExactOrAny) {
  const Mods add_only{{4, tmAddIndex}};
  const TTableModifications mask = tmAddIndex | tmDropIndex;
  EXPECT_FALSE(ModificationsMatch(mask, add_only, MaskMatch::kExact));
  EXPECT_TRUE(ModificationsMatch(mask, add_only, MaskMatch::kAny));
  const Mods both{{4, tmAddIndex}, {1, tmDropIndex}};
  EXPECT_TRUE(ModificationsMatch(mask, both, MaskMatch::kExact));
  EXPECT_FALSE(ModificationsMatch(tmAddField, both, MaskMatch::kAny));
  EXPECT_TRUE(ModificationsMatch(0, Mods{}, MaskMatch::kExact));
}

}  // namespace
}  // namespace atlor
