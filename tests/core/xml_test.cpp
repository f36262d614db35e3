#include "core/xml.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <unistd.h>

#include "core/encoding.h"
#include "core/exception.h"
#include "support/error_of.h"
#include "core/xstr.h"

namespace atlor {
namespace {

using test::ErrorOf;

std::string Utf16Bytes(std::string_view utf8, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t u : Utf8ToUtf16(utf8)) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += big_endian ? hi : lo;
    out += big_endian ? lo : hi;
  }
  return out;
}

constexpr char kDriver[] =
    "<driver name=\"ADO.MSSQL\" caption=\"Microsoft SQL Server\">"
    "<param name=\"server\" caption=\"Сервер\" editor=\"query-lookup\"/>"
    "<param name=\"connection-timeout\" basic=\"false\">15</param>"
    "<vendor><param name=\"file\">C:\\prog.exe</param></vendor>"
    "</driver>";

TEST(XmlTest, ReadsEveryEncoding) {
  const std::string body = "<a t=\"Привет\">Ёж &amp; 中</a>";
  const std::string inputs[] = {
      body,
      "\xEF\xBB\xBF" + body,
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + body,
      Utf16Bytes("<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + body, false),
      Utf16Bytes(body, true),
  };
  for (const std::string& input : inputs) {
    const XmlDocument doc = XmlDocument::Parse(input);
    ASSERT_TRUE(doc.HasRoot());
    EXPECT_EQ(doc.Root().Attribute("t"), "Привет");
    EXPECT_EQ(doc.Root().Text(), "Ёж & 中");
  }
  // Code page 1251 as declared; the character reference brings back what the page lacks.
  const std::string cp1251 =
      "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<a t=\"\xCF\xF0\xE8\xE2\xE5\xF2\">"
      "\xA8\xE6 &amp; &#20013;</a>";
  const XmlDocument doc = XmlDocument::Parse(cp1251);
  EXPECT_EQ(doc.Root().Attribute("t"), "Привет");
  EXPECT_EQ(doc.Root().Text(), "Ёж & 中");
}

TEST(XmlTest, ParseErrors) {
  const std::string message = ErrorOf([] { XmlDocument::Parse("<a>\n  <b></a>"); });
  EXPECT_NE(message.find("строка 2"), std::string::npos) << message;
  EXPECT_NE(message.find("Start-end tags mismatch"), std::string::npos) << message;
  EXPECT_NE(ErrorOf([] { XmlDocument::Parse("<a>\xCF\xF0</a>"); }).find("UTF-8"),
            std::string::npos);
  EXPECT_EQ(ErrorOf([] { XmlDocument::Parse("<?xml version=\"1.0\" encoding=\"koi8-r\"?><a/>"); }),
            "Неподдерживаемая кодировка XML-документа \"koi8-r\"");
  // No root element is not an error of the parser: the caller decides.
  for (const char* text : {"", "  \r\n", "<?xml version=\"1.0\"?>", "<!-- nothing -->"})
    EXPECT_FALSE(XmlDocument::Parse(text).HasRoot()) << text;
}

TEST(XmlTest, WritesWindows1251WithCharacterReferences) {
  XmlDocument doc;
  XmlNode root = doc.CreateRoot("driver");
  root.SetAttribute("name", "Ёж 中 😀 \"q\" <&>\ttab\r\nline");
  root.AppendText("Привет 中 😀 <&> ]]> \r\n");
  root.AppendElement("param").SetText("x");
  root.AppendCData("sa 中 ]]>");
  const std::string saved = doc.Save();
  EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"windows-1251\"?>", 0), 0u) << saved;
  EXPECT_NE(saved.find("&#20013;"), std::string::npos);
  EXPECT_NE(saved.find("&#128512;"), std::string::npos);
  EXPECT_NE(saved.find("\xCF\xF0\xE8\xE2\xE5\xF2"), std::string::npos);  // Привет in 1251
  EXPECT_TRUE(IsValidUtf8(saved) == false);                              // really single-byte

  // Everything comes back as it was, in both text forms.
  for (const std::string& text : {saved, doc.Text(), doc.Text(true)}) {
    const XmlDocument back = XmlDocument::Parse(text);
    const XmlNode r = back.Root();
    EXPECT_EQ(r.Attribute("name"), "Ёж 中 😀 \"q\" <&>\ttab\r\nline") << text;
    ASSERT_EQ(r.ChildCount(), 3u) << text;
    EXPECT_EQ(r.ChildAt(0).NodeValue(), "Привет 中 😀 <&> ]]> \r\n");
    EXPECT_EQ(r.ChildAt(1).Text(), "x");
    EXPECT_EQ(r.ChildAt(2).NodeValue(), "sa 中 ]]>");
  }
}

TEST(XmlTest, CDataStaysCDataWhenItCan) {
  XmlDocument doc;
  doc.CreateRoot("a").AppendCData("x < y");
  EXPECT_EQ(doc.Text(), "<a><![CDATA[x < y]]></a>");
  EXPECT_EQ(XmlDocument::Parse(doc.Save()).Root().FirstChild().Type(), XmlNodeType::kCData);
}

TEST(XmlTest, IndentationNeverChangesText) {
  const XmlDocument doc = XmlDocument::Parse(
      "<a><b>  x  </b><c> </c><d>t<e/>u</d><f><g/></f></a>");
  const std::string indented = doc.Text(true);
  EXPECT_EQ(indented,
            "<a>\n  <b>  x  </b>\n  <c> </c>\n  <d>t<e/>u</d>\n  <f>\n    <g/>\n  </f>\n</a>");
  EXPECT_EQ(XmlDocument::Parse(indented).Text(), doc.Text());
}

TEST(XmlTest, NavigationAndChanges) {
  const XmlDocument doc = XmlDocument::Parse(kDriver);
  XmlNode root = doc.Root();
  EXPECT_EQ(root.Name(), "driver");
  EXPECT_EQ(root.ChildCount(), 3u);
  EXPECT_EQ(root.Elements("param").size(), 2u);
  EXPECT_EQ(root.FirstElement("vendor").FirstElement("param").Text(), "C:\\prog.exe");
  EXPECT_TRUE(root.FirstElement("nothing").IsNull());
  EXPECT_EQ(root.ChildAt(7).Type(), XmlNodeType::kNull);
  EXPECT_EQ(root.ChildAt(0).Parent(), root);
  EXPECT_EQ(root.Attributes().size(), 2u);

  root.SetAttribute("caption", "MS SQL");
  EXPECT_EQ(root.Attribute("caption"), "MS SQL");
  EXPECT_TRUE(root.RemoveAttribute("caption"));
  EXPECT_FALSE(root.HasAttribute("caption"));
  EXPECT_EQ(root.Attribute("caption", "dflt"), "dflt");
  root.RemoveChild(root.FirstElement("vendor"));
  EXPECT_EQ(root.ChildCount(), 2u);

  // A node keeps its document alive.
  XmlNode kept;
  {
    XmlDocument temp = XmlDocument::Parse("<x><y>1</y></x>");
    kept = temp.Root().FirstElement("y");
  }
  EXPECT_EQ(kept.Text(), "1");
  EXPECT_EQ(kept.Document().Root().Name(), "x");

  XmlDocument copy;
  copy.SetRootCopy(doc.Root());
  copy.Root().SetAttribute("name", "other");
  EXPECT_EQ(doc.Root().Attribute("name"), "ADO.MSSQL");

  XmlNode null_node;
  EXPECT_EQ(null_node.Name(), "");
  EXPECT_EQ(null_node.Text(), "");
  EXPECT_EQ(null_node.ChildCount(), 0u);
  EXPECT_THROW(null_node.AppendElement("x"), EAssertionFailed);
}

TEST(XmlTest, TextOfNodes) {
  const XmlNode root =
      XmlDocument::Parse("<p>a<![CDATA[ b ]]><q>c<r>d</r></q><!-- no --><s/>e</p>").Root();
  EXPECT_EQ(root.Text(), "a  b  c d  e");
  const XmlNode inner = XmlDocument::Parse("<p>\n  x  <![CDATA[sa\n]]><q/>\n</p>").Root();
  EXPECT_EQ(inner.InnerText(), "x sa");
  EXPECT_EQ(XmlDocument::Parse("<p/>").Root().Text(), "");
}

TEST(XmlTest, AttributeHelpers) {
  const XmlNode param = XmlDocument::Parse(kDriver).Root().FirstElement("param");
  EXPECT_EQ(param.RequiredAttribute("name"), "server");
  EXPECT_EQ(ErrorOf([&] { param.RequiredAttribute("title"); }), "Не задан атрибут \"title\"");

  const std::vector<std::string_view> editors = {"none",         "text",   "password",
                                                 "inline-lookup", "query-lookup", "folder",
                                                 "file"};
  EXPECT_EQ(param.EnumAttribute("editor", editors, 1), 4);
  EXPECT_EQ(param.EnumAttribute("absent", editors, 1), 1);
  const XmlNode odd = XmlDocument::Parse("<param editor=\"Combo\"/>").Root();
  EXPECT_EQ(XmlDocument::Parse("<param editor=\"FOLDER\"/>").Root().EnumAttribute("editor", editors, 1), 5);
  EXPECT_EQ(ErrorOf([&] { odd.EnumAttribute("editor", editors, 1); }),
            "Неверное значение атрибута \"editor\" элемента \"param\".\r\nДопустимые значения:\r\n"
            "none\r\ntext\r\npassword\r\ninline-lookup\r\nquery-lookup\r\nfolder\r\nfile");

  const XmlNode flags = XmlDocument::Parse("<p a=\"false\" b=\"0\" c=\"TRUE\" d=\"maybe\" n=\"-3\"/>").Root();
  EXPECT_FALSE(flags.BoolAttribute("a", true));
  EXPECT_FALSE(flags.BoolAttribute("b", true));
  EXPECT_TRUE(flags.BoolAttribute("c", false));
  EXPECT_TRUE(flags.BoolAttribute("absent", true));
  EXPECT_EQ(ErrorOf([&] { flags.BoolAttribute("d", true); }),
            "Невозможно сконвертировать XStr-строку \"maybe\" в логическое значение.");
  EXPECT_EQ(flags.IntAttribute("n", 0), -3);
  EXPECT_EQ(flags.IntAttribute("absent", 9), 9);
  EXPECT_EQ(flags.ValueAttribute("n", VarType::kDouble, Value()), Value(-3.0));
}

TEST(XmlTest, Files) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("xml_test_" + std::to_string(::getpid()) + ".xml")).string();
  XmlDocument doc;
  doc.CreateRoot("vendor").AppendElement("param").SetText("Версия 中");
  doc.SaveToFile(path);
  EXPECT_EQ(XmlDocument::LoadFromFile(path).Root().Text(), "Версия 中");
  std::remove(path.c_str());
  EXPECT_NE(ErrorOf([&] { XmlDocument::LoadFromFile(path); }).find(path), std::string::npos);
}

TEST(XmlTest, DeepNestingNeedsNoRecursion) {
  constexpr int kDepth = 200000;
  std::string text;
  for (int i = 0; i < kDepth; ++i) text += "<e>";
  text += "x";
  for (int i = 0; i < kDepth; ++i) text += "</e>";
  const XmlDocument doc = XmlDocument::Parse(text);
  EXPECT_EQ(doc.Root().Text(), "x");
  EXPECT_EQ(doc.Text(), text);
  EXPECT_EQ(XmlDocument::Parse(doc.Save()).Root().Text(), "x");
}

TEST(XmlTest, NamesOutsideTheCodePageAreRefused) {
  XmlDocument doc;
  doc.CreateRoot("中");
  EXPECT_EQ(doc.Text(), "<中/>");
  EXPECT_THROW(doc.Save(), Exception);
}

}  // namespace
}  // namespace atlor
