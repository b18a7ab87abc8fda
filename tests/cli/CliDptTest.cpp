// quelm-cli lut and dpt against the simulated reader.
#include <gtest/gtest.h>

#include <QFile>
#include <cstring>

#include "CliDriver.h"
#include "ParamReaderRig.h"
#include "ReaderParams.h"
#include "TestEnv.h"
#include "base/IniFile.h"
#include "parameters/BulbParamBlock.h"

namespace {

using quelm::test::ParamReaderRig;
using quelm::test::runCli;

class CliDptTest : public ::testing::Test {
 protected:
  QString path(const char* name) const { return rig.dir.filePath(QLatin1String(name)); }
  quelm::test::CliRun dpt(QStringList words) {
    return runCli(QStringList{"dpt"} + words + QStringList{"--port", "COM1"}, rig.configPath);
  }
  void file(const char* name, const QByteArray& text) { quelm::test::WriteFile(path(name), text); }
  QString value(const char* name, const QString& section, const char* key) const {
    return quelm::IniFile(path(name)).ReadString(section, QLatin1String(key), QStringLiteral("<none>"));
  }
  ParamReaderRig rig{/*serviceLevel=*/true};
};

TEST_F(CliDptTest, ListsTheLookUpDirectorySorted) {
  rig.model.Parameters().LookupTable.push_back(quelm::sim::ParameterState::MakeTable('A', "0000"));
  const auto r = runCli({"lut", "list", "--port", "COM1"}, rig.configPath);
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, "A0000\nA0001\nA0002\nA0417\nB0010\n");
}

TEST_F(CliDptTest, ReadSavesEachKindInItsSection) {
  auto r = dpt({"read", "--default", "b", path("t.dpt")});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  r = dpt({"read", "--lut", "A", "0417", path("t.dpt")});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  r = dpt({"read", "--own", path("t.dpt")});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(value("t.dpt", quelm::kDefaultKeySection, "KTYPE"), "B");
  EXPECT_EQ(value("t.dpt", quelm::kDefaultKeySection, "KSN"), "<none>");
  EXPECT_EQ(value("t.dpt", quelm::kLookupKeySection, "KSN"), "0417");
  EXPECT_EQ(value("t.dpt", quelm::kLookupKeySection, "HEATC"), "3000");
  EXPECT_EQ(value("t.dpt", quelm::kIndividualKeySection, "KSN"), "0042");
  EXPECT_EQ(value("t.dpt", quelm::kIndividualKeySection, "LRO"), "820540800");

  r = dpt({"read", "--lut", "A", "9999", path("u.dpt")});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("The required key S/N has not been found!"));
  rig.model.Parameters().OwnPresent = false;
  EXPECT_EQ(dpt({"read", "--own", path("u.dpt")}).code, 1);
  EXPECT_FALSE(QFile::exists(path("u.dpt")));

  for (const QStringList& bad : {QStringList{"read", path("u.dpt")},
                                 {"read", "--default", "1", path("u.dpt")},
                                 {"read", "--lut", "A", "12x4", path("u.dpt")},
                                 {"write", path("t.dpt"), "--own", "--lut", "--yes"}})
    EXPECT_EQ(dpt(bad).code, 2) << bad.join(' ').toStdString();
}

TEST_F(CliDptTest, WriteNeedsYesTheServiceLevelAndOverwriteForAnExistingEntry) {
  file("in.dpt",
       "[Default Key Parameter Table]\r\nKTYPE=C\r\nTLIM=280\r\n"
       "[Lookup Key Parameter Table]\r\nKTYPE=A\r\nKSN=0002\r\nTANN=77\r\n"
       "[Individual Key Parameter Table]\r\nKTYPE=A\r\nKSN=0042\r\nEVALEN=33\r\nLRO=5\r\n");
  auto r = dpt({"write", path("in.dpt"), "--default"});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.err.contains("give --yes"));
  const QString plain = rig.dir.filePath("plain.INI");
  quelm::IniFile ini(plain);
  ini.WriteString("Serial port settings", "COM1", rig.server.SlavePath());
  ASSERT_TRUE(ini.UpdateFile());
  r = runCli({"dpt", "write", path("in.dpt"), "--default", "--yes", "--port", "COM1"}, plain);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("needs the service level"));
  EXPECT_TRUE(rig.commands().empty());

  ASSERT_EQ(dpt({"write", path("in.dpt"), "--default", "--yes"}).code, 0);
  EXPECT_EQ(int{rig.model.Parameters().DefaultTables['C'].TLIM}, 28);
  ASSERT_EQ(dpt({"write", path("in.dpt"), "--own", "--yes"}).code, 0);
  EXPECT_EQ(int{rig.model.Parameters().OwnTable.EVALEN}, 33);
  EXPECT_EQ(uint32_t{rig.model.Parameters().OwnTable.LRO}, 5u);

  r = dpt({"write", path("in.dpt"), "--lut", "--yes"});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.err.contains("--overwrite")) << r.err.toStdString();
  EXPECT_EQ(int{rig.lookupEntry("A0002")->TANN}, 10);
  ASSERT_EQ(dpt({"write", path("in.dpt"), "--lut", "--yes", "--overwrite"}).code, 0);
  EXPECT_EQ(int{rig.lookupEntry("A0002")->TANN}, 77);

  file("bad.dpt", "[Lookup Key Parameter Table]\r\nKTYPE=A\r\nKSN=0555\r\nEVANORM=-2\r\n");
  rig.model.Requests.clear();
  r = dpt({"write", path("bad.dpt"), "--lut", "--yes"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("EVANORM: -2 is below 0; nothing was sent")) << r.err.toStdString();
  EXPECT_TRUE(rig.commands().empty());

  file("new.dpt", "[Lookup Key Parameter Table]\r\nKTYPE=A\r\nKSN=0555\r\n");
  rig.model.Parameters().LookupCapacity = rig.model.Parameters().LookupTable.size();
  r = dpt({"write", path("new.dpt"), "--lut", "--yes"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("Memory is full!"));
}

}  // namespace
