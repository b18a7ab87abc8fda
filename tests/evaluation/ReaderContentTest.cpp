// The content model against the simulated reader on a pseudo-terminal,
// served on this thread's event loop while the link waits: import, paging
// across the wrap, item navigation, reading the selected row, the reader's
// own search, an empty reader, and replies damaged, split, delayed or lost
// on the line. One window test keeps the import commands off while the
// import runs.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "BlockPages.h"
#include "QStringPrinter.h"
#include "ReaderModel.h"
#include "ScriptedPrompter.h"
#include "SimServer.h"
#include "TestEnv.h"
#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "base/IniFile.h"
#include "base/StringGrid.h"
#include "evaluation/ContentList.h"
#include "evaluation/ContentModel.h"
#include "evaluation/DetailModel.h"
#include "evaluation/SearchCriteria.h"
#include "link/COMPort.h"
#include "link/FrameLink.h"
#include "measurement/NurvoDataBlock.h"
#include "sample-data/SampleData.h"
#include "shell/IoForm.h"
#include "shell/PgcForm.h"

using namespace quelm;
using namespace quelm::test;

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kResetFrame = {0xA1, 0x16, 0xFC, 0x08, 0x00, 0x00, 0xC4, 0x1E};

Bytes readCommand(int number) {
  return {'.', 'Y', static_cast<uint8_t>(number & 0xFF), static_cast<uint8_t>(number >> 8), '#'};
}

class ReaderContentTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  void TearDown() override {
    if (link && CommandChannel() == &link->Channel()) SetCommandChannel(nullptr);
    link.reset();
    server.reset();
    model.reset();
  }

  // A reader holding the blocks of `options` on COM1.
  void serveReader(const SampleDataOptions& options, const sim::FaultOptions& faults = {}) {
    model = std::make_unique<sim::TReaderModel>(faults);
    blocks.clear();
    if (options.blocks > 0) {
      blocks = MakeSampleBlocks(options);
      model->LoadBlocks(blocks);
    }
    server = std::make_unique<sim::TReaderSimServer>(*model);
    ASSERT_EQ(server->Open(), 0);
    IniFile ini(configFilePath());
    ini.WriteString(QStringLiteral("Serial port settings"), QStringLiteral("COM1"), server->SlavePath());
    ASSERT_TRUE(ini.UpdateFile());
  }
  // ... and the program's link to it as the command channel.
  void startReader(const SampleDataOptions& options, const sim::FaultOptions& faults = {}) {
    serveReader(options, faults);
    link = std::make_unique<TFrameLink>();
    link->COMPortDrv.SetPortNumber(pnCOM1);
    SetCommandChannel(&link->Channel());
  }

  const BlockRecord& block(int number) const {
    for (const BlockRecord& b : blocks)
      if (b.BlockNumber == number) return b;
    ADD_FAILURE() << "no block " << number;
    return blocks.front();
  }
  // The command payloads the reader received, oldest first.
  std::vector<Bytes> commands() const {
    std::vector<Bytes> v;
    for (const Bytes& f : model->Requests)
      if (f.size() > 8 && (f[5] & 0x80)) v.emplace_back(f.begin() + 6, f.end() - 2);
    return v;
  }
  Bytes lastCommand() const {
    const std::vector<Bytes> c = commands();
    return c.empty() ? Bytes{} : c.back();
  }
  // The request of the last ".U" command.
  SearchRequest lastSearch() const {
    SearchRequest r;
    std::memset(&r, 0, sizeof r);
    const std::vector<Bytes> sent = commands();
    for (auto c = sent.rbegin(); c != sent.rend(); ++c) {
      if (c->size() < 2 || (*c)[1] != 'U') continue;
      EXPECT_EQ(c->size(), sizeof r + 3);
      if (c->size() == sizeof r + 3) std::memcpy(&r, c->data() + 2, sizeof r);
      return r;
    }
    ADD_FAILURE() << "no search was sent";
    return r;
  }

  // The model returns its failures and shows none of them (the window
  // reports them): the code, and the message the window's box would show.
  int import() {
    const int rc = content.ImportReader();
    EXPECT_TRUE(prompter.messages.empty() ||
                prompter.texts() == QStringList{"There is not Glow Data in the memory"})
        << prompter.texts().join('|').toStdString();
    return rc;
  }
  static QString told(int code) { return ErrorMessage(code).message; }
  // Criteria as the search window leaves them at Ok.
  int search(uint8_t flags, uint16_t from, uint16_t to, const char* dosimeter = "A0000",
             const uint8_t* dateFrom = nullptr, const uint8_t* dateTo = nullptr) {
    return content.Search([&](SearchState& s) {
      s.Request.Flags = flags;
      s.Request.FromBlock = s.LowerLimit = from;
      s.Request.StartBlock = s.UpperLimit = to;
      SetSearchDosimeter(s.Request, QString::fromLatin1(dosimeter));
      if (dateFrom) std::memcpy(s.Request.DateFrom, dateFrom, 5);
      if (dateTo) std::memcpy(s.Request.DateTo, dateTo, 5);
      return true;
    });
  }

  std::vector<int> rows() const {
    std::vector<int> v;
    for (int r = 1; r <= content.FilledRows(); ++r) v.push_back(content.RowSummary(r).BlockNumber);
    return v;
  }
  int selected() const { return content.SelectedRow(); }
  int shown() const { return data->Record.BlockNumber; }
  // Every cell of the list as text, for comparing whole lists.
  QStringList cells() const {
    QStringList v;
    for (int r = 1; r <= content.FilledRows(); ++r)
      for (const QString& cell : content.RowTexts(r).cells) v << cell;
    return v;
  }
  void expectTheNewestPage(int newest) {
    ASSERT_EQ(rows(), NumbersDown(newest, newest - 19));
    for (int r = 1; r <= 20; ++r)
      EXPECT_EQ(content.RowTexts(r).cells, ContentRowTexts(SummaryOf(block(newest + 1 - r))).cells)
          << "row " << r;
  }
  // The shown record is the reader's block (its first and last byte are
  // never taken from the line).
  void expectShownBlockIs(int number) {
    BlockRecord expected;
    std::memcpy(&expected, &block(number), sizeof expected);
    auto* raw = reinterpret_cast<uint8_t*>(&expected);
    raw[0] = 0;
    raw[sizeof expected - 1] = 0;
    EXPECT_EQ(std::memcmp(&data->Record, &expected, sizeof expected), 0) << "block " << number;
    EXPECT_EQ(std::memcmp(&detail.ShownRecord(), &expected, sizeof expected), 0) << "block " << number;
  }
  // Two imports and a page turn each way; the list after each step.
  std::vector<QStringList> run() {
    std::vector<QStringList> lists;
    import();
    lists.push_back(cells());
    import();
    lists.push_back(cells());
    content.PrevPage();
    lists.push_back(cells());
    content.NextPage();
    lists.push_back(cells());
    content.PrevPage();
    lists.push_back(cells());
    return lists;
  }
  void expectIdle() const {
    EXPECT_FALSE(content.Busy());
    EXPECT_TRUE(content.PagingEnabled());
    EXPECT_FALSE(data->State & Busy);
  }

  DiagScope quiet;
  ScriptedPrompter prompter;
  QTemporaryDir dir;
  ConfigScope config{dir};
  std::vector<BlockRecord> blocks;
  std::unique_ptr<sim::TReaderModel> model;
  std::unique_ptr<sim::TReaderSimServer> server;
  std::unique_ptr<TFrameLink> link;
  std::unique_ptr<TNurvoDataBlock> data = std::make_unique<TNurvoDataBlock>(nullptr);
  DetailModel detail{data};
  ContentModel content{data, detail};
};

// --- Import ----------------------------------------------------------------------

TEST_F(ReaderContentTest, ImportListsTheTwentyNewestAndShowsTheNewest) {
  startReader({300, 11, 0});
  // Criteria left by an earlier search do not filter the import.
  content.Search().Request.Flags = kSearchByNumber | kSearchByDosimeter | kSearchForward;
  import();

  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
  expectTheNewestPage(299);
  expectShownBlockIs(299);
  EXPECT_EQ(selected(), 1);
  EXPECT_EQ(detail.View().header.values[hfBlockNumber].text, "299");
  EXPECT_EQ(content.SourceLabel(), "Serial port");
  EXPECT_EQ(content.AvailableBlocks(), "300");
  expectIdle();

  // Reset frame, count, newest, the first page, the newest block.
  ASSERT_GE(model->Requests.size(), 1u);
  EXPECT_EQ(model->Requests[0], kResetFrame);
  const std::vector<Bytes> sent = commands();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0], (Bytes{'.', 'G', '#'}));
  EXPECT_EQ(sent[1], (Bytes{'.', 'F', '#'}));
  EXPECT_EQ(sent[2].size(), 23u);
  EXPECT_EQ(sent[3], readCommand(299));
  const SearchRequest first = lastSearch();
  EXPECT_EQ(int{first.Flags}, 0);
  EXPECT_EQ(int{first.StartBlock}, 299);
  EXPECT_EQ(int{first.FromBlock}, 300);

  // The last exchange went well, yet a new import starts the link afresh.
  const size_t before = model->Requests.size();
  import();
  ASSERT_GT(model->Requests.size(), before);
  EXPECT_EQ(model->Requests[before], kResetFrame);
  expectTheNewestPage(299);
}

TEST_F(ReaderContentTest, AnEmptyReaderGivesTheMessageAndAnEmptyList) {
  startReader({0, 1, 0});
  // A file listed before: nothing of its list may remain.
  const QString path = dir.filePath(QStringLiteral("before.dat"));
  ASSERT_EQ(WriteSampleDataFile(path, {25, 2, 0}), 0);
  ASSERT_EQ(content.ImportFile(path), 0);
  ASSERT_EQ(rows(), NumbersDown(24, 5));

  import();
  EXPECT_EQ(prompter.texts(), QStringList{"There is not Glow Data in the memory"});
  EXPECT_TRUE(rows().empty());
  // Only the count was asked for.
  EXPECT_EQ(commands(), std::vector<Bytes>{(Bytes{'.', 'G', '#'})});
  EXPECT_EQ(content.SourceLabel(), "Serial port");
  EXPECT_EQ(content.AvailableBlocks(), "0");
  EXPECT_EQ(shown(), 24);  // the view keeps its block
  expectIdle();

  // Paging an empty list asks the reader nothing.
  content.PrevPage();
  content.NextPage();
  EXPECT_EQ(commands().size(), 1u);
  EXPECT_TRUE(rows().empty());
}

TEST_F(ReaderContentTest, ACancelledPortChoiceIsNotReported) {
  startReader({30, 4, 0});
  link->COMPortDrv.SetPortNumber(pnCustom);  // no port: the choice is offered, and cancelled
  EXPECT_EQ(content.ImportReader(), -100);
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
  EXPECT_TRUE(rows().empty());
  EXPECT_TRUE(model->Requests.empty());
  expectIdle();
}

// --- Paging and items -------------------------------------------------------------

TEST_F(ReaderContentTest, PagesCrossTheWrapInBothDirections) {
  startReader({50, 5, 2030});  // 2030..2047, 0..31
  import();
  ASSERT_EQ(rows(), NumbersDown(31, 12));

  content.PrevPage();  // backwards over 0 to 2047
  EXPECT_EQ(rows(), NumbersDown(11, 2040));
  EXPECT_EQ(selected(), 1);
  expectShownBlockIs(11);
  content.PrevPage();
  EXPECT_EQ(rows(), NumbersDown(2039, 2030));
  EXPECT_EQ(shown(), 2039);
  content.PrevPage();  // the oldest block is listed: nothing changes
  EXPECT_EQ(rows(), NumbersDown(2039, 2030));
  EXPECT_EQ(shown(), 2039);

  content.NextPage();  // forwards over 2047 to 0
  EXPECT_EQ(rows(), NumbersDown(11, 2040));
  EXPECT_EQ(selected(), 20);  // the block right after the old page's top
  expectShownBlockIs(2040);
  const SearchRequest forward = lastSearch();
  EXPECT_EQ(int{forward.StartBlock}, 2040);
  EXPECT_EQ(int{forward.Flags}, int{kSearchForward});
  content.NextPage();
  EXPECT_EQ(rows(), NumbersDown(31, 12));
  content.NextPage();  // the newest block is listed
  EXPECT_EQ(rows(), NumbersDown(31, 12));
  EXPECT_EQ(shown(), 12);
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
  EXPECT_EQ(content.SourceLabel(), "Serial port");
  expectIdle();
}

TEST_F(ReaderContentTest, ItemsTurnPagesOverTheWrapAtRowOneAndRowTwenty) {
  startReader({40, 2, 2028});  // 2028..2047, 0..19
  import();
  ASSERT_EQ(rows(), NumbersDown(19, 0));
  content.FirstBlock();
  EXPECT_EQ(selected(), 20);
  EXPECT_EQ(shown(), 0);
  content.PrevItem();  // row 20: the older page, its top row
  EXPECT_EQ(rows(), NumbersDown(2047, 2028));
  EXPECT_EQ(selected(), 1);
  expectShownBlockIs(2047);
  content.NextItem();  // row 1: the newer page, its bottom row
  EXPECT_EQ(rows(), NumbersDown(19, 0));
  EXPECT_EQ(selected(), 20);
  EXPECT_EQ(shown(), 0);
  content.LastBlock();
  EXPECT_EQ(shown(), 19);
  content.NextItem();  // the newest page: nothing newer
  EXPECT_EQ(rows(), NumbersDown(19, 0));
  EXPECT_EQ(selected(), 1);
  content.PrevItem();
  EXPECT_EQ(selected(), 2);
  EXPECT_EQ(shown(), 18);
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
}

// --- Loading the selected block -------------------------------------------------------

TEST_F(ReaderContentTest, SelectingARowReadsItsBlockUnlessACommandIsRunning) {
  startReader({300, 6, 0});
  import();
  ASSERT_TRUE(content.Select(5).moved);
  EXPECT_EQ(lastCommand(), readCommand(295));
  expectShownBlockIs(295);

  // While a reader command is running, a selection reads nothing.
  DiagFlags |= kDiagLog;
  QStringList log;
  setLogSink([&](const QString& line) { log << line; });
  const size_t sent = model->Requests.size();
  data->State |= Busy;
  content.Select(7);
  EXPECT_EQ(model->Requests.size(), sent);
  EXPECT_EQ(shown(), 295);
  EXPECT_TRUE(log.contains(QStringLiteral("TPgcForm::LoadSelectedBlock(): BUSYCOM")));
  data->State &= ~uint32_t{Busy};
  setLogSink(nullptr);
  DiagFlags &= ~kDiagLog;

  content.Select(9);
  EXPECT_EQ(lastCommand(), readCommand(291));
  EXPECT_EQ(shown(), 291);
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
}

// --- Search ----------------------------------------------------------------------------

TEST_F(ReaderContentTest, TheReaderEvaluatesSearchesByNumberDateAndDosimeter) {
  startReader({300, 12, 0});
  import();
  ASSERT_EQ(rows(), NumbersDown(299, 280));

  // By number: From 10 To 50, paged inside the range.
  search(kSearchByNumber, 10, 50);
  SearchRequest sent = lastSearch();
  EXPECT_EQ(int{sent.Flags}, int{kSearchByNumber});
  EXPECT_EQ(int{sent.StartBlock}, 50);
  EXPECT_EQ(int{sent.FromBlock}, 10);
  ASSERT_EQ(rows(), NumbersDown(50, 31));
  EXPECT_EQ(shown(), 299);  // the search shows no block by itself
  const std::vector<std::vector<int>> older = {
      NumbersDown(30, 11), {10}, {10}};  // From is listed: nothing older
  for (const auto& page : older) {
    content.PrevPage();
    EXPECT_EQ(rows(), page);
  }
  content.NextPage();
  EXPECT_EQ(rows(), NumbersDown(30, 11));

  // By date, both bounds excluded.
  search(kSearchByDate, 0, 299, "A0000", blocks[120].DateTime, blocks[150].DateTime);
  sent = lastSearch();
  EXPECT_EQ(int{sent.Flags}, int{kSearchByDate});
  std::vector<int> expected = NewestBetween(blocks, blocks[120].DateTime, blocks[150].DateTime);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(rows(), expected);

  // By dosimeter.
  const std::string key(blocks[200].BulbID, 5);
  search(kSearchByDosimeter, 0, 299, key.c_str());
  sent = lastSearch();
  EXPECT_EQ(int{sent.Flags}, int{kSearchByDosimeter});
  EXPECT_EQ(std::string(sent.Dosimeter, 5), key);
  expected = NewestOf(blocks, key);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(rows(), expected);

  // Every search counted the reader again first.
  int counts = 0;
  for (const Bytes& c : commands()) counts += c == Bytes{'.', 'G', '#'};
  EXPECT_EQ(counts, 4);
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
  expectIdle();

  // A new import lists the newest page again, whatever the search was.
  import();
  EXPECT_EQ(rows(), NumbersDown(299, 280));
}

// --- Faults on the line --------------------------------------------------------------------

TEST_F(ReaderContentTest, DamagedSplitAndDelayedRepliesGiveTheSameList) {
  startReader({300, 21, 0});
  const std::vector<QStringList> clean = run();
  const size_t cleanCommands = commands().size();
  ASSERT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
  TearDown();
  SetUp();

  sim::FaultOptions faults;
  faults.crc.every = 5;  // one reply in five fails its check sum
  faults.chunkSize = 16;
  faults.chunkDelayMs = 2;
  faults.delayMs = 15;
  faults.seed = 7;
  startReader({300, 21, 0}, faults);
  EXPECT_EQ(run(), clean);
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
  expectShownBlockIs(279);
  // Every fifth reply was damaged and asked for again after a reset frame.
  EXPECT_EQ(commands().size(), cleanCommands + 3);
  expectIdle();
}

TEST_F(ReaderContentTest, RandomlyDamagedRepliesNeverLeaveAPartialList) {
  startReader({300, 24, 0});
  import();
  const QStringList clean = cells();
  TearDown();
  SetUp();

  sim::FaultOptions faults;
  faults.crc.probability = 0.3;
  faults.chunkSize = 64;
  faults.chunkDelayMs = 1;
  faults.seed = 5;
  startReader({300, 24, 0}, faults);
  int failed = 0;
  for (int i = 0; i < 6; ++i) {
    const int rc = import();
    if (rc == 0) {
      EXPECT_EQ(cells(), clean) << "import " << i;
      expectShownBlockIs(299);
    } else {
      ++failed;
      EXPECT_EQ(told(rc), "Reader not avaible (not connected?)") << "import " << i;
      // Either nothing is listed or the whole page (when the block itself failed).
      EXPECT_TRUE(rows().empty() || cells() == clean) << "import " << i;
    }
    expectIdle();
  }
  // With this seed some imports fail and some succeed: both paths are taken.
  EXPECT_GT(failed, 0);
  EXPECT_LT(failed, 6);
}

TEST_F(ReaderContentTest, APageThatFailsTwiceIsReturnedAndNothingStaleIsListed) {
  startReader({300, 22, 0});
  import();
  ASSERT_EQ(rows(), NumbersDown(299, 280));
  // The data object's page table still holds that page: a failed page must not show it.
  model->Script = {0, 0, sim::kFaultCrc, sim::kFaultCrc};  // ".G", ".F" well, ".U" twice damaged
  const int rc = import();
  EXPECT_EQ(told(rc), "Reader not avaible (not connected?)");
  EXPECT_EQ(ErrorMessage(rc).kind, MessageKind::Warning);
  EXPECT_TRUE(rows().empty());
  EXPECT_EQ(shown(), 299);  // the view keeps its block
  expectIdle();

  // Paging that fails leaves the list as it was and says so.
  ASSERT_EQ(import(), 0);
  ASSERT_EQ(rows(), NumbersDown(299, 280));
  model->Script = {sim::kFaultCrc, sim::kFaultCrc};
  const ContentModel::Move older = content.PrevPage();
  EXPECT_FALSE(older.moved);
  EXPECT_EQ(told(older.failure), "Reader not avaible (not connected?)");
  EXPECT_EQ(rows(), NumbersDown(299, 280));
  EXPECT_EQ(shown(), 299);
  expectIdle();

  // So does a search whose page cannot be read.
  model->Script = {0, 0, sim::kFaultCrc, sim::kFaultCrc};  // the count well, the page twice damaged
  EXPECT_EQ(told(search(kSearchByNumber, 10, 50)), "Reader not avaible (not connected?)");
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
  EXPECT_EQ(rows(), NumbersDown(299, 280));
  EXPECT_EQ(shown(), 299);
  expectIdle();
}

TEST_F(ReaderContentTest, ALostBlockReplyTimesOutWithAWarningAndTheListStands) {
  startReader({300, 23, 0});
  link->ReplyTimeout = 1;  // one tick: the lost replies cost about two seconds
  model->Script = {0, 0, 0, sim::kFaultDrop, sim::kFaultDrop};  // the newest block's ".Y" is lost twice
  EXPECT_EQ(told(import()), "Reader not avaible (not connected?)");
  EXPECT_EQ(rows(), NumbersDown(299, 280));
  expectIdle();

  // The next selection reads its block: the link starts afresh.
  EXPECT_EQ(content.PrevItem().failure, 0);
  EXPECT_EQ(selected(), 2);
  expectShownBlockIs(298);
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
}

// --- The window ----------------------------------------------------------------------------

// The main window with the log window that owns the link, as the program makes them.
class ReaderImportWindowTest : public ReaderContentTest {
 protected:
  void TearDown() override {
    io.reset();
    form.reset();
    ReaderContentTest::TearDown();
  }
  std::unique_ptr<TPgcForm> form;
  std::unique_ptr<TIoForm> io;
};

TEST_F(ReaderImportWindowTest, TheImportCommandsAreOffWhileTheImportRuns) {
  serveReader({30, 4, 0});
  form = std::make_unique<TPgcForm>();
  io = std::make_unique<TIoForm>();
  io->Link.COMPortDrv.SetPortNumber(pnCOM1);
  // Seen by the reader as each request arrives: the window in the middle of
  // the import, on a fast machine and a slow one alike.
  struct Seen {
    bool busy, button, item, busyPointer;
    bool operator==(const Seen&) const = default;
  };
  std::vector<Seen> seen;
  int nestedImports = 0;
  model->OnRequest = [&](const Bytes&) {
    seen.push_back({form->Content().Busy(), form->RSSpeedButton->isEnabled(), form->FromQuelm1->isEnabled(),
                    QApplication::overrideCursor() != nullptr});
    // A second import asked for from inside the first one is not started.
    const size_t sent = model->Requests.size();
    form->RSSpeedButtonClick();
    if (model->Requests.size() != sent) ++nestedImports;
  };
  form->PageControl->setCurrentWidget(form->ChartTabSheet);
  form->FromQuelm1->trigger();
  model->OnRequest = nullptr;
  EXPECT_EQ(form->PageControl->currentWidget(), form->ContentTabSheet);
  // The reset frame, ".G#", ".F#", the page and the newest block.
  ASSERT_EQ(seen.size(), 5u);
  for (const Seen& s : seen) EXPECT_EQ(s, (Seen{true, false, false, true}));
  EXPECT_EQ(nestedImports, 0);
  EXPECT_EQ(commands().size(), 4u);
  EXPECT_EQ(form->BlockStringGrid->cell(0, 1), "29");
  EXPECT_EQ(form->SourceDatLabel->text(), "Serial port");
  EXPECT_TRUE(form->RSSpeedButton->isEnabled());
  EXPECT_TRUE(form->FromQuelm1->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
}

TEST_F(ReaderContentTest, ARefusedCountOrPageIsReturnedAndNothingIsReadAsData) {
  sim::FaultOptions faults;
  faults.refuse.every = 1;  // every request answered with 'P'
  startReader({300, 24, 0}, faults);
  EXPECT_EQ(import(), kErrReaderRefused);
  EXPECT_TRUE(rows().empty());
  expectIdle();

  model->Script = {0, 0, sim::kFaultRefuse};  // the count well, the page refused
  EXPECT_EQ(import(), kErrReaderRefused);
  EXPECT_TRUE(rows().empty());
  expectIdle();
}

}  // namespace
