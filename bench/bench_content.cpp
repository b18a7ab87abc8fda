// Opening a full data file (2048 blocks) in the content list up to the first
// block shown. The operator waits for this on every import; it must stay
// well under 100 ms. quelm_bench times the core of it (count the file, fill
// the first page with its row texts, read and evaluate the newest block);
// quelm_bench_widgets times the whole import of the main window, detail view
// and repaint included.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <cstring>

#include "evaluation/ContentList.h"
#include "evaluation/ContentSource.h"
#include "evaluation/DoseChain.h"
#include "measurement/NurvoDataBlock.h"
#include "sample-data/SampleData.h"

namespace {

struct ContentFile {
  QTemporaryDir dir;
  QString path;
  ContentFile() {
    path = dir.filePath(QStringLiteral("content.dat"));
    if (WriteSampleDataFile(path, {2048, 2006, 1234}) != 0) std::abort();
  }
};

ContentFile& contentFile() {
  static ContentFile file;
  return file;
}

}  // namespace

#ifndef QUELM_BENCH_WIDGETS
namespace {

void BM_OpenDataFileToFirstBlock(benchmark::State& state) {
  TNurvoDataBlock data(nullptr);
  SearchRequest request;
  std::memset(&request, 0, sizeof request);
  for (auto _ : state) {
    quelm::DataFileSource source(contentFile().path);
    if (source.Skim(data) != 0) state.SkipWithError("skim failed");
    request.StartBlock = static_cast<uint16_t>(data.LastBlock);
    int n = 0;
    source.SearchPage(data, request, 0, 0, &n);
    if (n != kPageRows) state.SkipWithError("short first page");
    for (int i = 0; i < n; ++i) benchmark::DoNotOptimize(quelm::ContentRowTexts(data.Summaries[i]));
    if (source.ReadBlock(data, data.LastBlock) != 0) state.SkipWithError("read failed");
    data.DecodeChannels();
    benchmark::DoNotOptimize(
        EvaluateDose(data.Record, data.Record.EVASTART, data.Record.EVALEN, data.Record.EVANORM));
  }
}
BENCHMARK(BM_OpenDataFileToFirstBlock)->Unit(benchmark::kMillisecond);

}  // namespace
#else
#include <QApplication>

#include "base/Config.h"
#include "shell/PgcForm.h"
#include "base/Prompter.h"
#include "base/StringGrid.h"

namespace {

// Answers every open dialog with the benchmark's file.
class FilePrompter final : public quelm::Prompter {
 public:
  explicit FilePrompter(QString path) : path_(std::move(path)) { quelm::setPrompter(this); }
  ~FilePrompter() override { quelm::setPrompter(nullptr); }
  quelm::StandardButton message(const quelm::MessageRequest&) override {
    ++messages;
    return quelm::Ok;
  }
  std::optional<QString> openFile(const quelm::FileRequest&) override { return path_; }
  std::optional<QString> saveFile(const quelm::FileRequest&) override { return std::nullopt; }
  int runModal(QObject&) override { return quelm::mrCancel; }
  int messages = 0;

 private:
  QString path_;
};

void BM_ImportDataFileWindow(benchmark::State& state) {
  QTemporaryDir config;
  quelm::setConfigFilePath(config.filePath(QStringLiteral("quelm.INI")));
  FilePrompter prompter(contentFile().path);
  TPgcForm form;
  form.resize(1000, 760);
  form.show();
  QApplication::processEvents();
  for (auto _ : state) {
    form.FileOpenSpeedButtonClick();
    form.repaint();
  }
  if (prompter.messages != 0 || form.BlockStringGrid->cell(0, 20).isEmpty())
    state.SkipWithError("the import did not fill the first page");
}
BENCHMARK(BM_ImportDataFileWindow)->Unit(benchmark::kMillisecond);

}  // namespace
#endif
