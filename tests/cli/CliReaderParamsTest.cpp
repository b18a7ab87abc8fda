// quelm-cli reader-params against the simulated reader.
#include <gtest/gtest.h>

#include <QFile>
#include <cstring>

#include "CliDriver.h"
#include "ParamReaderRig.h"
#include "ReaderParams.h"
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

TEST(CliReaderParams, WriteNeedsYesTheServiceLevelAndValuesWithinTheLimits) {
  ParamReaderRig rig(/*serviceLevel=*/true);
  const QString plain = rig.dir.filePath("plain.INI");
  quelm::IniFile plainIni(plain);
  plainIni.WriteString("Serial port settings", "COM1", rig.server.SlavePath());
  ASSERT_TRUE(plainIni.UpdateFile());
  const QString in = rig.dir.filePath("in.rpt");
  const auto make = [&](const char* hvh) {
    QFile f(in);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("[Reader Parameter Table]\r\nRTYPE=B\r\nDID=0099\r\nHVH=") + hvh + "\r\n");
  };
  struct Case {
    const char* hvh;
    QStringList extra;
    const QString* config;
    int code;
    const char* inErr;
  };
  const Case cases[] = {
      {"800", {}, &rig.configPath, 2, "give --yes"},
      {"800", {"--yes"}, &plain, 1, "needs the service level"},
      {"2000", {"--yes"}, &rig.configPath, 1, "HVH: 2000 is outside 150..1150; nothing was sent"},
      {"100", {"--yes"}, &rig.configPath, 1, "HVH: 100 is outside 150..1150"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hvh);
    make(c.hvh);
    const auto r = runCli(QStringList{"reader-params", "write", in, "--port", "COM1"} + c.extra, *c.config);
    EXPECT_EQ(r.code, c.code);
    EXPECT_TRUE(r.err.contains(c.inErr)) << r.err.toStdString();
  }
  EXPECT_TRUE(rig.commands().empty());
  EXPECT_TRUE(runCli({"reader-params", "write", rig.dir.filePath("missing.rpt"), "--port", "COM1", "--yes"},
                     rig.configPath)
                  .err.contains("File open error (-107)"));

  make("800");
  const auto r = runCli({"reader-params", "write", in, "--port", "COM1", "--yes"}, rig.configPath);
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const DeviceParamRecord& t = rig.model.Parameters().ReaderTable;
  EXPECT_EQ(t.RTYPE, 'B');
  EXPECT_EQ(std::memcmp(t.DID, "0099", 4), 0);
  EXPECT_EQ(int{t.HVH}, 650);
  EXPECT_EQ(int{t.HVM}, 350) << "missing keys take the file defaults";
  ASSERT_EQ(rig.commands().size(), 1u);
  EXPECT_EQ(rig.commands().front().size(), 45u);
}

}  // namespace
