#pragma once
// What a reader of a PDF sees: its text as poppler's pdftotext extracts it
// (real text, not pictures of it) and its page count.

#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QString>

namespace quelm::test {

inline QString RunPoppler(const QString& program, const QStringList& arguments) {
  QProcess p;
  p.start(program, arguments);
  if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    ADD_FAILURE() << program.toStdString()
                  << " failed (poppler-utils installed?): " << p.readAllStandardError().toStdString();
    return QString();
  }
  return QString::fromUtf8(p.readAllStandardOutput());
}

inline QString PdfText(const QString& path) {
  return RunPoppler(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
}

inline int PdfPages(const QString& path) {
  static const QRegularExpression pages(QStringLiteral("^Pages:\\s+(\\d+)"),
                                        QRegularExpression::MultilineOption);
  const QRegularExpressionMatch m = pages.match(RunPoppler(QStringLiteral("pdfinfo"), {path}));
  return m.hasMatch() ? m.captured(1).toInt() : -1;
}

}  // namespace quelm::test
