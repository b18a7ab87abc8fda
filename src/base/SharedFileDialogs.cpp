#include "base/SharedFileDialogs.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include "base/Prompter.h"

namespace quelm {

bool SharedFileDialog::Execute() {
  FileRequest request;
  request.title = Title;
  request.filter = Filter;
  request.directory =
      InitialDir.isEmpty() && !FileName.isEmpty() ? QFileInfo(FileName).absolutePath() : InitialDir;
  request.fileName = FileName;
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
