#include <gtest/gtest.h>

#include "ScriptedPrompter.h"
#include "base/SharedFileDialogs.h"

using quelm::SharedFileDialog;
using quelm::test::ScriptedPrompter;

namespace {

TEST(SharedFileDialog, ConfirmedChoiceBecomesTheFileNameAndCancelChangesNothing) {
  ScriptedPrompter p;
  SharedFileDialog d(SharedFileDialog::Mode::Save);
  d.FileName = QStringLiteral("/data/old.dat");
  p.fileAnswers = {std::nullopt, QStringLiteral("/data/new.txt")};
  EXPECT_FALSE(d.Execute());
  EXPECT_EQ(d.FileName, QStringLiteral("/data/old.dat"));
  EXPECT_TRUE(d.Execute());
  EXPECT_EQ(d.FileName, QStringLiteral("/data/new.txt"));
  ASSERT_EQ(p.fileRequests.size(), 2u);
  // Without a directory of its own the dialog opens where the last file was.
  EXPECT_EQ(p.fileRequests[0].directory, QStringLiteral("/data"));
  EXPECT_EQ(p.fileRequests[0].fileName, QStringLiteral("/data/old.dat"));
}

TEST(SharedFileDialog, CarriesEverySettingIntoTheRequest) {
  ScriptedPrompter p;
  SharedFileDialog d(SharedFileDialog::Mode::Open);
  d.Title = QStringLiteral("Open");
  d.Filter = QStringLiteral("Data (*.dat)");
  d.InitialDir = QStringLiteral("/srv");
  d.DefaultExt = QStringLiteral("dat");
  d.OverwritePrompt = false;
  EXPECT_FALSE(d.Execute());
  ASSERT_EQ(p.fileRequests.size(), 1u);
  const quelm::FileRequest& r = p.fileRequests[0];
  EXPECT_EQ(r.title, QStringLiteral("Open"));
  EXPECT_EQ(r.filter, QStringLiteral("Data (*.dat)"));
  EXPECT_EQ(r.directory, QStringLiteral("/srv"));
  EXPECT_EQ(r.defaultSuffix, QStringLiteral("dat"));
  EXPECT_FALSE(r.overwritePrompt);
}

TEST(SharedFileDialog, TheProgramHasOneOpenAndOneSaveDialogThatKeepTheirFilter) {
  EXPECT_EQ(&quelm::sharedOpenDialog(), &quelm::sharedOpenDialog());
  EXPECT_EQ(&quelm::sharedSaveDialog(), &quelm::sharedSaveDialog());
  EXPECT_NE(&quelm::sharedOpenDialog(), &quelm::sharedSaveDialog());
  EXPECT_EQ(quelm::sharedOpenDialog().mode(), SharedFileDialog::Mode::Open);
  EXPECT_EQ(quelm::sharedSaveDialog().mode(), SharedFileDialog::Mode::Save);

  const QString saved = quelm::sharedSaveDialog().Filter;
  quelm::sharedSaveDialog().Filter = QStringLiteral("Text (*.txt)");  // one window sets it ...
  ScriptedPrompter p;
  quelm::sharedSaveDialog().Execute();  // ... the next user gets it
  ASSERT_EQ(p.fileRequests.size(), 1u);
  EXPECT_EQ(p.fileRequests[0].filter, QStringLiteral("Text (*.txt)"));
  quelm::sharedSaveDialog().Filter = saved;
}

// The name last chosen is proposed only where it fits the filter the
// dialog opens with; its folder is kept either way.
TEST(SharedFileDialog, ProposesOnlyANameThatFitsItsFirstFilter) {
  struct Case {
    const char* filter;
    const char* name;
    bool proposed;
  };
  const Case cases[] = {
      {"Reader parameter table files (*.RPT)", "/w/Quelm259.txt", false},
      {"Reader parameter table files (*.RPT)", "/w/station.rpt", true},
      {"Quelm data files (*.DAT);;All files (*)", "/w/notes.txt", false},
      {"Lists (*.lst *.txt)", "/w/run.txt", true},
      {"All files (*)", "/w/anything", true},
      {"", "/w/anything.bin", true},
  };
  for (const Case& c : cases) {
    ScriptedPrompter p;
    SharedFileDialog d(SharedFileDialog::Mode::Save);
    d.Filter = QLatin1String(c.filter);
    d.FileName = QLatin1String(c.name);
    d.Execute();
    ASSERT_EQ(p.fileRequests.size(), 1u);
    EXPECT_EQ(p.fileRequests[0].fileName, c.proposed ? QLatin1String(c.name) : QString())
        << c.filter << c.name;
    EXPECT_EQ(p.fileRequests[0].directory, QStringLiteral("/w"));
    EXPECT_EQ(d.FileName, QLatin1String(c.name)) << "a cancelled dialog keeps the last file";
  }
}

TEST(FilterFromPipes, TurnsDescriptionPatternPairsIntoQtFilters) {
  EXPECT_EQ(quelm::filterFromPipes(QStringLiteral("Quelm data files (*.dat)|*.DAT|All files (*.*)|*.*")),
            QStringLiteral("Quelm data files (*.DAT);;All files (*)"));
  EXPECT_EQ(quelm::filterFromPipes(QStringLiteral("Lists|*.lst;*.txt")),
            QStringLiteral("Lists (*.lst *.txt)"));
  EXPECT_EQ(quelm::filterFromPipes(QStringLiteral("Twice|*.bin;*.BIN")), QStringLiteral("Twice (*.bin)"));
  EXPECT_EQ(quelm::filterFromPipes(QStringLiteral("Empty|")), QStringLiteral("Empty (*)"));
  EXPECT_EQ(quelm::filterFromPipes(QString()), QString());
}

}  // namespace
