#include "core/simple_params.h"

#include <gtest/gtest.h>

#include "core/exception.h"
#include "support/error_of.h"

namespace atlor {
namespace {

using test::ErrorOf;

template <class F>
std::string AssertionOf(F&& f) {
  try {
    f();
  } catch (const EAssertionFailed& e) {
    return e.Text();
  }
  ADD_FAILURE() << "no assertion failure";
  return {};
}

// A set over a fresh "driver" element that records its notifications.
struct ParamsFixture : ::testing::Test {
  XmlDocument doc;
  IntfPtr<TSimpleParams> params{new TSimpleParams(true)};
  std::vector<std::string> changes;

  ParamsFixture() {
    params->Attach(doc.CreateRoot("driver"));
    params->OnChange = [this](TSimpleParams&, const std::string& name) { changes.push_back(name); };
  }
};

TEST_F(ParamsFixture, StoresEntriesInCreationOrder) {
  params->SetString("folder", "C:\\Data");
  params->SetInteger("connection-timeout", 15);
  EXPECT_EQ(params->GetXml(),
            "<driver><param name=\"folder\">C:\\Data</param>"
            "<param name=\"connection-timeout\">15</param></driver>");
  EXPECT_EQ(params->GetCount(), 2);
  EXPECT_EQ(params->GetName(1), "connection-timeout");
  EXPECT_TRUE(params->Exists("folder"));
  EXPECT_FALSE(params->Exists("Folder"));  // case counts
  EXPECT_TRUE(params->Exists(1));
  EXPECT_FALSE(params->Exists(2));
  EXPECT_EQ(params->GetString(Value(0), ""), "C:\\Data");  // by position
}

TEST_F(ParamsFixture, NotifiesOnlyRealChanges) {
  params->SetInteger("a", 5);
  EXPECT_EQ(doc.Root().Elements("param").size(), 1u);
  EXPECT_EQ(changes, std::vector<std::string>{"a"});
  params->SetInteger("a", 5);
  params->SetString("a", "5");
  EXPECT_EQ(changes.size(), 1u);
  params->SetBoolean("a", true);
  EXPECT_EQ(changes.size(), 2u);
  EXPECT_EQ(params->GetInteger("b", 7), 7);
}

TEST_F(ParamsFixture, TypedValuesRoundTrip) {
  const DateTime when = EncodeDateTime(2005, 1, 2, 13, 5, 9);
  params->SetBoolean("flag", true);
  params->SetDateTime("when", when);
  params->SetFloat("ratio", 2.5);
  params->SetValue("blob", Value(Bytes{0x41, 0x42, 0x43, 0x44}));
  EXPECT_TRUE(params->GetBoolean("flag", false));
  EXPECT_EQ(params->GetString("flag", ""), "1");
  EXPECT_EQ(params->GetDateTime("when"), when);
  EXPECT_EQ(params->GetString("when", ""), "2005-01-02T13:05:09");
  EXPECT_EQ(params->GetFloat("ratio", 0), 2.5);
  EXPECT_EQ(params->GetValue("blob", Value(), VarType::kByteArray), Value(Bytes{0x41, 0x42, 0x43, 0x44}));
  EXPECT_EQ(params->GetDateTime("absent"), DateTime{0});
  EXPECT_EQ(params->GetString("absent", "dflt"), "dflt");
}

TEST_F(ParamsFixture, ReadErrors) {
  params->SetString("n", "abc");
  params->SetValue("null", Value::Null());
  EXPECT_EQ(ErrorOf([&] { params->GetInteger("n", 0); }),
            "Невозможно сконвертировать XStr-строку \"abc\" в целое значение.\r\n"
            "Ошибка: 'abc' is not a valid integer value");
  EXPECT_EQ(ErrorOf([&] { params->GetString("null", ""); }),
            "Could not convert variant of type (Null) into type (OleStr)");
  EXPECT_THROW(params->GetInteger("null", 0), EVariantError);
  EXPECT_THROW(params->GetBoolean("null", false), EVariantError);
  EXPECT_THROW(params->GetDateTime("null"), EVariantError);
  EXPECT_TRUE(params->GetValue("null", Value(1)).IsNull());
}

TEST_F(ParamsFixture, Hooks) {
  std::vector<std::string> asked;
  params->OnGetValue = [&](TSimpleParams&, const std::string& name, Value& value) {
    asked.push_back(name);
    EXPECT_TRUE(value.IsEmpty());
    if (name != "ArDb\\DriverName") return false;
    value = "ADO.MSSQL";
    return true;
  };
  params->SetString("stored", "x");
  EXPECT_EQ(params->GetString("ArDb\\DriverName", ""), "ADO.MSSQL");
  EXPECT_EQ(params->GetString("other", "dflt"), "dflt");
  EXPECT_EQ(params->GetString("stored", ""), "x");  // an entry is never asked for
  EXPECT_EQ(params->GetString(Value(5), "pos"), "pos");  // nor a position
  EXPECT_EQ(asked, (std::vector<std::string>{"ArDb\\DriverName", "other"}));

  Value taken;
  params->OnSetValue = [&](TSimpleParams&, const std::string& name, const Value& value) {
    taken = value;
    return name == "taken";
  };
  params->SetInteger("taken", 3);
  EXPECT_EQ(taken, Value(3));
  EXPECT_FALSE(params->Exists("taken"));
  params->SetInteger("created", 4);
  EXPECT_TRUE(params->Exists("created"));
  params->SetInteger("created", 5);  // existing entries do not ask
  EXPECT_EQ(taken, Value(4));
  EXPECT_EQ(changes, (std::vector<std::string>{"stored", "created", "created"}));
}

TEST(SimpleParamsTest, UnknownNamesWithoutAutoCreate) {
  const XmlDocument doc = XmlDocument::Parse("<driver><param name=\"a\">1</param></driver>");
  const IntfPtr<ISimpleParams> params = ParamsOf(doc.Root(), false);
  params->SetInteger("a", 2);
  EXPECT_EQ(params->GetInteger("a", 0), 2);
  EXPECT_EQ(AssertionOf([&] { params->SetInteger("b", 1); }), "Param with index b not found");
  EXPECT_EQ(AssertionOf([&] { params->SetInteger(Value(3), 1); }), "Param with index 3 not found");
  EXPECT_FALSE(params->Exists("b"));
}

TEST(SimpleParamsTest, CountsOnlyEntries) {
  const XmlDocument doc = XmlDocument::Parse(
      "<driver name=\"x\"><param name=\"a\"/>text<vendor><param name=\"file\"/></vendor>"
      "<param name=\"b\"/></driver>");
  const IntfPtr<ISimpleParams> params = ParamsOf(doc.Root(), false);
  EXPECT_EQ(params->GetCount(), 2);
  EXPECT_EQ(params->GetName(0), "a");
  EXPECT_EQ(params->GetName(1), "");  // the text node
  EXPECT_EQ(params->GetName(3), "b");
  EXPECT_EQ(params->GetName(9), "");
  EXPECT_FALSE(params->Exists("file"));
}

TEST(SimpleParamsTest, EntryText) {
  const XmlDocument doc = XmlDocument::Parse(
      "<d><param name=\"cd\">\n<![CDATA[sa\n]]></param>"
      "<param name=\"mixed\">a<x>b</x><![CDATA[c]]></param>"
      "<param name=\"blank\"> </param></d>");
  const IntfPtr<ISimpleParams> params = ParamsOf(doc.Root(), true);
  EXPECT_EQ(params->GetString("cd", ""), "sa\n");
  EXPECT_EQ(params->GetString("mixed", ""), "a b c");
  EXPECT_EQ(params->GetString("blank", ""), " ");
  params->SetString("mixed", "new");
  EXPECT_EQ(doc.Root().ChildAt(1).Xml(), "<param name=\"mixed\">new</param>");
  // A value survives writing and reading the document, blanks and line breaks included.
  for (const char* value : {" ", "  two  ", "a\r\nb", "<&>\"'", "中 😀", ""}) {
    params->SetString("v", value);
    for (const std::string& text : {doc.Save(), doc.Text()}) {
      const XmlDocument back = XmlDocument::Parse(text);
      EXPECT_EQ(ParamsOf(back.Root(), false)->GetString("v", "?"), value) << text;
    }
  }
}

TEST(SimpleParamsTest, ElementText) {
  const XmlDocument doc = XmlDocument::Parse("<d><![CDATA[sa\n]]><param name=\"p\">1</param> x </d>");
  const IntfPtr<ISimpleParams> params = ParamsOf(doc.Root(), false);
  EXPECT_EQ(params->GetText(true, " "), "sa x");
  EXPECT_EQ(params->GetText(false, "|"), "sa\n| x ");
  params->SetText("new");
  EXPECT_EQ(params->GetXml(), "<d><param name=\"p\">1</param><![CDATA[new]]></d>");
  EXPECT_EQ(ParamsOf(XmlDocument::Parse("<d><![CDATA[ ]]>a</d>").Root(), false)->GetText(true, ","),
            "a");
}

TEST(SimpleParamsTest, AttachedToNothing) {
  const IntfPtr<TSimpleParams> params(new TSimpleParams(true));
  EXPECT_EQ(params->GetCount(), 0);
  EXPECT_EQ(params->GetName(0), "");
  EXPECT_EQ(params->GetText(true, " "), "");
  EXPECT_EQ(params->GetXml(), "");
  EXPECT_FALSE(params->Exists("a"));
  EXPECT_EQ(params->GetInteger("a", 3), 3);
  EXPECT_EQ(ErrorOf([&] { params->SetInteger("a", 1); }),
            "Невозможно записать параметр \"a\": набор параметров не связан с XML-элементом");
  EXPECT_THROW(params->SetText("x"), Exception);

  // Attaching switches what the set reads; the set keeps the document alive.
  {
    const XmlDocument doc = XmlDocument::Parse("<driver><param name=\"a\">8</param></driver>");
    params->Attach(doc.Root());
  }
  EXPECT_EQ(params->GetInteger("a", 3), 8);
  params->Attach(XmlNode());
  EXPECT_EQ(params->GetInteger("a", 3), 3);
}

TEST(SimpleParamsTest, AttachingANonElement) {
  const XmlDocument doc = XmlDocument::Parse("<d>text</d>");
  const IntfPtr<TSimpleParams> params(new TSimpleParams(false));
  EXPECT_EQ(AssertionOf([&] { params->Attach(doc.Root().FirstChild()); }), "Incorrect object type");
  EXPECT_EQ(AssertionOf([&] { ParamsOf(doc.AsNode(), false); }), "Incorrect object type");
}

TEST(SimpleParamsTest, AnswersItsInterface) {
  const IntfPtr<ISimpleParams> params = ParamsOf(XmlDocument().CreateRoot("d"), true);
  void* object = nullptr;
  ASSERT_EQ(params->QueryInterface(ISimpleParams::IID, &object), kResultOk);
  const IntfPtr<ISimpleParams> same = IntfPtr<ISimpleParams>::Adopt(static_cast<ISimpleParams*>(object));
  EXPECT_EQ(same, params);
  EXPECT_EQ(params->QueryInterface(Guid::Parse("{00000000-0000-0000-0000-000000000001}"), &object),
            kResultNoInterface);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(ISimpleParams::IID.ToString(), "{61DE00C7-45A0-4DC9-8CE3-66B1EA143378}");
}

}  // namespace
}  // namespace atlor
