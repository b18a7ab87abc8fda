#include "base/SharedFileDialogs.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include "base/Prompter.h"

namespace quelm {

namespace {

// Whether `name` matches a pattern of the filter the dialog opens with (the
// first): a name another window left behind ("Quelm259.txt") is no
// proposal under "*.RPT".
bool fitsFirstFilter(const QString& name, const QString& filter) {
  const QString first = filter.section(QStringLiteral(";;"), 0, 0);
  const int open = first.lastIndexOf(QLatin1Char('(')), close = first.lastIndexOf(QLatin1Char(')'));
  if (first.isEmpty() || open < 0 || close < open) return true;
  const QString file = QFileInfo(name).fileName();
  for (const QString& pattern :
       first.mid(open + 1, close - open - 1).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(pattern),
                                QRegularExpression::CaseInsensitiveOption);
    if (re.match(file).hasMatch()) return true;
  }
  return false;
}

}  // namespace

bool SharedFileDialog::Execute() {
  FileRequest request;
  request.title = Title;
  request.filter = Filter;
  request.directory =
      InitialDir.isEmpty() && !FileName.isEmpty() ? QFileInfo(FileName).absolutePath() : InitialDir;
  // The folder stays; a name of another kind is not proposed.
  request.fileName = fitsFirstFilter(FileName, Filter) ? FileName : QString();
  request.defaultSuffix = DefaultExt;
  request.overwritePrompt = OverwritePrompt;
  const std::optional<QString> chosen =
      mode_ == Mode::Open ? prompter().openFile(request) : prompter().saveFile(request);
  if (!chosen || chosen->isEmpty()) return false;
  FileName = *chosen;
  return true;
}

SharedFileDialog& sharedOpenDialog() {
  static SharedFileDialog dialog(SharedFileDialog::Mode::Open);
  return dialog;
}

SharedFileDialog& sharedSaveDialog() {
  static SharedFileDialog dialog(SharedFileDialog::Mode::Save);
  return dialog;
}

QString filterFromPipes(const QString& pipes) {
  const QStringList parts = pipes.split(QLatin1Char('|'));
  static const QRegularExpression trailingPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i];
    description.remove(trailingPatterns);
    QStringList patterns;
    for (QString p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      p = p.trimmed();
      if (p == QStringLiteral("*.*")) p = QStringLiteral("*");
      if (!p.isEmpty() && !patterns.contains(p, Qt::CaseInsensitive)) patterns << p;
    }
    if (patterns.isEmpty()) patterns << QStringLiteral("*");
    filters << description.trimmed() + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                   QLatin1Char(')');
  }
  return filters.join(QStringLiteral(";;"));
}

}  // namespace quelm
