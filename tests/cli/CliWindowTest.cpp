// The window and the command line are two front ends over the same models:
// for the same blocks they must show the very same texts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QToolButton>
#include <map>

#include "CliDriver.h"
#include "ScriptedPrompter.h"
#include "base/Config.h"
#include "base/StringGrid.h"
#include "sample-data/SampleData.h"
#include "shell/PgcForm.h"

namespace {

using quelm::test::runCli;

// "Caption:" -> the text beside it, for every caption of the header and the
// evaluation panel (a caption XLabel has its value in XDatLabel or an edit).
std::map<QString, QString> panelTexts(const TPgcForm& form) {
  const std::map<QString, QLineEdit*> edits = {{QStringLiteral("EvalStartLabel"), form.EvalSEdit},
                                               {QStringLiteral("EvalLengthLabel"), form.EvalLEdit},
                                               {QStringLiteral("NormFactLabel"), form.NormFact20DatEdit}};
  std::map<QString, QString> texts;
  for (const QWidget* panel :
       {static_cast<QWidget*>(form.UpperPanel), static_cast<QWidget*>(form.LowerPanel)}) {
    for (const QLabel* caption : panel->findChildren<QLabel*>()) {
      const QString name = caption->objectName();
      if (!name.endsWith(QLatin1String("Label")) || name.endsWith(QLatin1String("DatLabel"))) continue;
      if (const auto edit = edits.find(name); edit != edits.end()) {
        texts[caption->text()] = edit->second->text();
        continue;
      }
      const QString valueName = name.chopped(5) + QStringLiteral("DatLabel");
      if (const auto* value = panel->findChild<QLabel*>(valueName)) texts[caption->text()] = value->text();
    }
  }
  return texts;
}

TEST(CliAndWindow, ShowTheSameTextsForTheSameBlocks) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  quelm::setConfigFilePath(dir.filePath(QStringLiteral("quelm.INI")));
  const QString path = dir.filePath(QStringLiteral("run.dat"));
  SampleDataOptions options;
  options.blocks = 120;  // error flags, clock faults, reference dosimeters among them
  ASSERT_EQ(WriteSampleDataFile(path, options), 0);

  quelm::test::ScriptedPrompter prompter;
  auto form = std::make_unique<TPgcForm>();
  prompter.fileAnswers.push_back(path);
  form->FileOpenSpeedButton->click();
  const quelm::StringGrid& grid = *form->BlockStringGrid;

  const auto list = runCli({"list", path});
  ASSERT_EQ(list.code, 0) << list.err.toStdString();
  const QStringList lines = list.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 21);
  QStringList numbers;
  for (int row = 0; row <= 20; ++row) {
    QStringList cells;
    for (int col = 0; col < grid.colCount(); ++col) cells << grid.cell(col, row);
    EXPECT_EQ(lines[row], cells.join(QLatin1Char('\t'))) << "row " << row;
    if (row > 0) numbers << cells.first();
  }

  const auto show = runCli(QStringList{"show", path} + numbers);
  ASSERT_EQ(show.code, 0) << show.err.toStdString();
  const QStringList shown = show.out.split(QStringLiteral("\n\n"));
  ASSERT_EQ(shown.size(), 20);
  for (int row = 1; row <= 20; ++row) {
    form->BlockStringGrid->setSelectedRow(row);
    const std::map<QString, QString> window = panelTexts(*form);
    const QStringList cliLines = shown[row - 1].split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(cliLines.size(), static_cast<int>(window.size())) << "row " << row;
    for (const QString& line : cliLines) {
      const qsizetype colon = line.indexOf(QStringLiteral(": "));
      ASSERT_GT(colon, 0) << line.toStdString();
      const auto it = window.find(line.left(colon + 1));
      ASSERT_NE(it, window.end()) << line.toStdString();
      EXPECT_EQ(line.mid(colon + 2), it->second) << "row " << row << ": " << line.toStdString();
    }
  }
  EXPECT_TRUE(prompter.messages.empty());
  form.reset();
  quelm::setConfigFilePath(QString());
}

}  // namespace
