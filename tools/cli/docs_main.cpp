// Writes the manual page and the bash completion of quelm-cli into a folder
// at build time: quelm-cli.1 and quelm-cli.bash.
#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <cstdio>

#include "CliDocs.h"

namespace {
bool save(const QString& path, const QString& text) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
  const QByteArray bytes = text.toUtf8();
  return file.write(bytes) == bytes.size() && file.commit();
}
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: quelm-cli-docs FOLDER\n");
    return 2;
  }
  const QDir folder(args.at(1));
  if (!save(folder.filePath(QStringLiteral("quelm-cli.1")), quelm::cli::manPage()) ||
      !save(folder.filePath(QStringLiteral("quelm-cli.bash")), quelm::cli::bashCompletion())) {
    std::fprintf(stderr, "quelm-cli-docs: cannot write into %s\n", qPrintable(args.at(1)));
    return 1;
  }
  return 0;
}
