// The atlor-sample program as a user runs it, and the request it creates databases with.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "backends/sqlite/sqlite_ardb.h"
#include "core/simple_params.h"
#include "core/xml.h"
#include "tools/cli_common.h"
#include "support/temp_folder.h"

namespace atlor::cli {
namespace {

using test::TempFolder;

struct RunResult {
  int Status = -1;
  std::string Output;  // standard output and error together
};

std::string Quoted(const std::string& arg) {
  std::string out = "'";
  for (const char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

RunResult RunSample(const std::vector<std::string>& args) {
  std::string command = Quoted(ATLOR_SAMPLE_PROGRAM);
  for (const std::string& arg : args) command += " " + Quoted(arg);
  command += " 2>&1";
  RunResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.Output.append(buffer, n);
  const int status = ::pclose(pipe);
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(AtlorSampleProgramTest, CommandLineErrorsCreateNothing) {
  TempFolder folder("atlor-sample-cli");
  const std::string file = folder.File("never.sqlite");
  const std::vector<std::vector<std::string>> cases = {
      {"--tree", "wide", "SQLITE", "file=" + file},
      {"--objects", "-5", "SQLITE", "file=" + file},
      {"--seed", "4294967296", "SQLITE", "file=" + file},
      {"--versions", "286,12", "SQLITE", "file=" + file},
      {"--damage", "header,bits", "SQLITE", "file=" + file},
      {"--frobnicate", "SQLITE", "file=" + file},
      {"SQLITE", "file"},
      {"--objects", "10"},
      // Planned before the database is made: no sector of the packed encoding.
      {"--damage", "contour", "--versions", "261", "SQLITE", "file=" + file},
      {"--layers", "1", "--tree", "root", "--damage", "id,truncated", "SQLITE", "file=" + file},
  };
  for (const auto& args : cases) {
    const RunResult r = RunSample(args);
    EXPECT_EQ(r.Status, kExitUsage) << args.front() << "\n" << r.Output;
    EXPECT_NE(r.Output.find("atlor-sample --help"), std::string::npos) << r.Output;
  }
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(AtlorSampleProgramTest, HelpIsRussianAndNamesEveryOption) {
  const RunResult r = RunSample({"--help"});
  EXPECT_EQ(r.Status, kExitOk);
  for (const char* option : {"--seed", "--layers", "--objects", "--versions", "--tree", "--damage",
                             "--caption", "Использование"})
    EXPECT_NE(r.Output.find(option), std::string::npos) << option;
}

TEST(AtlorSampleProgramTest, CreatesAndFillsANewDatabase) {
  TempFolder folder("atlor-sample-cli");
  const std::string file = folder.File("demo.sqlite");
  const RunResult r = RunSample({"--seed", "5", "--layers", "2", "--objects", "300", "--versions",
                                 "286,264", "--damage", "header,noshapes", "--caption",
                                 "Проба", "SQLITE", "file=" + file});
  ASSERT_EQ(r.Status, kExitOk) << r.Output;
  EXPECT_NE(r.Output.find("Повреждение header"), std::string::npos) << r.Output;

  IntfPtr<IArDb> db(new TSQLiteArDb);
  db->Open(TSQLiteArDb::MakeDescription(file));
  IntfPtr<IArDbCursor> info = OpenTableCursor(*db, "ATLOR_DBINFO");
  EXPECT_EQ(info->AsInteger("VERSION", 0), 265);
  EXPECT_EQ(info->AsString("DBCAPTION", ""), "Проба");
  info->Close();
  int rows = 0;
  for (IntfPtr<IArDbCursor> c = OpenTableCursor(*db, "ATLOR_OBJINFO"); !c->Eof(); c->Next())
    ++rows;
  EXPECT_EQ(rows, 300);
}

TEST(AtlorSampleProgramTest, NeverOverwritesAnExistingDatabase) {
  TempFolder folder("atlor-sample-cli");
  const std::string file = folder.File("precious.sqlite");
  {
    std::ofstream out(file, std::ios::binary);
    out << "keep me";
  }
  const RunResult r = RunSample({"--quiet", "SQLITE", "file=" + file});
  EXPECT_EQ(r.Status, kExitFailed);
  EXPECT_NE(r.Output.find("уже существует"), std::string::npos) << r.Output;
  EXPECT_EQ(ReadFile(file), "keep me");

  // A database made by the program is not filled a second time either.
  const std::string made = folder.File("made.sqlite");
  ASSERT_EQ(RunSample({"--quiet", "--objects", "20", "SQLITE", "file=" + made}).Status, kExitOk);
  const std::string before = ReadFile(made);
  EXPECT_EQ(RunSample({"--quiet", "--seed", "9", "SQLITE", "file=" + made}).Status, kExitFailed);
  EXPECT_EQ(ReadFile(made), before);
}

TEST(CreateDatabaseRequestTest, CarriesTheDriverAndItsParameters) {
  ConnectionArgs connection;
  connection.driver = "SQLITE";
  connection.params = {{"file", "/data/новая база.sqlite"}, {"busy-timeout", "100"}};
  const XmlDocument request = XmlDocument::Parse(CreateDatabaseRequest(connection));
  const XmlNode root = request.Root();
  EXPECT_EQ(root.Name(), "create-database");
  EXPECT_EQ(root.Attribute("driver-name"), "SQLITE");
  IntfPtr<ISimpleParams> params = ParamsOf(root, false);
  EXPECT_EQ(params->GetCount(), 2);
  EXPECT_EQ(params->GetString(Value("file"), ""), "/data/новая база.sqlite");
  EXPECT_EQ(params->GetString(Value("busy-timeout"), ""), "100");

  // From a description file: its driver and parameters, nothing else.
  TempFolder folder("atlor-sample-cli");
  const std::string description = folder.File("db.xml");
  {
    std::ofstream out(description, std::ios::binary);
    out << "<driver name=\"SQLITE\" caption=\"SQLite\"><param name=\"file\">a.sqlite</param>"
           "<vendor/></driver>";
  }
  ConnectionArgs from_file;
  from_file.description_file = description;
  const XmlDocument second = XmlDocument::Parse(CreateDatabaseRequest(from_file));
  EXPECT_EQ(second.Root().Attribute("driver-name"), "SQLITE");
  EXPECT_EQ(second.Root().Elements().size(), 1u);
  EXPECT_EQ(ParamsOf(second.Root(), false)->GetString(Value("file"), ""), "a.sqlite");
}

}  // namespace
}  // namespace atlor::cli
