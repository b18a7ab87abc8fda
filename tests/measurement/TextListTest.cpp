// The text lists byte for byte: the list row's fixed columns, the float
// pattern, CR LF line ends, the degree sign, and whole files against golden
// files (QUELM_UPDATE_GOLDEN=1 rewrites them from the current output).
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <functional>

#include "TestEnv.h"
#include "WriteLimit.h"
#include "base/DataFiles.h"
#include "base/UserLocale.h"
#include "measurement/NurvoDataBlock.h"
#include "measurement/TextList.h"

namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    ADD_FAILURE() << "cannot open " << path.toStdString();
    return {};
  }
  return f.readAll();
}

void expectGolden(const QString& written, const char* golden) {
  const QString path = QStringLiteral(QUELM_TEST_DATA_DIR "/") + QLatin1String(golden);
  const QByteArray actual = readAll(written);
  if (qEnvironmentVariableIsSet("QUELM_UPDATE_GOLDEN")) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(actual);
  }
  EXPECT_EQ(actual, readAll(path)) << golden;
}

// The worked example of a content-list row.
BlockRecord exampleRecord() {
  BlockRecord r;
  std::memset(&r, 0, sizeof r);
  r.BlockNumber = 123;
  const uint8_t stamp[5] = {106, 6, 24, 15, 30};
  std::memcpy(r.DateTime, stamp, 5);
  std::memcpy(r.BulbID, "A1234", 5);
  std::memcpy(r.DeviceID, "R0001", 5);
  r.MeasuredDose = 123.4f;
  r.Exposure = 125;
  r.DoseRate = 9.872f;
  r.ReaderTemp = 47;
  return r;
}

class TextListTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  void TearDown() override { quelm::setUserLocale(quelm::UserLocale{}); }
  QTemporaryDir dir;
  // Relative names: the title block shows the name as passed.
  quelm::test::WorkDirScope workDir{dir};
  quelm::test::TextClockScope clock{QDateTime(QDate(2006, 6, 24), QTime(15, 31, 7))};
};

TEST(FloatPattern, ThreeDigitsAndABareSignedExponent) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {123.4, "1.23E+2"},   {0.5, "5.00E-1"},   {0.0, "0.00E+0"},    {9.996, "1.00E+1"},
      {-9.872, "-9.87E+0"}, {1.125, "1.13E+0"}, {1e-10, "1.00E-10"}, {3.4e38, "3.40E+38"},
  };
  for (const auto& c : cases) EXPECT_EQ(quelm::formatFloatE(c.value), QByteArray(c.text)) << c.value;
  quelm::UserLocale comma;
  comma.decimalSeparator = QLatin1Char(',');
  quelm::setUserLocale(comma);
  EXPECT_EQ(quelm::formatFloatE(123.4), QByteArray("1,23E+2"));
  quelm::setUserLocale(quelm::UserLocale{});
}

TEST(ListRow, TheWorkedExampleIs78CharactersAtFixedColumns) {
  BlockRecord r = exampleRecord();
  const QByteArray row = quelm::listRowText(r);
  EXPECT_EQ(row,
            QByteArray("  123  2006.06.24 15:30 A1234     1.23E+2   12.5    9.87E+0    R0001  23.5 OK \n"));
  EXPECT_EQ(row.size(), 79);

  // The clock flag replaces the date; 100.0 degrees run into the error text.
  r.ErrorCodes = 0x10;
  r.ReaderTemp = 200;
  EXPECT_EQ(quelm::listRowText(r),
            QByteArray("  123  -Not-available-- A1234     1.23E+2   12.5    9.87E+0    R0001  100.0EBCK \n"));
}

TEST_F(TextListTest, ContentListOfTheEdgeRowsMatchesItsGoldenFile) {
  std::vector<BlockRecord> rows;
  const auto add = [&](auto change) {
    BlockRecord r = exampleRecord();
    change(r);
    rows.push_back(r);
  };
  add([](BlockRecord&) {});
  add([](BlockRecord& r) { r.Exposure = 0; });
  add([](BlockRecord& r) { r.Exposure = 0xFFFF; });
  add([](BlockRecord& r) { r.Exposure = 5; });  // half an hour: no dose rate
  add([](BlockRecord& r) {
    r.MeasuredDose = -3.0f;
    r.DoseRate = -0.25f;
  });
  add([](BlockRecord& r) { r.ReaderTemp = 200; });
  add([](BlockRecord& r) {
    std::memcpy(r.DeviceID,
                "R\0\0"
                "1\0",
                5);
    std::memcpy(r.BulbID, "\0B\0\0Z", 5);
  });
  add([](BlockRecord& r) {
    r.ErrorCodes = 0xFF;
    r.BlockNumber = 2047;
  });
  add([](BlockRecord& r) { r.ErrorCodes = 0x11; });
  ASSERT_EQ(quelm::WriteContentList(QStringLiteral("edge.lst"), rows), 0);
  expectGolden(QStringLiteral("edge.lst"), "textlist/edge.lst");
}

TEST_F(TextListTest, BlockExportMatchesItsGoldenFileAndReplacesAnEarlierOne) {
  TNurvoDataBlock block(nullptr);
  block.Record = exampleRecord();
  for (int i = 0; i < kRawValueCount; ++i)
    block.Record.RawValues[i] = static_cast<uint16_t>(((i % 5) << 12) | (i * 37 % 4096));
  block.Record.RawValues[7] = 0x5123;  // invalid range: the bare mantissa
  for (int c = 0; c < kChannelCount; ++c) block.Record.ChannelTemps[c] = static_cast<int16_t>(c * 29 - 5);
  block.DecodeChannels();

  ASSERT_EQ(block.WriteBlockText(QStringLiteral("Quelm123.txt")), 0);
  ASSERT_EQ(block.WriteBlockText(QStringLiteral("Quelm123.txt")), 0);
  expectGolden(QStringLiteral("Quelm123.txt"), "textlist/Quelm123.txt");

  // Both detailed layouts as a download appends them.
  ASSERT_EQ(block.StartTextFile(QStringLiteral("run.txt"), quelm::kListTitle, 0), 0);
  ASSERT_EQ(block.WriteFileHeader(QStringLiteral("run.txt"), 1), 0);
  ASSERT_EQ(block.WriteValuesList(QStringLiteral("run.txt")), 0);
  ASSERT_EQ(block.WriteBlockNumberLine(QStringLiteral("run.txt")), 0);
  ASSERT_EQ(block.WriteValuesCsv(QStringLiteral("run.txt")), 0);
  expectGolden(QStringLiteral("run.txt"), "textlist/run.txt");
}

TEST_F(TextListTest, FilesThatCannotBeOpenedOrWrittenAreFailures) {
  TNurvoDataBlock block(nullptr);
  block.Record = exampleRecord();
  const QString missing = dir.filePath(QStringLiteral("no/such/dir/x.txt"));
  EXPECT_EQ(block.StartTextFile(missing, quelm::kListTitle, 1), -107);
  EXPECT_EQ(block.WriteFileHeader(missing, 0), -107);
  EXPECT_EQ(block.WriteValuesCsv(missing), -107);
  EXPECT_EQ(block.WriteBlockText(missing), -107);
  EXPECT_EQ(quelm::WriteContentList(missing, {}), -107);
  // A full disk is not reported as success.
  if (QFile::exists(QStringLiteral("/dev/full"))) {
    EXPECT_LT(block.WriteFileHeader(QStringLiteral("/dev/full"), 1), 0);
    EXPECT_LT(block.WriteBlockText(QStringLiteral("/dev/full")), 0);
  }
}

// A whole-content output that cannot be written whole leaves the file it
// would replace byte for byte, and no scratch file beside it.
TEST_F(TextListTest, AWholeFileThatDoesNotFitLeavesTheEarlierFileAsItWas) {
  TNurvoDataBlock block(nullptr);
  block.Record = exampleRecord();
  block.DecodeChannels();
  const std::vector<BlockRecord> rows(20, exampleRecord());
  const struct {
    const char* name;
    std::function<int(const QString&)> write;
  } writers[] = {
      {"content list", [&](const QString& n) { return quelm::WriteContentList(n, rows); }},
      {"block export", [&](const QString& n) { return block.WriteBlockText(n); }},
      {"list begun by a download",
       [&](const QString& n) { return block.StartTextFile(n, quelm::kListTitle, 1); }},
      {"overwritten data file", [&](const QString& n) { return block.WriteFileBlock(n, 0); }},
      {"any whole file",
       [](const QString& n) {
         return quelm::writeDataFile(n, QByteArray(4096, 'x'), quelm::WriteMode::Replace);
       }},
  };
  const QByteArray good(100, 'g');
  for (const auto& w : writers) {
    SCOPED_TRACE(w.name);
    const QString name = QStringLiteral("out.txt");
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(good) == good.size());
    f.close();
    quelm::takeFileFailure();
    int rc = 0;
    {
      quelm::test::WriteLimit limit(static_cast<rlim_t>(good.size() + 8));
      rc = w.write(name);
    }
    EXPECT_EQ(rc, -110);
    EXPECT_EQ(readAll(name), good);
    EXPECT_EQ(QDir().entryList(QDir::Files), QStringList{name});
    const quelm::FileFailure why = quelm::takeFileFailure();
    EXPECT_EQ(why.name, name);
    EXPECT_EQ(why.reason, QString::fromLocal8Bit(std::strerror(EFBIG)));
    // Without the limit the same write replaces it.
    EXPECT_EQ(w.write(name), 0);
    EXPECT_GT(readAll(name).size(), good.size());
  }
}

}  // namespace
