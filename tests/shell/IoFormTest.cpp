#include <gtest/gtest.h>

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "WriteLimit.h"
#include "base/Diag.h"
#include "base/SharedFileDialogs.h"
#include "shell/IoForm.h"

using quelm::test::ScriptedPrompter;

namespace {

class IoFormTest : public ::testing::Test {
 protected:
  void SetUp() override { savedFilter_ = quelm::sharedSaveDialog().Filter; }
  void TearDown() override { quelm::sharedSaveDialog().Filter = savedFilter_; }
  static QStringList lines(const TIoForm& f) {
    const QString t = f.LogRichEdit->toPlainText();
    return t.isEmpty() ? QStringList() : t.split(QLatin1Char('\n'));
  }
  QByteArray read(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << qPrintable(path);
    return f.readAll();
  }

  quelm::test::DiagScope quiet_;
  ScriptedPrompter prompter_;
  QTemporaryDir dir_;
  QString savedFilter_;
};

TEST_F(IoFormTest, ControlsCaptionsAndPlace) {
  TIoForm f;
  EXPECT_EQ(f.windowTitle(), QStringLiteral("LogInfo"));
  EXPECT_FALSE(f.isVisible());
  EXPECT_EQ(f.pos(), QPoint(5, 190));
  EXPECT_EQ(f.OKButton->text(), QStringLiteral("&Close"));
  EXPECT_EQ(f.ClearButton->text(), QStringLiteral("&Clear"));
  EXPECT_EQ(f.CopyToClipboardButton->text(), QStringLiteral("Clip&board"));
  EXPECT_EQ(f.SaveAsButton->text(), QStringLiteral("Save&As"));
  for (const char* name :
       {"ButtonPanel", "OKButton", "ClearButton", "CopyToClipboardButton", "SaveAsButton", "LogRichEdit"})
    EXPECT_NE(f.findChild<QWidget*>(QLatin1String(name)), nullptr) << name;
  EXPECT_EQ(f.LogRichEdit->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(f.LogRichEdit->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(f.LogRichEdit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_LT(f.ButtonPanel->y() + f.ButtonPanel->height(), f.LogRichEdit->y() + 1);
}

TEST_F(IoFormTest, TheLogTakesTheWindowHeightLess55) {
  TIoForm f;
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  for (const QSize s : {QSize(500, 300), QSize(700, 560), QSize(300, 120)}) {
    f.resize(s);
    EXPECT_EQ(f.LogRichEdit->height(), f.frameGeometry().height() - 55) << s.height();
    EXPECT_EQ(f.LogRichEdit->width(), f.width());
    EXPECT_LE(f.LogRichEdit->y() + f.LogRichEdit->height(), f.height());
  }
}

TEST_F(IoFormTest, CollectsTraceLinesOnlyWithTheLogBitAndOnlyWhileItLives) {
  {
    TIoForm f;
    LogTrace(QStringLiteral("dropped"));
    EXPECT_TRUE(lines(f).isEmpty());
    DiagFlags = quelm::kDiagLog;
    LogTrace(QStringLiteral("first"));
    quelm::TraceLine t(QStringLiteral("TX::Op(): "));
    t.fail(QStringLiteral("ERR_FOPEN"));
    EXPECT_EQ(lines(f), (QStringList{"first", "TX::Op(): ", "TX::Op(): ERR_FOPEN"}));
  }
  LogTrace(QStringLiteral("after the window is gone"));  // must not reach a dead window
}

TEST_F(IoFormTest, TheConstructorTracesItself) {
  DiagFlags = quelm::kDiagLog;
  TIoForm f;
  const QStringList l = lines(f);
  EXPECT_TRUE(l.contains(QStringLiteral("TIoForm::TIoForm(): ")));
  EXPECT_TRUE(l.contains(QStringLiteral("TIoForm::TIoForm(): ok")));
}

TEST_F(IoFormTest, CancelledSaveAddsExactlyTheEntryAndCancelLines) {
  TIoForm f;
  DiagFlags = quelm::kDiagLog;
  LogTrace(QStringLiteral("line"));
  const QStringList before = lines(f);
  prompter_.fileAnswers = {std::nullopt};
  f.SaveAsButton->click();
  EXPECT_EQ(lines(f), before + QStringList({"TIoForm::SaveAsButtonClick(): ",
                                            "TIoForm::SaveAsButtonClick(): ERR_CANCEL"}));
  EXPECT_TRUE(prompter_.messages.empty());
  EXPECT_TRUE(dir_.isValid());
  EXPECT_TRUE(QDir(dir_.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(IoFormTest, ConfirmedSaveWritesEveryLineThroughTheSharedDialog) {
  TIoForm f;
  f.LogRichEdit->clear();
  DiagFlags = quelm::kDiagLog;
  LogTrace(QStringLiteral("alpha"));
  LogTrace(QStringLiteral("beta µSv"));
  quelm::sharedSaveDialog().Filter = QStringLiteral("Text lists (*.txt)");  // left by another window
  const QString path = dir_.filePath(QStringLiteral("log.txt"));
  prompter_.fileAnswers = {path};
  f.SaveAsButton->click();
  ASSERT_EQ(prompter_.fileRequests.size(), 1u);
  EXPECT_EQ(prompter_.fileRequests[0].filter, QStringLiteral("Text lists (*.txt)"));
  EXPECT_EQ(read(path), QByteArray("alpha\nbeta \xC2\xB5Sv\nTIoForm::SaveAsButtonClick(): \n"));
  EXPECT_EQ(lines(f).last(), QStringLiteral("TIoForm::SaveAsButtonClick(): ok"));
  EXPECT_TRUE(prompter_.messages.empty());
}

TEST_F(IoFormTest, AFileThatCannotBeCreatedShowsTheFileErrorAndKeepsTheLog) {
  TIoForm f;
  f.AppendLine(QStringLiteral("keep me"));
  const QString before = f.LogRichEdit->toPlainText();
  const QString path = dir_.filePath(QStringLiteral("missing/log.txt"));
  prompter_.fileAnswers = {path};
  f.SaveAsButton->click();
  ASSERT_EQ(prompter_.messages.size(), 1u);
  EXPECT_EQ(prompter_.messages[0].kind, quelm::MessageKind::Error);
  EXPECT_TRUE(prompter_.messages[0].text.startsWith(QStringLiteral("Cannot create file \"") + path + "\". "))
      << prompter_.messages[0].text.toStdString();
  EXPECT_EQ(f.LogRichEdit->toPlainText(), before);
  EXPECT_FALSE(QFile::exists(path));
}

TEST_F(IoFormTest, AFailedWriteLeavesTheOldFileAsItWas) {
  TIoForm f;
  f.AppendLine(QString(200, QLatin1Char('x')));
  const QString path = dir_.filePath(QStringLiteral("log.txt"));
  {
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old log\n");
  }
  prompter_.fileAnswers = {path};
  {
    quelm::test::WriteLimit limit(64);
    f.SaveAsButton->click();
  }
  ASSERT_EQ(prompter_.messages.size(), 1u);
  EXPECT_TRUE(prompter_.messages[0].text.startsWith(QStringLiteral("Cannot write file \"") + path + "\". "));
  EXPECT_EQ(read(path), QByteArray("old log\n"));
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList{QStringLiteral("log.txt")});
}

TEST_F(IoFormTest, ClearCloseAndClipboard) {
  TIoForm f;
  f.LogRichEdit->clear();
  f.AppendLine(QStringLiteral("one"));
  f.AppendLine(QStringLiteral("two"));
  f.CopyToClipboardButton->click();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("one\ntwo"));

  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  f.OKButton->click();
  EXPECT_FALSE(f.isVisible());
  EXPECT_EQ(lines(f), (QStringList{"one", "two"}));  // closing only hides

  f.ClearButton->click();
  EXPECT_TRUE(f.LogRichEdit->toPlainText().isEmpty());
}

TEST_F(IoFormTest, HandlersTraceTheirPrefixes) {
  TIoForm f;
  DiagFlags = quelm::kDiagLog;
  f.ClearButton->click();  // clears, then the success line follows
  EXPECT_EQ(lines(f), QStringList{"TIoForm::ClearButtonClick(): ok"});
  f.CopyToClipboardButton->click();
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  f.resize(f.width() + 10, f.height());
  f.OKButton->click();
  const QStringList l = lines(f);
  for (const char* prefix :
       {"TIoForm::CopyToClipboardButtonClick(): ", "TIoForm::OKButtonClick(): ", "TIoForm::FormResize(): "}) {
    EXPECT_TRUE(l.contains(QString::fromLatin1(prefix))) << prefix;
    EXPECT_TRUE(l.contains(QString::fromLatin1(prefix) + "ok")) << prefix;
  }
}

}  // namespace
