#include <gtest/gtest.h>

#include <cerrno>
#include <set>

#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "base/Diag.h"
#include "base/ErrorCodes.h"

using namespace quelm;
using quelm::test::ScriptedPrompter;

namespace {

struct Expected {
  int code;
  const char* text;
  MessageKind kind;
};

TEST(ReportError, ShowsTheTableMessageWithItsKindAndReturnsTheCode) {
  const Expected table[] = {
      {0, "No Error", MessageKind::Error},
      {EBADF, "File seek error: Bad file pointer", MessageKind::Error},
      {EINVAL, "File seek error: Invalid argument", MessageKind::Error},
      {ESPIPE, "File seek error: Illegal seek on device", MessageKind::Error},
      {-7, "Timer killing error (COMPort::Disconnect()?", MessageKind::Error},
      {-8, "Handler closing error (COMPort::Disconnect()?", MessageKind::Error},
      {-100, "User cancelled", MessageKind::Error},
      {-101, "Memory allocation error (function new)", MessageKind::Error},
      {-102, "Nullptr error (no memalloc. for variable?)", MessageKind::Error},
      {-103, "INI/CFG file access error", MessageKind::Error},
      {-104, "No version info compiled in exe", MessageKind::Error},
      {-105, "Memory allocation error", MessageKind::Error},
      {-106, "GetFileVersionInfo() error", MessageKind::Error},
      {-107, "File open error", MessageKind::Error},
      {-109, "File read error", MessageKind::Error},
      {-150, "Data error: Invalid data", MessageKind::Error},
      {-151, "Data error: Invalid channel content, bad range", MessageKind::Error},
      {-201, "COM connect. error (not avail./already/can't connect)", MessageKind::Error},
      {-202, "COM port disconnection error", MessageKind::Error},
      {-203, "Reader not avaible (not connected?)", MessageKind::Warning},
      {-204, "Reader not avaible (not connected?)", MessageKind::Warning},
      {-205, "Reader not avaible (not connected?)", MessageKind::Warning},
      {-206, "Reader not avaible (not connected?)", MessageKind::Warning},
      {-207, "Reader Busy: Go to Ready menu!", MessageKind::Warning},
      {-208, "Reader not avaible (not connected?)", MessageKind::Warning},
      {-209, "Reader not avaible (not connected?)", MessageKind::Warning},
      {-211, "Communication error", MessageKind::Error},
      {-212, "Communication interrupted", MessageKind::Error},
      {-213, "User abort", MessageKind::Error},
      {-214, "Source file error", MessageKind::Error},
      {-215, "The line to the reader is in use (download or software update running?)", MessageKind::Warning},
      // Codes without an entry.
      {-1, "Undefined Error", MessageKind::Error},
      {-110, "Undefined Error", MessageKind::Error},
      {-111, "Undefined Error", MessageKind::Error},
      {-210, "Undefined Error", MessageKind::Error},
      {-2, "Undefined Error", MessageKind::Error},
      {-15, "Undefined Error", MessageKind::Error},
      {1, "Undefined Error", MessageKind::Error},
  };
  for (const Expected& e : table) {
    ScriptedPrompter p;
    EXPECT_EQ(ReportError(e.code, QStringLiteral("TSomething::Op(): ERR_X")), e.code);
    ASSERT_EQ(p.messages.size(), 1u) << e.code;
    EXPECT_EQ(p.messages[0].text, QString::fromLatin1(e.text)) << e.code;
    EXPECT_EQ(p.messages[0].kind, e.kind) << e.code;
    EXPECT_EQ(p.messages[0].buttons, unsigned(Ok)) << e.code;
  }
}

TEST(ResultCodes, EachCodeHasOneRowAndTheNamesAreTheTablesCodes) {
  std::set<int> seen;
  for (int i = 0; i < kResultCodeCount; ++i)
    EXPECT_TRUE(seen.insert(kResultCodes[i].code).second) << kResultCodes[i].code;
  const std::pair<int, int> names[] = {{kErrBlockNotFound, -1},     {kErrFileOpen, -107},
                                       {kErrSourceFile, -214},      {kErrReaderRefused, -210},
                                       {kErrExchangeRunning, -215}, {kErrUserCancelled, -100},
                                       {kErrArchiveOpen, -300},     {kErrArchiveFaults, -311},
                                       {kErrArchiveNoPerson, -312}, {kErrArchiveImportRunning, -313}};
  for (const auto& [name, code] : names) {
    EXPECT_EQ(name, code);
    EXPECT_TRUE(seen.count(code)) << code;
  }
}

TEST(ReportError, NeverShowsTheContext) {
  ScriptedPrompter p;
  ReportError(-107, QStringLiteral("TNurvoDataBlock::SkimFile(): filename=secret.dat: ERR_FOPEN"));
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_FALSE(p.messages[0].text.contains(QStringLiteral("secret")));
  EXPECT_FALSE(p.messages[0].title.contains(QStringLiteral("secret")));
}

// A window's report of a returned failure: the operator's own cancel and
// success show nothing; a note left for the code goes with its one report.
TEST(ReportFailure, ShowsWhatFailedOnceWithItsNoteAndNeverACancel) {
  const struct {
    int code;
    int noteFor;  // explainNextReport before the report, for this code (0: none)
    QStringList texts;
    QString note;
  } cases[] = {
      {0, 0, {}, {}},
      {kErrUserCancelled, 0, {}, {}},
      {kErrFileOpen, 0, {"File open error"}, {}},
      {kErrComConnect, kErrComConnect, {"COM connect. error (not avail./already/can't connect)"}, "why"},
      {kErrComConnect, kErrNothingReceived, {"COM connect. error (not avail./already/can't connect)"}, {}},
  };
  for (const auto& c : cases) {
    ScriptedPrompter p;
    if (c.noteFor != 0) explainNextReport(c.noteFor, QStringLiteral("why"));
    EXPECT_EQ(ReportFailure(c.code), c.code);
    EXPECT_EQ(p.texts(), c.texts) << c.code;
    if (!c.texts.isEmpty()) {
      EXPECT_EQ(p.messages[0].note, c.note) << c.code;
    }
  }
  // A note is taken once, and only by its own code (the command line's way).
  explainNextReport(kErrComConnect, QStringLiteral("why"));
  EXPECT_EQ(takeReportNote(kErrNothingReceived), QString());
  EXPECT_EQ(takeReportNote(kErrComConnect), QStringLiteral("why"));
  EXPECT_EQ(takeReportNote(kErrComConnect), QString());
  explainNextReport(0, QString());
}

TEST(SysErrorBox, ShowsTheSystemTextTitledGetLastErrorAndReturnsTheNumber) {
  ScriptedPrompter p;
  EXPECT_EQ(SysErrorBox(ENOENT), ENOENT);
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_EQ(p.messages[0].title, QStringLiteral("GetLastError()"));
  EXPECT_EQ(p.messages[0].kind, MessageKind::Information);
  EXPECT_FALSE(p.messages[0].text.isEmpty());
}

class TraceRouting : public ::testing::Test {
 protected:
  quelm::test::DiagScope keepFlags_{DiagFlags};
  quelm::test::LogCapture capture_;
  QStringList& log_ = capture_.lines;
};

TEST_F(TraceRouting, DiagnosticBitsClearProduceNoOutputAtAll) {
  ScriptedPrompter p;
  DiagFlags = 0;
  TraceLine t(QStringLiteral("TNurvoDataBlock::SkimFile(): filename=x: "));
  t.fail(QStringLiteral("ERR_FOPEN"));
  TraceLine u(QStringLiteral("TIoForm::ClearButtonClick(): "));
  u.ok();
  LogTrace(QStringLiteral("direct"));
  EXPECT_TRUE(log_.isEmpty());
  EXPECT_TRUE(p.messages.empty());
}

TEST_F(TraceRouting, LogBitRecordsEntryFailureAndSuccessLines) {
  ScriptedPrompter p;
  DiagFlags = kDiagLog;
  TraceLine t(QStringLiteral("TNurvoDataBlock::SkimFile(): filename=x: "));
  t.fail(QStringLiteral("ERR_FOPEN"));
  TraceLine u(QStringLiteral("TIoForm::ClearButtonClick(): "));
  u.ok();
  TraceLine v(QStringLiteral("TNurvoDataBlock::ReadFileBlock(): FileName=a.dat: "));
  v.ok(QStringLiteral("BlockIndex=7: "));
  EXPECT_EQ(log_, (QStringList{
                      "TNurvoDataBlock::SkimFile(): filename=x: ",
                      "TNurvoDataBlock::SkimFile(): filename=x: ERR_FOPEN",
                      "TIoForm::ClearButtonClick(): ",
                      "TIoForm::ClearButtonClick(): ok",
                      "TNurvoDataBlock::ReadFileBlock(): FileName=a.dat: ",
                      "TNurvoDataBlock::ReadFileBlock(): FileName=a.dat: BlockIndex=7: ok",
                  }));
  EXPECT_TRUE(p.messages.empty());
}

TEST_F(TraceRouting, BoxBitShowsOnlyFailuresInAPlainBox) {
  ScriptedPrompter p;
  DiagFlags = kDiagBox;
  TraceLine t(QStringLiteral("TX::Op(): "));
  t.ok();
  EXPECT_TRUE(p.messages.empty());
  t.fail(QStringLiteral("ERR_NEW"));
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_EQ(p.messages[0].text, QStringLiteral("TX::Op(): ERR_NEW"));
  EXPECT_EQ(p.messages[0].kind, MessageKind::Plain);
  EXPECT_TRUE(log_.isEmpty());
}

TEST_F(TraceRouting, LinkFailuresUseTheirOwnBoxMask) {
  ScriptedPrompter p;
  DiagFlags = kDiagMonitor;
  TraceLine t(QStringLiteral("TIoForm::SendFrameCOMCmd(): "));
  t.fail(QStringLiteral("ERR_CRC"), kDiagMonitor | kDiagBox);
  EXPECT_EQ(p.texts(), QStringList{"TIoForm::SendFrameCOMCmd(): ERR_CRC"});
}

TEST_F(TraceRouting, AfterTheSinkIsRemovedLinesGoNowhere) {
  DiagFlags = kDiagLog;
  LogTrace(QStringLiteral("before"));
  setLogSink(nullptr);  // the log window is gone
  LogTrace(QStringLiteral("after"));
  TraceLine t(QStringLiteral("TX::Op(): "));
  t.fail(QStringLiteral("ERR_NEW"));
  EXPECT_EQ(log_, QStringList{"before"});
}

}  // namespace
