// quelm-cli reader-params against the simulated reader.
#include <gtest/gtest.h>

#include <QFile>
#include <cstring>

#include "CliDriver.h"
#include "Golden.h"
#include "ParamReaderRig.h"
#include "ReaderParams.h"
#include "TestEnv.h"
#include "base/IniFile.h"

namespace {

using quelm::test::ParamReaderRig;
using quelm::test::runCli;

QString value(const QString& file, const char* key) {
  return quelm::IniFile(file).ReadString(QStringLiteral("Reader Parameter Table"), QLatin1String(key),
                                         QStringLiteral("<none>"));
}

TEST(CliReaderParams, ReadSavesTheReadersTableAsTheWindowWould) {
  ParamReaderRig rig;
  rig.model.Parameters().ReaderTable.HVH = 1200;  // beyond the window's 1150 V
  const QString out = rig.dir.filePath("reader.rpt");
  const auto r = runCli({"reader-params", "read", out, "--port", rig.server.SlavePath()}, rig.configPath);
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(value(out, "DID"), "0017");
  EXPECT_EQ(value(out, "HVH"), "1150");
  EXPECT_EQ(value(out, "DCAL20"), "58272.13671875");
  EXPECT_EQ(value(out, "DCALX0"), "1.26724195480347");
  EXPECT_TRUE(r.err.contains("HVH 1350 is outside the window's limits; saved as 1150"))
      << r.err.toStdString();
}

TEST(CliReaderParams, AFileThatCannotBeWrittenIsSaidOnceWithWhy) {
  ParamReaderRig rig;
  const QString out = rig.dir.filePath("gone/reader.rpt");
  const auto r = runCli({"reader-params", "read", out, "--port", rig.server.SlavePath()}, rig.configPath);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.count("Unable to write to"), 1) << r.err.toStdString();
  EXPECT_TRUE(r.err.endsWith("quelm-cli: Unable to write to " + out + ": No such file or directory\n"))
      << r.err.toStdString();
}

TEST(CliReaderParams, WriteNeedsYesAndTheServiceLevelAndSendsTheFileAsWritten) {
  ParamReaderRig rig(/*serviceLevel=*/true);
  const QString in = rig.dir.filePath("in.rpt");
  ASSERT_EQ(runCli({"reader-params", "read", in, "--port", "COM1"}, rig.configPath).code, 0);
  const QString plain = rig.dir.filePath("plain.INI");
  quelm::IniFile plainIni(plain);
  plainIni.WriteString("Serial port settings", "COM1", rig.server.SlavePath());
  ASSERT_TRUE(plainIni.UpdateFile());
  rig.model.Requests.clear();
  auto r = runCli({"reader-params", "write", in, "--port", "COM1"}, rig.configPath);
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.err.contains("give --yes"));
  r = runCli({"reader-params", "write", in, "--port", "COM1", "--yes"}, plain);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("needs the service level"));
  r = runCli({"reader-params", "write", rig.dir.filePath("missing.rpt"), "--port", "COM1", "--yes"},
             rig.configPath);
  EXPECT_TRUE(r.err.contains("File open error (-107)"));
  EXPECT_TRUE(rig.commands().empty());

  // A single byte per character, as the file has it: Latin-1 \xC4 is Ä.
  QByteArray text = quelm::test::ReadFile(in);
  text.replace("RTYPE=A", "RTYPE=\xC4").replace("POSTH=40", "POSTH=0x1E");
  quelm::test::WriteFile(in, text);
  r = runCli({"reader-params", "write", in, "--port", "COM1", "--yes"}, rig.configPath);
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const DeviceParamRecord& t = rig.model.Parameters().ReaderTable;
  EXPECT_EQ(uint8_t(t.RTYPE), 0xC4);
  EXPECT_EQ(int{t.POSTH}, 30);
  // The file holds no reserved byte: the reader's is read and sent back.
  EXPECT_EQ(rig.letters(), "JI");
  EXPECT_EQ(rig.commands().back().size(), 45u);
  EXPECT_EQ(int{t.Reserved41}, 0x5A);
  // What cannot be read first is not overwritten.
  rig.model.Requests.clear();
  rig.model.Script = {quelm::sim::kFaultRefuse};
  EXPECT_EQ(runCli({"reader-params", "write", in, "--port", "COM1", "--yes"}, rig.configPath).code, 1);
  EXPECT_EQ(rig.letters(), "J");
}

TEST(CliReaderParams, ReadThenWriteLeavesTheReadersTableByteForByte) {
  ParamReaderRig rig(/*serviceLevel=*/true);
  const DeviceParamRecord before = rig.model.Parameters().ReaderTable;
  const QString file = rig.dir.filePath("r.rpt");
  ASSERT_EQ(runCli({"reader-params", "read", file, "--port", "COM1"}, rig.configPath).code, 0);
  const auto r = runCli({"reader-params", "write", file, "--port", "COM1", "--yes"}, rig.configPath);
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(std::memcmp(&rig.model.Parameters().ReaderTable, &before, sizeof before), 0);
}

// Whatever the file does not say as the reader would hold it stops the
// write before anything is converted or sent, naming the key and the value
// as written.
TEST(CliReaderParams, AFileValueTheTableCannotHoldAsWrittenIsRefused) {
  ParamReaderRig rig(/*serviceLevel=*/true);
  const QString good = rig.dir.filePath("good.rpt"), in = rig.dir.filePath("in.rpt");
  ASSERT_EQ(runCli({"reader-params", "read", good, "--port", "COM1"}, rig.configPath).code, 0);
  const QByteArray base = quelm::test::ReadFile(good);
  rig.model.Requests.clear();
  struct Case {
    const char* from;
    const char* to;
    const char* says;
  };
  const Case cases[] = {
      {"MAXT=50", "MAXT=200", "MAXT=200 is outside -127..127"},
      {"MINT=-20", "MINT=-128", "MINT=-128 is outside -127..127"},
      {"U100=124", "U100=380", "U100=380 is outside 0..255"},
      {"HVH=700", "HVH=66236", "HVH=66236 is outside 150..1150"},
      {"HVL=400", "HVL=99999999999999999999", "HVL=99999999999999999999 is outside 150..1150"},
      {"POSTH=40", "POSTH=51", "POSTH=51 is outside 0..50"},  // the configured maximum
      {"CONTR=0", "CONTR=1.5", "CONTR=1.5 is not a whole number"},
      {"HVM=500\r\n", "", "HVM is missing"},
      {"DCALL=1000", "DCALL=abc", "DCALL=abc is not a number"},
      {"DCALL=1000", "DCALL=-5", "DCALL=-5 is below 0"},
      {"DCALH=100000", "DCALH=1e39", "DCALH=1e39 does not fit a 32-bit float"},
      {"DCALX0=", "DCALX0=nan\r\nX=", "DCALX0=nan is not a number"},
      {"DCALX1=", "DCALX1=1e-50\r\nX=", "DCALX1=1e-50 is too small for a 32-bit float"},
      {"RTYPE=A", "RTYPE=AB", "RTYPE=AB is longer than 1 character"},
      {"DID=0017", "DID=00170", "DID=00170 is longer than 4 characters"},
      // Saved by an editor as UTF-8: two bytes, which no single field byte holds.
      {"DID=0017", "DID=\xC3\x84", "DID=\u00C4 is not text of single-byte (Latin-1) characters"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.to);
    QByteArray text = base;
    ASSERT_TRUE(text.contains(c.from));
    quelm::test::WriteFile(in, text.replace(c.from, c.to));
    const auto r = runCli({"reader-params", "write", in, "--port", "COM1", "--yes"}, rig.configPath);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(in + ": " + QString::fromUtf8(c.says) + "; nothing was sent"))
        << r.err.toStdString();
  }
  EXPECT_TRUE(rig.commands().empty());
}

}  // namespace
