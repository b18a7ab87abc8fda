// quelm-cli lut and dpt against the simulated reader.
#include <gtest/gtest.h>

#include <QFile>
#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>

#include "CliDriver.h"
#include "Golden.h"
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

  // The type and serial are taken as typed, never cut to fit.
  rig.model.Requests.clear();
  for (const QStringList& bad : {QStringList{"read", path("u.dpt")},
                                 {"read", "--default", "1", path("u.dpt")},
                                 {"read", "--default", "bz", path("u.dpt")},
                                 {"read", "--lut", "A", "12x4", path("u.dpt")},
                                 {"read", "--lut", "Ax", "0417", path("u.dpt")},
                                 {"read", "--lut", "A", "04170", path("u.dpt")},
                                 {"write", path("t.dpt"), "--own", "--lut", "--yes"}})
    EXPECT_EQ(dpt(bad).code, 2) << bad.join(' ').toStdString();
  EXPECT_TRUE(rig.commands().empty());
  EXPECT_FALSE(QFile::exists(path("u.dpt")));
}

TEST_F(CliDptTest, WriteNeedsYesTheServiceLevelAndOverwriteForAnExistingEntry) {
  // Each kind as the reader holds it, then changed as an operator would.
  ASSERT_EQ(dpt({"read", "--default", "C", path("in.dpt")}).code, 0);
  ASSERT_EQ(dpt({"read", "--lut", "A", "0002", path("in.dpt")}).code, 0);
  ASSERT_EQ(dpt({"read", "--own", path("in.dpt")}).code, 0);
  quelm::IniFile in(path("in.dpt"), quelm::IniFile::Encoding::Latin1);
  in.WriteString(quelm::kDefaultKeySection, "TLIM", "280");
  in.WriteString(quelm::kLookupKeySection, "TANN", "77");
  in.WriteString(quelm::kIndividualKeySection, "EVALEN", "33");
  in.WriteString(quelm::kIndividualKeySection, "LRO", "4294967295");
  ASSERT_TRUE(in.UpdateFile());
  rig.model.Requests.clear();

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
  EXPECT_EQ(uint32_t{rig.model.Parameters().OwnTable.LRO}, 4294967295u);

  r = dpt({"write", path("in.dpt"), "--lut", "--yes"});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.err.contains("--overwrite")) << r.err.toStdString();
  EXPECT_EQ(int{rig.lookupEntry("A0002")->TANN}, 10);
  ASSERT_EQ(dpt({"write", path("in.dpt"), "--lut", "--yes", "--overwrite"}).code, 0);
  EXPECT_EQ(int{rig.lookupEntry("A0002")->TANN}, 77);

  in.WriteString(quelm::kLookupKeySection, "KSN", "0555");
  ASSERT_TRUE(in.UpdateFile());
  rig.model.Parameters().LookupCapacity = rig.model.Parameters().LookupTable.size();
  r = dpt({"write", path("in.dpt"), "--lut", "--yes"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("Memory is full!"));
}

// SIGTERM (or Ctrl+C) as the reader takes a request of an entry's
// replacement: before the delete the write stops with nothing changed; once
// the old entry is gone the new one goes in first. The command is never
// killed in between.
TEST_F(CliDptTest, ASignalNeverLeavesTheReaderWithoutTheEntryBeingReplaced) {
  ASSERT_EQ(dpt({"read", "--lut", "A", "0002", path("in.dpt")}).code, 0);
  quelm::IniFile in(path("in.dpt"), quelm::IniFile::Encoding::Latin1);
  in.WriteString(quelm::kLookupKeySection, "TANN", "77");
  ASSERT_TRUE(in.UpdateFile());
  const struct {
    char at;  // the command letter of the request the signal comes with
    int code;
    const char* inErr;
    int tann;
    const char* letters;
  } cases[] = {
      {'X', 1, "stopped before anything was written: the reader holds what it held", 10, "X"},
      {'E', 0, "note: the stop came too late to be taken: A0002 was written whole", 77, "XEZX"},
  };
  for (const auto& c : cases) {
    rig.model.Requests.clear();
    bool sent = false;
    rig.model.OnRequest = [&](const std::vector<uint8_t>& f) {
      if (sent || f.size() <= 8 || !(f[5] & 0x80) || f[7] != c.at) return;
      sent = true;
      std::raise(SIGTERM);
    };
    const auto r = dpt({"write", path("in.dpt"), "--lut", "--yes", "--overwrite"});
    rig.model.OnRequest = nullptr;
    EXPECT_TRUE(sent);
    EXPECT_EQ(r.code, c.code) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(c.inErr)) << r.err.toStdString();
    ASSERT_NE(rig.lookupEntry("A0002"), nullptr) << c.at;
    EXPECT_EQ(int{rig.lookupEntry("A0002")->TANN}, c.tann);
    EXPECT_EQ(rig.letters(), c.letters);
  }
}

// A file holds no reserved bytes: a write keeps those of the record it
// replaces (none for a new entry), so that a read and a write back leave the
// reader as it was; a record that cannot be read first is not replaced.
TEST_F(CliDptTest, ReadThenWriteLeavesTheReadersTableByteForByte) {
  quelm::sim::ParameterState& reader = rig.model.Parameters();
  const auto bytes = [](const auto* r) {
    return r ? QByteArray(reinterpret_cast<const char*>(r), sizeof *r).toHex().toStdString() : "none";
  };
  struct Case {
    QStringList read;  // then the kind written back
    std::function<std::string()> record;
  };
  const Case cases[] = {
      {{"--default", "C"}, [&] { return bytes(&reader.DefaultTables['C']); }},
      {{"--lut", "A", "0417"}, [&] { return bytes(rig.lookupEntry("A0417")); }},
      {{"--own"}, [&] { return bytes(&reader.OwnTable); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.read.front().toStdString());
    const std::string before = c.record();
    ASSERT_EQ(dpt(QStringList{"read"} + c.read + QStringList{path("t.dpt")}).code, 0);
    const auto r = dpt({"write", path("t.dpt"), c.read.front(), "--yes", "--overwrite"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(c.record(), before);
  }
  quelm::IniFile in(path("t.dpt"), quelm::IniFile::Encoding::Latin1);
  in.WriteString(quelm::kLookupKeySection, "KSN", "0555");
  ASSERT_TRUE(in.UpdateFile());
  ASSERT_EQ(dpt({"write", path("t.dpt"), "--lut", "--yes"}).code, 0);
  const BulbParamRecord* added = rig.lookupEntry("A0555");
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(bytes(&added->Reserved9) + bytes(&added->Reserved58), std::string(14, '0'));

  const std::tuple<const char*, std::function<void()>, const char*> unread[] = {
      {"--default", [&] { rig.model.Script = {quelm::sim::kFaultRefuse}; }, "M"},
      {"--own", [&] { reader.OwnPresent = false; }, "Q"}};
  for (const auto& [kind, arrange, sent] : unread) {
    rig.model.Requests.clear();
    arrange();
    EXPECT_EQ(dpt({"write", path("t.dpt"), kind, "--yes"}).code, 1) << kind;
    EXPECT_EQ(rig.letters(), sent) << "read, not written";
  }
}

// Each kind sends only what its section says as the reader would hold it.
TEST_F(CliDptTest, AFileValueTheTableCannotHoldAsWrittenIsRefused) {
  ASSERT_EQ(dpt({"read", "--default", "C", path("good.dpt")}).code, 0);
  ASSERT_EQ(dpt({"read", "--lut", "A", "0002", path("good.dpt")}).code, 0);
  ASSERT_EQ(dpt({"read", "--own", path("good.dpt")}).code, 0);
  rig.model.Requests.clear();
  struct Case {
    const char* kind;
    const QString& section;
    const char* key;
    const char* value;  // nullptr: the key is left out
    const char* says;
  };
  const Case cases[] = {
      {"--default", quelm::kDefaultKeySection, "HEATC", "9000", "HEATC=9000 is outside 0..4000"},
      {"--default", quelm::kDefaultKeySection, "HEATC", "1002", "HEATC=1002 is not a multiple of 4"},
      {"--default", quelm::kDefaultKeySection, "TANN", "266", "TANN=266 is outside 0..255"},
      {"--default", quelm::kDefaultKeySection, "TLIM", "305", "TLIM=305 is not a multiple of 10"},
      {"--default", quelm::kDefaultKeySection, "EVANORM", nullptr, "EVANORM is missing"},
      {"--default", quelm::kDefaultKeySection, "ERRMASK", nullptr, "ERRMASK is missing"},
      {"--lut", quelm::kLookupKeySection, "EVANORM", "-2", "EVANORM=-2 is below 0"},
      {"--lut", quelm::kLookupKeySection, "KSN", "12345", "KSN=12345 is longer than 4 characters"},
      {"--lut", quelm::kLookupKeySection, "DLFA", "1e40", "DLFA=1e40 does not fit a 32-bit float"},
      {"--own", quelm::kIndividualKeySection, "LRO", "4294967296", "LRO=4294967296 is outside 0..4294967295"},
      {"--own", quelm::kIndividualKeySection, "EVASTART", "-1", "EVASTART=-1 is outside 0..255"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    QFile::remove(path("in.dpt"));
    ASSERT_TRUE(QFile::copy(path("good.dpt"), path("in.dpt")));
    quelm::IniFile in(path("in.dpt"), quelm::IniFile::Encoding::Latin1);
    in.WriteString(c.section, c.key, c.value ? QString::fromLatin1(c.value) : QString());
    ASSERT_TRUE(in.UpdateFile());
    if (!c.value) {  // the profile files know no removal: leave the key out by hand
      QByteArray text = quelm::test::ReadFile(path("in.dpt"));
      text.replace(QByteArray(c.key) + "=\r\n", "");
      quelm::test::WriteFile(path("in.dpt"), text);
    }
    const auto r = dpt({"write", path("in.dpt"), c.kind, "--yes", "--overwrite"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(path("in.dpt") + ": " + c.says + "; nothing was sent")) << r.err.toStdString();
  }
  EXPECT_TRUE(rig.commands().empty());
}

}  // namespace
