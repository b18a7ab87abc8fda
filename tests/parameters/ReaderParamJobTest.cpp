// The reader parameter table: its .rpt file, the window's collect rules and
// the two reader commands against the simulated reader.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <functional>

#include "Golden.h"
#include "ParamReaderRig.h"
#include "ReaderParams.h"
#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "base/DataFiles.h"
#include "base/ErrorCodes.h"
#include "base/IniFile.h"
#include "base/ServiceLevel.h"
#include "base/UserLocale.h"
#include "link/Frame.h"
#include "parameters/ReaderParamJob.h"

using namespace quelm;
using namespace quelm::test;

using quelm::test::ReadFile;

namespace {

// Parameter files hold one byte per character.
QString fileValue(const QString& path, const char* key) {
  return IniFile(path, IniFile::Encoding::Latin1)
      .ReadString(kReaderParamSection, QLatin1String(key), QStringLiteral("<none>"));
}

class ReaderParamFileTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
};

TEST_F(ReaderParamFileTest, AFileWithoutTheSectionGivesTheDefaults) {
  WriteFile(path("other.rpt"), "[Something Else]\r\nHVH=900\r\n");
  TDeviceParamBlock b;
  EXPECT_EQ(b.ReadFileBlock(path("other.rpt")), 0);
  const DeviceParamRecord& r = b.Record;
  EXPECT_EQ(r.RTYPE, '0');
  EXPECT_EQ(std::memcmp(r.DID, "\0\0\0\0", 4), 0);
  EXPECT_EQ(int{r.HVH}, 550);
  EXPECT_EQ(int{r.HVM}, 350);
  EXPECT_EQ(int{r.HVL}, 250);
  EXPECT_EQ(float{r.DCALH}, 100000.0f);
  EXPECT_EQ(float{r.DCALX0}, 1.267242f);
  EXPECT_EQ(int{r.MINT}, -20);
  EXPECT_EQ(int{r.POSTH}, 40);
  EXPECT_EQ(int{r.Reserved41}, 0);
}

// Files are read as they stand (no range checks) and written back from
// what the record holds.
TEST_F(ReaderParamFileTest, ValuesAreReadWithTheFileRulesAndWrittenBackFromTheRecord) {
  struct Case {
    const char* line;
    const char* key;
    std::function<void(const DeviceParamRecord&)> check;
    const char* writtenBack;
  };
  const Case cases[] = {
      {"HVH=100", "HVH", [](const DeviceParamRecord& r) { EXPECT_EQ(int{r.HVH}, 65486); }, "100"},
      {"MAXT=200", "MAXT", [](const DeviceParamRecord& r) { EXPECT_EQ(int{r.MAXT}, -56); }, "-56"},
      {"DCALL=abc", "DCALL", [](const DeviceParamRecord& r) { EXPECT_EQ(float{r.DCALL}, 1000.0f); }, "1000"},
      {"DCALL=1e39", "DCALL", [](const DeviceParamRecord& r) { EXPECT_EQ(float{r.DCALL}, 1000.0f); }, "1000"},
      {"POSTH=0x1E", "POSTH", [](const DeviceParamRecord& r) { EXPECT_EQ(int{r.POSTH}, 30); }, "30"},
      {"POSTH= \"7\" ", "POSTH", [](const DeviceParamRecord& r) { EXPECT_EQ(int{r.POSTH}, 7); }, "7"},
      {"DID=AB", "DID",
       [](const DeviceParamRecord& r) { EXPECT_EQ(QByteArray(r.DID, 4), QByteArray("AB\0Z", 4)); }, "AB"},
      // One byte per character: Latin-1 Ä is one byte, and bytes that
      // happen to be UTF-8 (Ä, then €) stay bytes.
      {"DID=\xC4"
       "123456",
       "DID",
       [](const DeviceParamRecord& r) {
         EXPECT_EQ(QByteArray(r.DID, 4), QByteArray("\xC4"
                                                    "123",
                                                    4));
       },
       "\xC4"
       "123"},
      {"DID=\xC3\x84"
       "12",
       "DID",
       [](const DeviceParamRecord& r) {
         EXPECT_EQ(QByteArray(r.DID, 4), QByteArray("\xC3\x84"
                                                    "12",
                                                    4));
       },
       "\xC3\x84"
       "12"},
      {"DID=\xE2\x82\xAC", "DID",
       [](const DeviceParamRecord& r) { EXPECT_EQ(QByteArray(r.DID, 4), QByteArray("\xE2\x82\xAC\0", 4)); },
       "\xE2\x82\xAC"},
      {"RTYPE=", "RTYPE", [](const DeviceParamRecord& r) { EXPECT_EQ(int{r.RTYPE}, 0); }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    WriteFile(path("in.rpt"), QByteArray("[Reader Parameter Table]\r\n") + c.line + "\r\n");
    TDeviceParamBlock b;
    std::memcpy(b.Record.DID, "WXYZ", 4);
    b.ReadFileBlock(path("in.rpt"));
    c.check(b.Record);
    ASSERT_EQ(b.WriteFileBlock(path("out.rpt")), 0);
    EXPECT_EQ(fileValue(path("out.rpt"), c.key), QString::fromLatin1(c.writtenBack));
  }
}

TEST_F(ReaderParamFileTest, TheExampleFileIsWrittenByteForByte) {
  TDeviceParamBlock b;
  b.ReadFileBlock(path("missing.rpt"));
  b.Record.RTYPE = 'A';
  std::memcpy(b.Record.DID, "0017", 4);
  ASSERT_EQ(b.WriteFileBlock(path("example.rpt")), 0);
  const QByteArray golden = ReadFile(QStringLiteral(QUELM_TEST_DATA_DIR "/reader-params-example.rpt"));
  ASSERT_FALSE(golden.isEmpty()) << "golden file missing";
  EXPECT_EQ(ReadFile(path("example.rpt")), golden);

  // The user's decimal separator, for writing and reading alike.
  UserLocale comma;
  comma.decimalSeparator = QLatin1Char(',');
  setUserLocale(comma);
  ASSERT_EQ(b.WriteFileBlock(path("comma.rpt")), 0);
  TDeviceParamBlock back;
  back.ReadFileBlock(path("comma.rpt"));
  setUserLocale(UserLocale{});
  EXPECT_EQ(fileValue(path("comma.rpt"), "DCALX1"), "-0,0133619997650385");
  EXPECT_EQ(float{back.Record.DCALX1}, float{b.Record.DCALX1});
}

TEST_F(ReaderParamFileTest, WritingAndReadingBackReproducesEveryFieldButTheReservedByte) {
  TDeviceParamBlock b;
  DeviceParamRecord& r = b.Record;
  r.RTYPE = 'Q';
  std::memcpy(r.DID,
              "9\xE9"
              "8Z",
              4);
  r.HVH = 65535;
  r.HVM = 0;
  r.HVL = 1000;
  const float reals[] = {0.1f, 3.4e38f, 2.5e-5f, -1e-7f, 123456789.0f, 58272.137f, -0.013362f};
  std::memcpy(&r.DCALL, &reals[0], 12);
  std::memcpy(&r.DCAL20, &reals[3], 12);
  r.MAXT = -128;
  r.MINT = 127;
  r.U100 = 255;
  r.U0 = 0;
  r.POSTH = 200;
  r.CONTR = -1;
  r.Reserved41 = 0x77;
  ASSERT_EQ(b.WriteFileBlock(path("all.rpt")), 0);
  TDeviceParamBlock back;
  back.ReadFileBlock(path("all.rpt"));
  EXPECT_EQ(std::memcmp(&back.Record, &r, 41), 0);
  // Plain down to 0.00001, scientific below.
  EXPECT_EQ(fileValue(path("all.rpt"), "DCBGH"), "0.0000249999993684469");
  EXPECT_EQ(fileValue(path("all.rpt"), "DCAL20"), "-1.0000000116861E-7");
}

// The failure is returned with its reason noted; the window's or the command
// line's report of the outcome says it.
TEST_F(ReaderParamFileTest, AFileThatCannotBeWrittenIsReturnedWithWhy) {
  ScriptedPrompter prompter;
  TDeviceParamBlock b;
  EXPECT_EQ(b.WriteFileBlock(path("no/such/dir/x.rpt")), kErrFileWrite);
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
  EXPECT_EQ(takeFileFailure().name, path("no/such/dir/x.rpt"));
}

// --- The window's collect rules --------------------------------------------

class ReaderParamCollectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table.Block.ReadFileBlock(QStringLiteral("/nonexistent.rpt"));
    table.DataRefresh();
  }
  ReaderParamJob table;
};

TEST_F(ReaderParamCollectTest, TypedValuesAreLimitedAsTheWindowLimitsThem) {
  struct Case {
    const char* key;
    const char* typed;
    int32_t maxPostHeating;
    double stored;
    const char* textAfter;  // nullptr: as typed
  };
  const Case cases[] = {
      {"HVH", "2000", 50, 1000, nullptr},  {"HVL", "100", 50, 0, nullptr},
      {"HVM", "-1", 50, 0, nullptr},       {"HVH", "-1", 50, 0, nullptr},
      {"HVH", "65636", 50, 1000, nullptr}, {"POSTH", "90", 50, 50, nullptr},
      {"POSTH", "300", 400, 255, nullptr}, {"POSTH", "-3", 50, 0, nullptr},
      {"POSTH", "9", -5, 0, nullptr},      {"CONTR", "-200", 50, -127, "-127"},
      {"U0", "300", 50, 255, nullptr},     {"MAXT", "-128", 50, -127, nullptr},
      {"DCALL", "-5", 50, 0, nullptr},     {"DCALX1", "-5", 50, -5, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.typed);
    table.maxPostHeating = [&c] { return c.maxPostHeating; };
    table.Edits.setText(c.key, QString::fromLatin1(c.typed));
    ASSERT_FALSE(table.DataCollect());
    const int i = table.Edits.indexOf(c.key);
    const ParamField& f = table.Edits.field(i);
    double stored = 0;
    if (f.type == ParamType::Single) {
      float v;
      std::memcpy(&v, table.Block.bytes().data() + f.offset, 4);
      stored = v;
    } else {
      stored = QString(paramEditText(f, table.Block.bytes())).toDouble() - f.bias;
    }
    EXPECT_EQ(stored, c.stored);
    EXPECT_EQ(table.Edits.text(c.key), QString::fromLatin1(c.textAfter ? c.textAfter : c.typed));
    table.DataRefresh();
  }
}

TEST_F(ReaderParamCollectTest, AnEditThatDoesNotConvertStopsWithTheFieldsBeforeItTaken) {
  for (const auto& [key, text] : {std::pair{"RTYPE", "B"},
                                  {"HVL", "160"},
                                  {"HVM", "170"},
                                  {"HVH", "180"},
                                  {"DID", "12"},
                                  {"DCALL", "1"},
                                  {"DCALH", "2"},
                                  {"DCBGH", "3"},
                                  {"MAXT", "5x"},
                                  {"MINT", "-5"}})
    table.Edits.setText(key, QLatin1String(text));
  const CollectFailure failure = table.DataCollect();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure.index, table.Edits.indexOf("MAXT"));
  EXPECT_EQ(failure.message, "'5x' is not a valid integer value");
  const DeviceParamRecord& r = table.Block.Record;
  EXPECT_EQ(r.RTYPE, 'B');
  EXPECT_EQ(int{r.HVL} + int{r.HVM} + int{r.HVH}, 10 + 20 + 30);
  EXPECT_EQ(QByteArray(r.DID, 4), QByteArray("12\0\0", 4));
  EXPECT_EQ(float{r.DCALL} + float{r.DCALH} + float{r.DCBGH}, 6.0f);
  EXPECT_EQ(int{r.MINT}, -20) << "after the failing edit nothing is taken";

  struct Case {
    const char* key;
    const char* typed;
    const char* message;
  };
  const Case refused[] = {
      {"DCALL", "nan", "'nan' is not a valid floating point value"},
      {"DCALL", "inf", "'inf' is not a valid floating point value"},
      {"DCALL", "1e39", "'1e39' is not a valid floating point value"},
      {"DCALL", "1e-50", "'1e-50' is not a valid floating point value"},
      {"DCAL20", "1.5.2", "'1.5.2' is not a valid floating point value"},
      {"HVH", "99999999999", "'99999999999' is not a valid integer value"},
      {"HVH", "", "'' is not a valid integer value"},
      {"U100", "0x10", "'0x10' is not a valid integer value"},
      {"RTYPE", "\xE2\x82\xAC", "'\xE2\x82\xAC' holds a character that does not fit in one byte"},
      {"DID", "1\xE2\x82\xAC", "'1\xE2\x82\xAC' holds a character that does not fit in one byte"},
  };
  for (const Case& c : refused) {
    table.DataRefresh();
    table.Edits.setText(c.key, QString::fromUtf8(c.typed));
    EXPECT_EQ(table.DataCollect().message, QString::fromUtf8(c.message));
  }
}

// DCALX0 has no edit, and a real shown with seven digits must not lose
// the digits the screen does not show: a Read followed by a Write leaves
// what nobody edited exactly as the reader held it.
TEST_F(ReaderParamCollectTest, WhatNobodyEditedIsKeptExactly) {
  table.Block.Record.DCALX0 = 2.5f;
  table.Block.Record.DCAL20 = 58272.137f;
  table.Block.Record.Reserved41 = 0x5A;
  table.DataRefresh();
  EXPECT_EQ(table.Edits.text("DCAL20"), "58272.14");
  ASSERT_FALSE(table.DataCollect());
  EXPECT_EQ(float{table.Block.Record.DCALX0}, 2.5f);
  EXPECT_EQ(float{table.Block.Record.DCAL20}, 58272.137f);
  EXPECT_EQ(int{table.Block.Record.Reserved41}, 0x5A);

  table.Edits.setText("DCAL20", QStringLiteral("58272.5"));
  ASSERT_FALSE(table.DataCollect());
  EXPECT_EQ(float{table.Block.Record.DCAL20}, 58272.5f);
  table.Edits.setText("DCAL20", QStringLiteral("58272.14"));  // typed back: the value shown
  ASSERT_FALSE(table.DataCollect());
  EXPECT_EQ(float{table.Block.Record.DCAL20}, 58272.137f);
}

TEST_F(ReaderParamCollectTest, RealsShowSevenDigitsWithThreeExponentDigits) {
  const std::pair<float, const char*> cases[] = {
      {100000.0f, "100000"}, {1.5e9f, "1.5E009"}, {2.5e-6f, "2.5E-006"}, {-0.013362f, "-0.013362"}};
  for (const auto& [value, text] : cases) {
    table.Block.Record.DCALH = value;
    table.DataRefresh();
    EXPECT_EQ(table.Edits.text("DCALH"), text);
  }
}

TEST_F(ReaderParamCollectTest, RefusingInsteadOfLimitingNamesTheFieldAndItsLimits) {
  table.Policy = LimitPolicy::Refuse;
  const std::pair<const char*, const char*> cases[] = {{"HVH", "HVH: 65636 is outside 150..1150"},
                                                       {"POSTH", "POSTH: 90 is outside 0..50"},
                                                       {"DCALL", "DCALL: -5 is below 0"}};
  // Stored 65486, as a file with HVH=100 gives: named as the edit shows it.
  table.Edits.setText("HVH", QStringLiteral("65636"));
  EXPECT_EQ(table.DataCollect().message, cases[0].second);
  table.DataRefresh();
  table.Edits.setText("POSTH", QStringLiteral("90"));
  EXPECT_EQ(table.DataCollect().message, cases[1].second);
  table.DataRefresh();
  table.Edits.setText("DCALL", QStringLiteral("-5"));
  EXPECT_EQ(table.DataCollect().message, cases[2].second);
}

TEST(ReaderParamNames, RptIsAppendedUnlessTheNameEndsWithItInAnyCase) {
  EXPECT_EQ(withExtension("table", ".rpt"), "table.rpt");
  EXPECT_EQ(withExtension("TABLE.RPT", ".rpt"), "TABLE.RPT");
  EXPECT_EQ(withExtension("a.Rpt", ".rpt"), "a.Rpt");
  EXPECT_EQ(withExtension("a.rpt.bak", ".rpt"), "a.rpt.bak.rpt");
}

// --- The reader commands -----------------------------------------------------

TEST(ReaderParamCommands, ReadTakesTheReadersTableAndWriteSendsItBackWhole) {
  ScriptedPrompter prompter;
  ParamReaderRig rig;
  rig.link.LoaderMode = 1;  // as a software download may leave it
  TDeviceParamBlock b;
  ASSERT_EQ(b.ReadCOMBlock(), 0);
  EXPECT_EQ(rig.link.LoaderMode, 0u);
  EXPECT_EQ(std::memcmp(&b.Record, &rig.model.Parameters().ReaderTable, 42), 0);
  EXPECT_EQ(rig.commands().back(), Bytes({'.', 'J', '#'}));

  b.Record.HVH = 800 - 150;
  ASSERT_EQ(b.WriteCOMBlock(), 0);
  const Bytes sent = rig.commands().back();
  ASSERT_EQ(sent.size(), 45u);
  EXPECT_EQ(sent.front(), '.');
  EXPECT_EQ(sent[1], 'I');
  EXPECT_EQ(sent.back(), '#');
  EXPECT_EQ(std::memcmp(sent.data() + 2, &b.Record, 42), 0);
  EXPECT_EQ(int{rig.model.Parameters().ReaderTable.HVH}, 650);
  EXPECT_EQ(int{rig.model.Parameters().ReaderTable.Reserved41}, 0x5A);
  EXPECT_TRUE(prompter.messages.empty());
}

TEST(ReaderParamCommands, ARefusedShortOrLongReplyLeavesTheRecordAlone) {
  ScriptedPrompter prompter;
  ParamReaderRig rig;
  const auto reply = [](int dataBytes) {
    Bytes payload(static_cast<size_t>(dataBytes) + 1, 0x11);
    payload[0] = 'J';
    Bytes f(payload.size() + kFrameOverhead);
    BuildFrame(f.data(), 0x80, payload.data(), static_cast<int>(payload.size()));
    return f;
  };
  struct Case {
    const char* what;
    std::function<void()> arrange;
    int code;
  };
  const Case cases[] = {
      {"refused", [&] { rig.model.Script.push_back(sim::kFaultRefuse); }, kErrReaderRefused},
      // A reply that does not fit fails the attempt; the retry gets it again.
      {"41 bytes",
       [&] {
         rig.model.RawReplies.insert(rig.model.RawReplies.end(), {reply(41), reply(41)});
       },
       kErrReceiveTimeout},
      {"43 bytes",
       [&] {
         rig.model.RawReplies.insert(rig.model.RawReplies.end(), {reply(43), reply(43)});
       },
       kErrReceiveTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TDeviceParamBlock b;
    std::memset(&b.Record, 0x33, sizeof b.Record);
    c.arrange();
    EXPECT_EQ(b.ReadCOMBlock(), c.code);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(&b.Record), 42), QByteArray(42, 0x33));
  }
  rig.model.Script.push_back(sim::kFaultRefuse);
  TDeviceParamBlock b;
  EXPECT_EQ(b.WriteCOMBlock(), kErrReaderRefused) << "a refused write is no success";
}

// --- The window's workflow, without the window -------------------------------

// Each operation ends as its decisions and the reader say, and tells it in
// its outcome; nothing reaches a box from the job.
TEST(ReaderParamJobFlow, OperationsEndAsTheirDecisionsAndTheReaderSay) {
  ScriptedPrompter prompter;
  DiagScope diag;
  ParamReaderRig rig;
  QTemporaryDir dir;
  const QString fifo = dir.filePath(QStringLiteral("fifo.rpt"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  ReaderParamJob job;
  std::optional<QString> file;
  bool confirmed = false;
  int asked = 0, busy = 0;
  job.confirmWrite = [&] { return ++asked, confirmed; };
  job.chooseFile = [&](FileMode) { return file; };
  job.onBusy = [&](bool on) { busy += on ? 1 : -1; };
  const auto step = [&](ParamOutcome o) {
    EXPECT_EQ(busy, 0) << "the busy pointer is put back";
    std::vector<int> codes;
    for (const ParamReport& r : o.reports) codes.push_back(r.code);
    return std::pair{o.kind, codes};
  };
  using P = std::pair<ParamOutcome::Kind, std::vector<int>>;

  EXPECT_EQ(step(job.ReadCOMData()), P(ParamOutcome::kDone, {}));
  EXPECT_EQ(job.Edits.text("DID"), "0017");
  setServiceLevel(false);
  EXPECT_EQ(step(job.WriteCOMData()), P(ParamOutcome::kNothing, {}));
  EXPECT_EQ(asked, 0) << "below the service level nothing is even asked";
  setServiceLevel(true);
  EXPECT_EQ(step(job.WriteCOMData()), P(ParamOutcome::kNothing, {}));
  confirmed = true;
  job.Edits.setText("HVH", QStringLiteral("x"));
  EXPECT_EQ(step(job.WriteCOMData()).first, ParamOutcome::kNotConverted);
  EXPECT_EQ(rig.letters(), "J") << "nothing is sent";
  job.Edits.setText("HVH", QStringLiteral("800"));
  EXPECT_EQ(step(job.WriteCOMData()), P(ParamOutcome::kDone, {}));
  EXPECT_EQ(int{rig.model.Parameters().ReaderTable.HVH}, 650);
  rig.model.Script.push_back(sim::kFaultRefuse);
  EXPECT_EQ(step(job.WriteCOMData()), P(ParamOutcome::kFailed, {kErrReaderRefused}));

  // Save takes the edits before it asks for a file; the name is used as given.
  job.Edits.setText("MAXT", QStringLiteral("5x"));
  file = dir.filePath(QStringLiteral("t"));
  EXPECT_EQ(step(job.Save()).first, ParamOutcome::kNotConverted);
  job.Edits.setText("MAXT", QStringLiteral("5"));
  EXPECT_FALSE(QFile::exists(*file));
  EXPECT_EQ(step(job.Save()), P(ParamOutcome::kDone, {}));
  EXPECT_EQ(fileValue(*file, "MAXT"), "5");
  file.reset();
  EXPECT_EQ(step(job.Save()), P(ParamOutcome::kNothing, {}));
  // A name that is no plain file is told as a failure, not passed over.
  file = fifo;
  EXPECT_EQ(step(job.Save()), P(ParamOutcome::kFailed, {kErrFileOpen}));
  // Nor is a file that cannot be read loaded as one of defaults: the edits
  // keep what they showed.
  const QString big = dir.filePath(QStringLiteral("big.rpt"));
  WriteFile(big, "[Reader Parameter Table]\r\n" + QByteArray(IniFile::kMaxFileSize, ';'));
  for (const QString& unreadable : {fifo, big}) {
    file = unreadable;
    EXPECT_EQ(step(job.Load()), P(ParamOutcome::kFailed, {kErrFileOpen}));
    EXPECT_EQ(job.Edits.text("MAXT"), "5");
  }
  // A file that cannot be written is in the outcome with its name.
  file = dir.filePath(QStringLiteral("gone/t.rpt"));
  const ParamOutcome unwritten = job.Save();
  EXPECT_EQ(step(unwritten), P(ParamOutcome::kFailed, {kErrFileWrite}));
  EXPECT_EQ(unwritten.reports.at(0).arg, *file);
  file = dir.filePath(QStringLiteral("t"));
  EXPECT_EQ(step(job.Load()), P(ParamOutcome::kDone, {}));
  EXPECT_TRUE(prompter.messages.empty());
}

}  // namespace
