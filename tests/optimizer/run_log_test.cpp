#include "optimizer/run_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "storage/map_object.h"
#include "storage/testing/objects_writer.h"

namespace atlor {
namespace {

namespace fs = std::filesystem;

class RunLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("atlor_run_log_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path dir_;
};

TEST_F(RunLogTest, LinesAreAppendedWithCrLf) {
  const fs::path file = dir_ / "opt.log";
  {
    TLogFile log(file.string());
    log.Write("Оптимизация");
    log.Write("Слой Дороги");
  }
  {
    TLogFile log(file.string());  // an existing log is continued
    log.Write("Работа закончена");
  }
  EXPECT_EQ(Read(file), "Оптимизация\r\nСлой Дороги\r\nРабота закончена\r\n");

  TLogFile fresh(file.string(), TLogFile::kDeleteExisting);
  EXPECT_FALSE(fs::exists(file));
  fresh.Flush();  // nothing pending: the file is not even created
  EXPECT_FALSE(fs::exists(file));
  fresh.Write("");
  EXPECT_EQ(Read(file), "\r\n");
}

TEST_F(RunLogTest, LinesWaitWhileTheFileCannotBeWritten) {
  const fs::path folder = dir_ / "later";
  const fs::path file = folder / "opt.log";
  TLogFile log(file.string());
  log.Write("one");
  log.Write("two");
  EXPECT_EQ(log.PendingCount(), 2u);
  EXPECT_FALSE(fs::exists(file));

  fs::create_directories(folder);
  log.Write("three");
  EXPECT_EQ(log.PendingCount(), 0u);
  EXPECT_EQ(Read(file), "one\r\ntwo\r\nthree\r\n");

  if (::geteuid() != 0) {  // root writes anywhere
    fs::permissions(file, fs::perms::owner_read);
    log.Write("four");
    EXPECT_EQ(log.PendingCount(), 1u);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    log.Flush();
    EXPECT_EQ(Read(file), "one\r\ntwo\r\nthree\r\nfour\r\n");
  }
}

TEST_F(RunLogTest, FormattedLines) {
  EXPECT_EQ(FormatLogLine("Слой %s", {"Реки"}), "Слой Реки");
  EXPECT_EQ(FormatLogLine("Ошибка. Не могу загрузить сектор %s. Потерянно %d объектов",
                          {"0001000000AA", 3}),
            "Ошибка. Не могу загрузить сектор 0001000000AA. Потерянно 3 объектов");
  EXPECT_EQ(FormatLogLine("100%% %d", {-5}), "100% -5");
  for (const auto& bad : {std::string("%s"), std::string("%d %d"), std::string("%x"), std::string("%")}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(FormatLogLine(bad, {7}), EConvertError);
  }
  try {
    FormatLogLine("Слой %d", {"x"});
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Format 'Слой %d' invalid or incompatible with argument");
  }

  const fs::path file = dir_ / "run.log";
  SetRunLogFile(file.string());
  WriteLogFmt("Слой %s", std::string("Здания"));
  WriteLogFmt("Ошибка: %s", "нет связи");
  WriteLog("Работа закончена");
  EXPECT_EQ(Read(file), "Слой Здания\r\nОшибка: нет связи\r\nРабота закончена\r\n");
}

TEST_F(RunLogTest, DamagedSectorsAreReportedInTheRunLog) {
  const fs::path file = dir_ / "run.log";
  SetRunLogFile(file.string());
  TMapObjectList list(nullptr, TObjectId("0001000000AA"));
  EXPECT_FALSE(list.LoadFromBytes({}, RunLogSink()));
  EXPECT_EQ(Read(file), "Ошибка. Ошибка при загрузке заголовка сектора 0001000000AA\r\n");
}

TEST(RunLogNameTest, ProgramNameWithLogExtension) {
  EXPECT_EQ(DefaultRunLogFileName(), "optimizer_tests.log");
}

}  // namespace
}  // namespace atlor
