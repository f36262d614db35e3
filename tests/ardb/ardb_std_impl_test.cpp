#include "ardb/ardb_std_impl.h"

#include <gtest/gtest.h>

#include "core/exception.h"
#include "recording_backend.h"

namespace atlor {
namespace {

using test::TRecordingArDb;

template <class F>
std::string AssertionText(F&& f) {
  try {
    f();
  } catch (const EAssertionFailed& e) {
    return e.Text();
  }
  return "(no assertion)";
}

template <class F>
std::string ErrorText(F&& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no error)";
}

class InMemoryCursorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db = IntfPtr<TRecordingArDb>(new TRecordingArDb);
    db->Open(TRecordingArDb::kDescription);
  }
  IntfPtr<TInMemoryCursor> NewCursor(std::span<const TArDbFieldDef> columns, int32_t capacity) {
    return IntfPtr<TInMemoryCursor>(new TInMemoryCursor(db.get(), capacity, columns));
  }
  IntfPtr<TRecordingArDb> db;
};

TEST_F(InMemoryCursorTest, GrowsTenRowsAtATime) {
  static const TArDbFieldDef columns[] = {{"N", dtInteger, -1, true}};
  IntfPtr<TInMemoryCursor> c = NewCursor(columns, 1);
  std::vector<int32_t> capacities;
  for (int32_t i = 0; i < 25; ++i) {
    c->AddRow({i});
    if (capacities.empty() || capacities.back() != c->Capacity())
      capacities.push_back(c->Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int32_t>{1, 11, 21, 31}));
  EXPECT_EQ(c->RowCount(), 25);
  int32_t expected = 0;
  for (; !c->Eof(); c->Next()) EXPECT_EQ(c->AsInteger("N", -1), expected++);
  EXPECT_EQ(expected, 25);
}

TEST_F(InMemoryCursorTest, EmptyCursorIsAtEndOfData) {
  IntfPtr<TInMemoryCursor> c = NewCursor(ArDbReservedWordsFields, 0);
  EXPECT_TRUE(c->Eof());
  EXPECT_EQ(ErrorText([&] { c->AsInteger("RESERVEDWORD", 0); }),
            "Ошибка доступа к данным: курсор закрыт");
  EXPECT_EQ(c->FieldCount(), 1);
  EXPECT_EQ(c->FieldType("RESERVEDWORD"), dtString);  // works at end of data
}

TEST_F(InMemoryCursorTest, LiteralInfoRowIsStoredByColumnType) {
  IntfPtr<TInMemoryCursor> c = NewCursor(ArDbLiteralInfoFields, 1);
  const Value null = Value::Null();
  c->AddRow({0, "24", 0, null, null, null, null});
  EXPECT_EQ(c->AsVariant("LITERALTYPE"), Value(0));
  EXPECT_EQ(c->AsVariant("MAXNAMELEN"), Value(24));  // the text was converted when stored
  EXPECT_EQ(c->AsVariant("CASESENSITIVE"), Value(false));
  EXPECT_EQ(c->AsVariant("CORRECTCHARS"), null);
  EXPECT_EQ(c->AsInteger("MAXNAMELEN", 0), 24);
  EXPECT_EQ(c->AsString("MAXNAMELEN", ""), "24");
  EXPECT_EQ(c->AsString("INVALIDCHARS", "none"), "none");
  // Names compare exactly.
  EXPECT_EQ(c->FieldIndex("maxnamelen"), -1);
  EXPECT_EQ(ErrorText([&] { c->AsInteger("maxnamelen", 0); }), "Не найдено поле \"maxnamelen\"");
  EXPECT_EQ(c->FieldName(1), "MAXNAMELEN");
  EXPECT_EQ(c->FieldSize("LITERALTYPE"), -1);
}

TEST_F(InMemoryCursorTest, ValuesTakeTheirColumnKind) {
  static const TArDbFieldDef columns[] = {
      {"B", dtBoolean, -1, false},  {"I", dtInteger, -1, false}, {"F", dtFloat, -1, false},
      {"C", dtCurrency, -1, false}, {"D", dtDate, -1, false},    {"S", dtString, -1, false},
      {"M", dtMemo, -1, false},     {"X", 0x0900, -1, false},
  };
  IntfPtr<TInMemoryCursor> c = NewCursor(columns, 1);
  c->AddRow({1, 2.5, "1.5", 3, 2.0, 42, "Текст", Bytes{1, 2}});
  EXPECT_EQ(c->AsVariant("B"), Value(true));
  EXPECT_EQ(c->AsVariant("I"), Value(2));  // half to even
  EXPECT_EQ(c->AsVariant("F"), Value(1.5));
  EXPECT_EQ(c->AsVariant("C"), Value(Currency{30000}));
  EXPECT_EQ(c->AsVariant("D"), Value(DateTime{2.0}));
  EXPECT_EQ(c->AsVariant("S"), Value("42"));
  EXPECT_EQ(c->FieldSize("S"), 2);
  EXPECT_EQ(c->FieldSize("M"), 5);                   // characters, not bytes
  EXPECT_EQ(c->AsVariant("X"), Value(Bytes{1, 2}));  // other types keep the value
}

TEST_F(InMemoryCursorTest, ReadingFailuresAreConversionErrors) {
  static const TArDbFieldDef columns[] = {{"S", dtString, -1, false}};
  IntfPtr<TInMemoryCursor> c = NewCursor(columns, 1);
  c->AddRow({"abc"});
  c->AddRow({Value::Null()});
  EXPECT_THROW(c->AsInteger("S", 0), EVariantError);
  c->Next();
  EXPECT_TRUE(c->IsNull("S"));
  EXPECT_THROW(c->FieldSize("S"), EVariantError);
}

TEST_F(InMemoryCursorTest, BadColumnsAndRowsAreAssertions) {
  const TArDbFieldDef unnamed[] = {{"", dtInteger, -1, false}};
  const TArDbFieldDef untyped[] = {{"A", 0, -1, false}};
  EXPECT_EQ(AssertionText([&] { NewCursor(unnamed, 1); }), "Assertion failure");
  EXPECT_EQ(AssertionText([&] { NewCursor(untyped, 1); }), "Assertion failure");
  EXPECT_EQ(db->ObjectCount(), 0);  // a failed construction leaves nothing registered

  static const TArDbFieldDef columns[] = {
      {"I", dtInteger, -1, false}, {"S", dtString, -1, false}, {"BIN", dtBinary, -1, false}};
  IntfPtr<TInMemoryCursor> c = NewCursor(columns, 1);
  EXPECT_EQ(AssertionText([&] { c->AddRow({1, "a"}); }), "Invalid procedure argument");
  const std::string blob = AssertionText([&] { c->AddRow({1, "a", Bytes{1}}); });
  EXPECT_EQ(blob, "Invalid argument value (index = 2). BLOB field not supported");
  EXPECT_EQ(AssertionText([&] {
              c->AddRow({1, Value(), Value::Null()});
            }),
            "Invalid argument value (index = 1). Unknown value");
  EXPECT_EQ(AssertionText([&] {
              c->AddRow({"x", "a", Value::Null()});
            }),
            "Invalid argument value (index = 0). Could not convert variant of type (OleStr) "
            "into type (Integer)");
  EXPECT_EQ(c->RowCount(), 0);
  // A failed row is not counted; the next one takes its place.
  c->AddRow({7, "b", Value::Null()});
  EXPECT_EQ(c->RowCount(), 1);
  EXPECT_EQ(c->AsInteger("I", 0), 7);
  EXPECT_TRUE(c->IsNull("BIN"));
  EXPECT_EQ(c->AsBlob("BIN"), Value::Null());
}

TEST_F(InMemoryCursorTest, CloseDiscardsRows) {
  IntfPtr<TInMemoryCursor> c = NewCursor(ArDbRelationsFields, 5);
  c->AddRow({"ATLOR_LAYERS", false, 0});
  c->AddRow({"V", false, 1});
  c->Close();
  EXPECT_TRUE(c->Eof());
  EXPECT_EQ(c->RowCount(), 0);
  EXPECT_EQ(c->Capacity(), 0);
  EXPECT_EQ(c->FieldCount(), 3);
}

}  // namespace
}  // namespace atlor
