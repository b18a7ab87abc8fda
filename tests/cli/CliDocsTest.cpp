// The manual page and the bash completion against the command's own help:
// whatever --help names, they name too.
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>

#include "CliDocs.h"
#include "CliDriver.h"

using namespace quelm::cli;
using quelm::test::runCli;

namespace {

// The page's text as a reader sees it, without the escapes of roff.
QString plainText(QString page) {
  static const QRegularExpression fonts(QStringLiteral(R"(\\f[BIRP])"));
  page.remove(fonts);
  page.replace(QStringLiteral("\\-"), QStringLiteral("-"));
  page.remove(QStringLiteral("\\&"));
  page.replace(QStringLiteral("\\e"), QStringLiteral("\\"));
  return page;
}

// Each command's --help: the usage line without its prefix and the summary.
QStringList commandHelpLines() {
  QStringList lines;
  for (const CommandInfo& c : registeredCommands()) {
    const auto r = runCli({QString::fromUtf8(c.name), QStringLiteral("--help")});
    EXPECT_EQ(r.code, 0) << c.name;
    for (QString line : r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
      lines << line.remove(QRegularExpression(QStringLiteral("^usage: quelm-cli ")));
  }
  return lines;
}

// What bash completes after the given words (the last one is completed).
QStringList complete(const QStringList& words) {
  QString quoted;
  for (const QString& w : words) quoted += QStringLiteral(" '") + w + QLatin1Char('\'');
  QProcess bash;
  bash.start(QStringLiteral("bash"),
             {QStringLiteral("-c"), bashCompletion() + QStringLiteral("\nCOMP_WORDS=(") + quoted +
                                        QStringLiteral(")\nCOMP_CWORD=%1\n_quelm_cli\n"
                                                       "printf '%s\\n' \"${COMPREPLY[@]}\"\n")
                                            .arg(words.size() - 1)});
  EXPECT_TRUE(bash.waitForFinished(10000));
  EXPECT_EQ(bash.exitCode(), 0) << bash.readAllStandardError().toStdString();
  QStringList got =
      QString::fromUtf8(bash.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  got.sort();
  return got;
}

TEST(CliDocs, TheManualPageHoldsEveryCommandAndOptionOfTheHelp) {
  const QString page = plainText(manPage());
  const QStringList lines = commandHelpLines();
  for (const QString& line : lines) EXPECT_TRUE(page.contains(line)) << line.toStdString();
  for (const QString& option : optionsIn(runCli({"--help"}).out + lines.join(QLatin1Char('\n')))) {
    const QRegularExpression word(QStringLiteral("(?<![\\w-])") + QRegularExpression::escape(option) +
                                  QStringLiteral("(?![\\w-])"));
    EXPECT_TRUE(page.contains(word)) << option.toStdString();
  }
  for (const char* part : {".SH EXIT STATUS", ".SH FILES", ".SH EXAMPLES", "quelm/quelm.INI", "dialout"})
    EXPECT_TRUE(page.contains(QLatin1String(part))) << part;
}

TEST(CliDocs, BashCompletesTheCommandsAndEachCommandsOwnOptions) {
  QStringList top;
  for (const CommandInfo& c : registeredCommands()) top << QString::fromUtf8(c.name);
  top << QStringLiteral("--config") << QStringLiteral("--help") << QStringLiteral("--version");
  top.sort();
  EXPECT_EQ(complete({QStringLiteral("quelm-cli"), QString()}), top);
  EXPECT_EQ(complete({QStringLiteral("quelm-cli"), QStringLiteral("--baud"), QStringLiteral("192")}),
            QStringList{QStringLiteral("19200")});
  for (const CommandInfo& c : registeredCommands()) {
    const QString name = QString::fromUtf8(c.name);
    QStringList options = optionsIn(runCli({name, QStringLiteral("--help")}).out);
    for (const QString& o : {QStringLiteral("--config"), QStringLiteral("--help")})
      if (!options.contains(o)) options << o;
    options.sort();
    EXPECT_EQ(complete({QStringLiteral("quelm-cli"), QStringLiteral("--config"), QStringLiteral("x.INI"),
                        name, QStringLiteral("--")}),
              options)
        << c.name;
  }
}

}  // namespace
