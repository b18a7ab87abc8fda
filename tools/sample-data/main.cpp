// quelm-sample-data: writes a data file of generated measurement blocks.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#include "sample-data/SampleData.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("quelm-sample-data"));
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Writes a data file of generated measurement blocks."));
  parser.addHelpOption();
  const QCommandLineOption blocks(QStringList{QStringLiteral("n"), QStringLiteral("blocks")},
                                  QStringLiteral("Number of blocks (default 300)."), QStringLiteral("N"),
                                  QStringLiteral("300"));
  const QCommandLineOption seed(QStringList{QStringLiteral("s"), QStringLiteral("seed")},
                                QStringLiteral("Random seed (default 1)."), QStringLiteral("SEED"),
                                QStringLiteral("1"));
  const QCommandLineOption first(
      QStringList{QStringLiteral("f"), QStringLiteral("first")},
      QStringLiteral("Block number of the oldest block; numbers wrap past 2047 (default 0)."),
      QStringLiteral("NUMBER"), QStringLiteral("0"));
  parser.addOptions({blocks, seed, first});
  parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The data file to write (.dat)."));
  parser.process(app);

  const QStringList files = parser.positionalArguments();
  if (files.size() != 1) {
    std::fprintf(stderr, "quelm-sample-data: name one output file (see --help)\n");
    return 2;
  }
  bool okBlocks = false, okSeed = false, okFirst = false;
  SampleDataOptions options;
  options.blocks = parser.value(blocks).toInt(&okBlocks);
  options.seed = parser.value(seed).toULongLong(&okSeed);
  options.firstNumber = parser.value(first).toInt(&okFirst);
  if (!okBlocks || options.blocks < 0 || !okSeed || !okFirst || options.firstNumber < 0 ||
      options.firstNumber > 2047) {
    std::fprintf(stderr, "quelm-sample-data: --blocks must be >= 0, --first 0..2047, --seed a number\n");
    return 2;
  }
  const int rc = WriteSampleDataFile(files.front(), options);
  if (rc != 0) {
    std::fprintf(stderr, "quelm-sample-data: cannot write %s (code %d)\n", qPrintable(files.front()), rc);
    return 1;
  }
  std::printf("%s: %d blocks\n", qPrintable(files.front()), options.blocks);
  return 0;
}
