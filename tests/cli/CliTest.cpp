#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <limits>

#include "CliDriver.h"
#include "Golden.h"
#include "Unprivileged.h"
#include "base/Config.h"
#include "base/NumberFormat.h"
#include "evaluation/BlockFormat.h"
#include "evaluation/ContentList.h"
#include "evaluation/DoseChain.h"
#include "link/COMPort.h"
#include "measurement/BlockRecord.h"
#include "measurement/TextList.h"
#include "sample-data/SampleData.h"

namespace {

using quelm::test::runCli;

// A data file of generated blocks in a temporary folder.
class CliFile : public ::testing::Test {
 protected:
  void write(int count, int firstNumber = 0) {
    ASSERT_TRUE(dir.isValid());
    SampleDataOptions options;
    options.blocks = count;
    options.firstNumber = firstNumber;
    blocks = MakeSampleBlocks(options);
    ASSERT_EQ(WriteSampleDataFile(path, options), 0);
  }
  // Appends bytes the generator does not make (a crafted record, a cut one).
  void append(const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    ASSERT_EQ(file.write(bytes), bytes.size());
  }
  void append(const BlockRecord& record) {
    append(QByteArray(reinterpret_cast<const char*>(&record), sizeof record));
  }
  const BlockRecord& block(int number) const {
    for (const BlockRecord& b : blocks)
      if (b.BlockNumber == number) return b;
    ADD_FAILURE() << "no block " << number;
    return blocks.front();
  }
  // The block numbers of list output (its lines after the title line).
  static std::vector<int> listed(const QString& out) {
    std::vector<int> v;
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (int i = 1; i < lines.size(); ++i) v.push_back(lines[i].section(QLatin1Char('\t'), 0, 0).toInt());
    return v;
  }
  // The content list file the command wrote is the one these blocks give,
  // but for its own name in the title block.
  void expectContentList(const QString& lst, const std::vector<BlockRecord>& listedBlocks) const {
    const QString expected = dir.filePath(QStringLiteral("expected.lst"));
    ASSERT_EQ(quelm::WriteContentList(expected, listedBlocks), 0);
    QFile written(lst), wanted(expected);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    ASSERT_TRUE(wanted.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll().replace(lst.toLocal8Bit(), "NAME"),
              wanted.readAll().replace(expected.toLocal8Bit(), "NAME"));
  }

  QTemporaryDir dir;
  QString path = dir.filePath(QStringLiteral("run.dat"));
  std::vector<BlockRecord> blocks;
};

TEST(CliFrame, UsageErrorsExitTwoWithTheUsageAndHelpExitsZero) {
  struct Case {
    QStringList args;
    const char* inErr;
  };
  const Case cases[] = {
      {{}, "usage: quelm-cli COMMAND"},
      {{"frobnicate"}, "unknown command \"frobnicate\""},
      {{"info"}, "usage: quelm-cli info FILE.dat"},
      {{"info", "a.dat", "b.dat"}, "one data file is needed"},
      {{"info", "--bogus", "a.dat"}, "unknown option --bogus"},
      {{"--config"}, "--config needs a file"},
      {{"list"}, "a data file is needed"},
      {{"list", "a.dat", "b.dat"}, "unexpected argument \"b.dat\""},
      {{"list", "a.dat", "--number", "5"}, "--number needs 2 values"},
      {{"list", "a.dat", "--number", "5", "2048"}, "--number TO must be a whole number from 0 to 2047"},
      {{"list", "a.dat", "--after", "2006.13.01 00:00"}, "--after must be a date and time"},
      {{"list", "a.dat", "--before", "24.06.2006"}, "--before must be a date and time"},
      {{"list", "a.dat", "--dosimeter", "A12"}, "--dosimeter must be the five characters"},
      {{"list", "a.dat", "--pages", "0"}, "--pages must be a whole number from 1"},
      {{"list", "a.dat", "--baud", "9600"}, "unknown option --baud"},
      {{"list", "--port", "COM17"}, "--port must be COM1 ... COM16"},
      {{"list", "--port", "COM1", "--baud", "1234"}, "--baud must be one of the reader's rates"},
      {{"show", "a.dat"}, "at least one block number is needed"},
      {{"show", "a.dat", "7", "x"}, "a block number must be a whole number from 0 to 2047, not \"x\""},
      {{"evaluate", "a.dat"}, "one block number is needed"},
      {{"evaluate", "a.dat", "1", "2"}, "one block number is needed"},
      {{"evaluate", "a.dat", "1", "--start", "100"}, "--start must be a whole number from 0 to 99"},
      {{"evaluate", "a.dat", "1", "--length", "0"}, "--length must be a whole number from 1 to 100"},
      {{"evaluate", "a.dat", "1", "--start", "90", "--length", "11"}, "ends past channel 99"},
      {{"evaluate", "a.dat", "1", "--nf", "2,5"}, "--nf must be a number such as 2.5"},
      {{"evaluate", "a.dat", "1", "--nf", "1e-50"}, "--nf must be a number such as 2.5"},
      {{"evaluate", "--port", "COM1", "a.dat", "1"}, "unknown option --port"},
      {{"csv"}, "one data file is needed"},
  };
  for (const Case& c : cases) {
    const auto r = runCli(c.args);
    EXPECT_EQ(r.code, 2) << c.args.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.inErr))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("usage: quelm-cli") || r.err.contains("Try 'quelm-cli --help'"))
        << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty()) << c.args.join(' ').toStdString();
  }
  const auto help = runCli({"--help"});
  EXPECT_EQ(help.code, 0);
  for (const char* command :
       {"info FILE.dat", "list (FILE.dat", "show (FILE.dat", "evaluate FILE.dat", "csv"})
    EXPECT_TRUE(help.out.contains(QString::fromLatin1(command))) << command;
  EXPECT_EQ(runCli({"list", "--help"}).code, 0);
}

TEST(CliFrame, FailuresGiveTheCodeTableMessageWithTheCodeOnceAndExitOne) {
  std::signal(SIGXFSZ, SIG_DFL);
  for (const char* command : {"info", "list", "csv"}) {
    const auto r = runCli({command, "/nonexistent/file.dat"});
    EXPECT_EQ(r.code, 1) << command;
    EXPECT_EQ(r.err, "quelm-cli: /nonexistent/file.dat: File open error (-107): No such file or directory\n")
        << command;
    EXPECT_TRUE(r.out.isEmpty()) << command;
  }
  EXPECT_EQ(std::signal(SIGXFSZ, SIG_DFL), SIG_IGN) << "a file-size limit fails writes, not the program";
}

TEST(CliFrame, VersionAndHelpNameTheProjectVersionAndTheConfigurationInUse) {
  const auto version = runCli({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out, "quelm-cli " + quelm::programVersion() + "\n");
  EXPECT_TRUE(runCli({"--help"}, "/etc/site/quelm.INI").out.contains("In use: /etc/site/quelm.INI\n"));
  EXPECT_TRUE(runCli({"--config", "/tmp/other.INI", "--help"}).out.contains("In use: /tmp/other.INI\n"));
}

TEST(CliFrame, ADeviceTheUserMayNotOpenEndsWithTheRemedyAfterTheConnectError) {
  QTemporaryDir dir;
  const QString node = quelm::test::forbiddenDevice(dir);
  ASSERT_FALSE(node.isEmpty());
  const QString err = QString::fromUtf8(quelm::test::runUnprivileged([&] {
    const auto r = runCli({"list", "--port", node});
    return QByteArray::number(r.code) + '\n' + r.err.toUtf8();
  }));
  const QStringList lines = err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_GE(lines.size(), 3) << err.toStdString();
  EXPECT_EQ(lines.front(), "1");
  EXPECT_EQ(lines.at(lines.size() - 2),
            "quelm-cli: " + node + ": COM connect. error (not avail./already/can't connect) (-201)");
  EXPECT_EQ(lines.back(), "quelm-cli: " + quelm::permissionNote(node));
}

TEST_F(CliFile, InfoCountsBlocksAndNamesTheNewestAndTheDateSpan) {
  write(30, 2040);  // wraps: the newest is 21
  const auto r = runCli({"info", path});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.startsWith("Blocks: 30\nNewestBlock: 21\nFirstDate: ")) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("\nLastDate: "));
}

TEST_F(CliFile, ListPrintsTheGridsTitlesAndRowTextsNewestFirst) {
  write(50, 2030);  // numbers 2030..2047, 0..31
  const auto r = runCli({"list", path});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const QStringList lines = r.out.split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 22);  // titles, 20 rows, the empty rest after the last line end
  EXPECT_EQ(lines[0],
            "BlockNo\tDateTime\tDosimeter\tDose\tExposure\tAppr. Dose rate\tDevice ID\tTemperature\t"
            "ErrorCodes");
  for (int row = 1; row <= 20; ++row) {
    BlockSummary s;
    std::memset(&s, 0, sizeof s);
    const BlockRecord& b = block(32 - row);
    s.BlockNumber = b.BlockNumber;
    std::memcpy(s.DateTime, b.DateTime, 5);
    std::memcpy(s.DeviceID, b.DeviceID, 5);
    std::memcpy(s.BulbID, b.BulbID, 5);
    s.ReaderTemp = b.ReaderTemp;
    s.ErrorCodes = b.ErrorCodes;
    s.MeasuredDose = b.MeasuredDose;
    s.Exposure = b.Exposure;
    const auto cells = quelm::ContentRowTexts(s).cells;
    EXPECT_EQ(lines[row], QStringList(cells.begin(), cells.end()).join(QLatin1Char('\t'))) << "row " << row;
  }
  EXPECT_TRUE(lines[21].isEmpty());
}

TEST_F(CliFile, ListSearchesAndPagesAsTheWindowDoes) {
  write(60, 2030);  // numbers 2030..2047, 0..41
  const auto older = [](int from, int count) {
    std::vector<int> v;
    for (int n = from; count-- > 0; n = n == 0 ? 2047 : n - 1) v.push_back(n);
    return v;
  };
  const QString dosimeter = IdentifierText(block(10).BulbID);
  std::vector<int> ofDosimeter;
  for (int i = static_cast<int>(blocks.size()) - 1; i >= 0 && ofDosimeter.size() < 20; --i)
    if (IdentifierText(blocks[i].BulbID) == dosimeter) ofDosimeter.push_back(blocks[i].BlockNumber);
  struct Case {
    QStringList options;
    std::vector<int> numbers;
  };
  const Case cases[] = {
      {{"--pages", "2"}, older(41, 40)},
      {{"--pages", "9"}, older(41, 60)},  // ends when the file does, nothing twice
      {{"--number", "2040", "5"}, older(5, 14)},
      {{"--number", "2040", "5", "--pages", "3"}, older(5, 14)},
      {{"--dosimeter", dosimeter.toLower()}, ofDosimeter},
  };
  for (const Case& c : cases) {
    const auto r = runCli(QStringList{"list", path} + c.options);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(listed(r.out), c.numbers) << c.options.join(' ').toStdString();
  }

  // Dates are exclusive bounds: the blocks strictly between two read-outs.
  const auto stamp = [&](int number) {
    const uint8_t* d = block(number).DateTime;
    return QString::asprintf("%04d.%02d.%02d %02d:%02d", d[0] + 1900, d[1], d[2], d[3], d[4]);
  };
  int from = 12, to = 30;
  while (block(from).ErrorCodes & 0x10) ++from;
  while (block(to).ErrorCodes & 0x10) --to;
  std::vector<int> between;
  for (int n = to - 1; n > from; --n)
    if (!(block(n).ErrorCodes & 0x10) && stamp(n) > stamp(from) && stamp(n) < stamp(to)) between.push_back(n);
  const auto r = runCli({"list", path, "--after", stamp(from), "--before", stamp(to)});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(listed(r.out), between);
}

TEST_F(CliFile, ListPagesRoundAFullReaderMemoryOnce) {
  write(2048, 11);  // every number, the newest is 10
  const auto r = runCli({"list", path, "--pages", "200"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const std::vector<int> numbers = listed(r.out);
  ASSERT_EQ(numbers.size(), 2048u);
  for (size_t i = 0; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], (10 - static_cast<int>(i) + 2048) % 2048);
}

TEST_F(CliFile, ListWritesTheListedBlocksAsAContentListFile) {
  write(30);
  quelm::setTextFileClock([] { return QDateTime(QDate(2024, 3, 1), QTime(6, 0)); });
  const QString lst = dir.filePath(QStringLiteral("out.lst"));
  const auto r = runCli({"list", path, "--number", "5", "9", "--lst", lst});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  std::vector<BlockRecord> listedBlocks;
  for (int n = 9; n >= 5; --n) listedBlocks.push_back(block(n));
  expectContentList(lst, listedBlocks);

  const auto unwritable = runCli({"list", path, "--lst", dir.filePath(QStringLiteral("no/such/dir.lst"))});
  EXPECT_EQ(unwritable.code, 1);
  EXPECT_TRUE(unwritable.err.endsWith("File open error (-107): No such file or directory\n"))
      << unwritable.err.toStdString();
  quelm::setTextFileClock({});
}

// An appended download repeats numbers: blocks 0..39, then 25..54. Every
// record is listed once, and its content list line is that record's.
TEST_F(CliFile, ListAndItsContentListFileFollowTheRecordsOfRepeatedNumbers) {
  ASSERT_TRUE(dir.isValid());
  blocks = MakeSampleBlocks({40, 5, 0});
  const auto later = MakeSampleBlocks({30, 6, 25});
  blocks.insert(blocks.end(), later.begin(), later.end());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(reinterpret_cast<const char*>(blocks.data()), static_cast<qint64>(blocks.size() * 512));
  file.close();
  quelm::setTextFileClock([] { return QDateTime(QDate(2024, 3, 1), QTime(6, 0)); });
  const QString lst = dir.filePath(QStringLiteral("out.lst"));
  const auto r = runCli({"list", path, "--pages", "9", "--lst", lst});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  const std::vector<BlockRecord> newestFirst(blocks.rbegin(), blocks.rend());
  std::vector<int> numbers;
  for (const BlockRecord& b : newestFirst) numbers.push_back(b.BlockNumber);
  EXPECT_EQ(listed(r.out), numbers);
  const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  for (int i = 1; i < lines.size() && i <= static_cast<int>(newestFirst.size()); ++i)
    EXPECT_EQ(lines[i].section(QLatin1Char('\t'), 2, 2).toStdString(),
              IdentifierText(newestFirst[i - 1].BulbID).toStdString())
        << i;
  expectContentList(lst, newestFirst);
  quelm::setTextFileClock({});
}

// A record cut off while it was appended (a crash, a full disk): the whole
// records before it are listed as ever, and the list fails after them
// with the cut named; nor is a list file written.
TEST_F(CliFile, ListPrintsTheWholeRecordsOfAFileEndingInACutOffRecordAndFails) {
  write(30);
  BlockRecord next = blocks.back();
  next.BlockNumber = 30;
  append(QByteArray(reinterpret_cast<const char*>(&next), 100));
  const QString lst = dir.filePath(QStringLiteral("out.lst"));
  const auto down = [](int from, int to) {
    std::vector<int> v;
    for (int n = from; n >= to; --n) v.push_back(n);
    return v;
  };
  struct Case {
    QStringList options;
    std::vector<int> numbers;
  };
  const Case cases[] = {
      {{}, down(29, 10)},
      {{"--pages", "9"}, down(29, 0)},
      {{"--number", "20", "29"}, down(29, 20)},
      {{"--lst", lst}, down(29, 10)},
  };
  for (const Case& c : cases) {
    const auto r = runCli(QStringList{"list", path} + c.options);
    const std::string where = c.options.join(' ').toStdString();
    EXPECT_EQ(r.code, 1) << where;
    EXPECT_EQ(listed(r.out), c.numbers) << where;
    EXPECT_EQ(r.err.toStdString(),
              QStringLiteral("quelm-cli: %1: Source file error (-214)\n"
                             "quelm-cli: %1: it ends in a cut-off record of 100 bytes after record 29\n")
                  .arg(path)
                  .toStdString())
        << where;
  }
  // The list file holds the whole records listed, as for an intact file.
  EXPECT_TRUE(QFile::exists(lst));
}

// Every command over a data file serves the whole records before a cut-off
// one as it serves an intact file, names the cut once and fails; the block
// only the cut-off record carries is refused with the cut named.
TEST_F(CliFile, EveryCommandServesTheWholeRecordsBeforeACutOffOneAndFails) {
  write(30);
  const QString intact = dir.filePath(QStringLiteral("intact.dat"));
  ASSERT_TRUE(QFile::copy(path, intact));
  BlockRecord next = blocks.back();
  next.BlockNumber = 30;
  append(QByteArray(reinterpret_cast<const char*>(&next), 100));
  quelm::setTextFileClock([] { return QDateTime(QDate(2024, 3, 1), QTime(6, 0)); });
  const QString cut =
      QStringLiteral("quelm-cli: %1: it ends in a cut-off record of 100 bytes after record 29\n").arg(path);
  // FILE and OUT stand for the data file and an output file of each run.
  const auto run = [&](const QStringList& args, const QString& file, const QString& out) {
    QStringList a = args;
    a.replaceInStrings(QStringLiteral("FILE"), file).replaceInStrings(QStringLiteral("OUT"), out);
    return runCli(a);
  };
  const QString intactOut = dir.filePath(QStringLiteral("intact-out")),
                cutOut = dir.filePath(QStringLiteral("cut-out"));
  const auto readOut = [](const QString& name, const QString& own) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll().replace(own.toLocal8Bit(), "OUT") : QByteArray("none");
  };

  const QStringList served[] = {
      {"info", "FILE"},
      {"list", "FILE", "--pages", "2", "--lst", "OUT.lst"},
      {"show", "FILE", "29", "3"},
      {"evaluate", "FILE", "29", "--json"},
      {"export", "FILE", "29", "OUT.txt"},
      {"deconvolve", "FILE", "29", "--peaks", "1", "--csv"},
      {"deconvolve", "FILE", "--all", "--peaks", "1", "--csv"},
      {"csv", "FILE"},
  };
  for (const QStringList& args : served) {
    const std::string where = args.join(' ').toStdString();
    const auto whole = run(args, intact, intactOut);
    const auto r = run(args, path, cutOut);
    ASSERT_EQ(whole.code, 0) << where << whole.err.toStdString();
    EXPECT_EQ(r.code, 1) << where;
    EXPECT_EQ(r.err, QStringLiteral("quelm-cli: %1: Source file error (-214)\n").arg(path) + cut) << where;
    EXPECT_EQ(QString(r.out).replace(cutOut, intactOut).replace(path, intact), whole.out) << where;
    const QString ext = args.last().section(QLatin1Char('.'), 1);
    if (!ext.isEmpty()) {
      EXPECT_EQ(readOut(cutOut + '.' + ext, cutOut), readOut(intactOut + '.' + ext, intactOut)) << where;
    }
  }

  struct Refusal {
    QStringList args;
    const char* context;  // of the failure line
    const char* out;      // what is still served
  };
  const Refusal refused[] = {
      {{"show", "FILE", "30"}, ": block 30", ""},
      {{"show", "FILE", "30", "3"}, ": block 30", "BlockNumber: 3\n"},
      {{"evaluate", "FILE", "30"}, ": block 30", ""},
      {{"export", "FILE", "30", "OUT.txt"}, "", ""},
  };
  for (const Refusal& c : refused) {
    const auto r = run(c.args, path, cutOut);
    const std::string where = c.args.join(' ').toStdString();
    EXPECT_EQ(r.code, 1) << where;
    EXPECT_EQ(r.err, QStringLiteral("quelm-cli: %1%2: Source file error (-214)\n").arg(path, c.context) + cut)
        << where;
    EXPECT_EQ(r.out.isEmpty(), *c.out == '\0') << where;
    EXPECT_TRUE(r.out.contains(c.out)) << where;
  }
  quelm::setTextFileClock({});
}

TEST_F(CliFile, ShowPrintsHeaderAndPanelPerBlockAndGoesOnPastAMissingOne) {
  write(10);
  const auto r = runCli({"show", path, "3", "77", "5"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, QStringLiteral("quelm-cli: %1: block 77: Source file error (-214)\n").arg(path));
  const QStringList blocksShown = r.out.split(QStringLiteral("\n\n"));
  ASSERT_EQ(blocksShown.size(), 2);
  for (int i = 0; i < 2; ++i) {
    const QStringList lines = blocksShown[i].trimmed().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 12 + 17);
    EXPECT_EQ(lines[0], "DeviceID: " + IdentifierText(block(i == 0 ? 3 : 5).DeviceID));
    EXPECT_EQ(lines[4], i == 0 ? "BlockNumber: 3" : "BlockNumber: 5");
    EXPECT_EQ(lines[5], "MeasPoints: 106");
    EXPECT_TRUE(lines[12].startsWith("EvalStart [ch]: ")) << lines[12].toStdString();
    EXPECT_TRUE(lines[28].startsWith("Meas_Dose: ")) << lines[28].toStdString();
  }
}

TEST_F(CliFile, EvaluateTakesTheWindowAndFactorAsTypedAndGivesTheDoseChainsNumbers) {
  write(5);
  const BlockRecord& b = block(2);
  struct Case {
    QStringList options;
    int start, length;
    double normFact;
  };
  const Case cases[] = {
      {{}, b.EVASTART, b.EVALEN, double{float{b.EVANORM}}},
      {{"--start", "20", "--length", "30", "--nf", "2.5"}, 20, 30, 2.5},
      {{"--start", "95"}, 95, 5, double{float{b.EVANORM}}},  // the length follows into the channels
      {{"--nf", "0"}, b.EVASTART, b.EVALEN, 0},
  };
  for (const Case& c : cases) {
    const auto r = runCli(QStringList{"evaluate", path, "2", "--json"} + c.options);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    const DoseEvaluation expected = EvaluateDose(b, c.start, c.length, c.normFact);
    const QString what = c.options.join(' ');
    EXPECT_EQ(o["block"].toInt(), 2);
    EXPECT_EQ(o["evalStart"].toInt(), c.start) << what.toStdString();
    EXPECT_EQ(o["evalLength"].toInt(), c.length) << what.toStdString();
    EXPECT_EQ(o["peakPos"].toInt(), expected.peakPos) << what.toStdString();
    EXPECT_DOUBLE_EQ(o["roi"].toDouble(), expected.roi) << what.toStdString();
    if (c.normFact == 0) {
      EXPECT_TRUE(o["measDose"].isNull());
      EXPECT_EQ(o["panel"].toObject()["Meas_Dose:"].toString(), "ERR:NF=0");
    } else {
      EXPECT_DOUBLE_EQ(o["measDose"].toDouble(), expected.measDose) << what.toStdString();
    }
    // The text form is the panel's lines.
    const auto text = runCli(QStringList{"evaluate", path, "2"} + c.options);
    EXPECT_TRUE(text.out.startsWith(
        QStringLiteral("EvalStart [ch]: %1\nEvalLength [ch]: %2\n").arg(c.start).arg(c.length)))
        << text.out.toStdString();
  }
}

// Text outputs go to terminals and line-by-line readers: an identifier's
// control bytes come out as visible escapes, and a single (the factor a
// block holds) reads the same as in the CSV.
TEST_F(CliFile, TextOutputsShowControlBytesAsEscapesAndSinglesAsTheCsvDoes) {
  write(5);
  BlockRecord odd = blocks.back();
  odd.BlockNumber = 5;
  std::memcpy(odd.BulbID, "A\t\x1b\n1", 5);
  append(odd);

  const auto list = runCli({"list", path});
  ASSERT_EQ(list.code, 0) << list.err.toStdString();
  const QStringList lines = list.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 7);
  for (const QString& line : lines) EXPECT_EQ(line.split(QLatin1Char('\t')).size(), 9) << line.toStdString();
  EXPECT_EQ(lines[1].section(QLatin1Char('\t'), 2, 2), "A\\t\\x1b\\n1");
  const auto show = runCli({"show", path, "5"});
  EXPECT_TRUE(show.out.contains("\nDosimeter: A\\t\\x1b\\n1\n")) << show.out.toStdString();
  EXPECT_FALSE(show.out.contains(QChar(0x1b)));

  const auto json = runCli({"evaluate", path, "2", "--json"});
  EXPECT_TRUE(json.out.contains("\"normFact\": " + quelm::formatSingle(block(2).EVANORM) + ","))
      << json.out.toStdString();
}

TEST_F(CliFile, CsvWritesEveryRecordAndRefusesToPassOverACutOne) {
  write(40);
  // What the generator does not make: a comma in an identifier, a dose that
  // is not a number, an exposure under 0.1 h.
  BlockRecord odd;
  std::memcpy(&odd, &blocks.back(), sizeof odd);
  odd.BlockNumber = 40;
  odd.Exposure = 0;
  std::memcpy(odd.BulbID, "A,\"12", 5);
  odd.MeasuredDose = std::numeric_limits<float>::quiet_NaN();
  append(odd);

  const auto r = runCli({"csv", path});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  quelm::test::ExpectMatchesGolden(r.out.toUtf8(), "blocks.csv");

  append(QByteArray(100, '\0'));
  const auto cut = runCli({"csv", path});
  EXPECT_EQ(cut.code, 1);
  EXPECT_EQ(cut.out, r.out);
  EXPECT_EQ(cut.err, QStringLiteral("quelm-cli: %1: Source file error (-214)\n"
                                    "quelm-cli: %1: it ends in a cut-off record of 100 bytes after record 40\n")
                        .arg(path));
}

}  // namespace
