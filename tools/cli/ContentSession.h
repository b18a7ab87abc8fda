#pragma once
// The main window's models for one command: the data object, the detail
// model and the content list over it, importing from a data file named on
// the command line or from the reader ("--port P [--baud B]"). The commands
// print the same rows and captions the window paints.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Cli.h"
#include "evaluation/ContentModel.h"
#include "evaluation/DetailModel.h"
#include "measurement/BlockRecord.h"
#include "measurement/NurvoDataBlock.h"

namespace quelm::cli {

class ContentSession {
 public:
  ContentSession();
  ~ContentSession();
  ContentSession(const ContentSession&) = delete;
  ContentSession& operator=(const ContentSession&) = delete;

  // The source from the command line: the reader when readerAllowed and
  // "--port" is given (with "--baud"), otherwise the data file at the front
  // of `words` (the positional words, which lose it). False after printing
  // a usage error into *exitCode.
  bool TakeReader(Args& args, CliIO& io, const QString& command, bool readerAllowed, int* exitCode);
  bool TakeFile(QStringList& words, CliIO& io, const QString& command, int* exitCode);
  // TakeFile, then the block numbers the rest of `words` names, at least
  // one or, with justOne, one (`needed` says so otherwise), then Import.
  // False after printing a usage error or the import's failure into
  // *exitCode. The command ends with Finish.
  bool TakeBlocks(Args& args, QStringList& words, CliIO& io, const QString& command, bool justOne,
                  const QString& needed, std::vector<uint32_t>* numbers, int* exitCode);

  // Imports the source as the window's import commands do: the first page
  // and the newest block. Returns the exit status; a failure is printed.
  // A data file that ends in a cut-off record is imported without it, as
  // the window lists it, and its whole records are served; the command
  // fails after them through Finish.
  int Import(CliIO& io);
  // Shows one block by its number, or the record a row was listed from
  // (ContentModel::ShowBlock); a failure is printed with the block.
  int Show(CliIO& io, uint32_t number, int64_t record = kNoRecord);
  // The command's exit status once it served what it could: a data file
  // that ends in a cut-off record fails, with the cut named once.
  int Finish(CliIO& io, int result);

  const QString& SourceName() const { return sourceName_; }
  ContentModel& Content() { return content_; }
  DetailModel& Detail() { return detail_; }

 private:
  std::unique_ptr<TNurvoDataBlock> data_;
  DetailModel detail_;
  ContentModel content_;
  std::unique_ptr<ReaderSession> reader_;
  QString sourceName_;  // the data file, or the port as given
  QString cutOff_;      // the imported file's cut, until it is named
};

// The exit status of a command that served the whole records of `source`:
// with a cut (DataFileSource::LeftOut), -214 and the cut are printed and
// it fails (an earlier failure keeps its status); otherwise `result`.
int EndAfterCut(CliIO& io, const QString& source, const QString& cutOff, int result);

// Every whole record of the data file `name`, oldest first, each handed to
// `record`. For a file that ends in a cut-off record `*cut` gets its note
// for EndAfterCut (empty otherwise): the whole records are served all the
// same. A file that cannot be opened, or a whole record that cannot be
// read, is reported and returned as the command's failure.
int ReadWholeRecords(CliIO& io, const QString& name, const std::function<void(const BlockRecord&)>& record,
                     QString* cut);

// Block numbers 0..2047 from words; nothing after a usage problem
// (recorded in args).
std::vector<uint32_t> BlockNumbers(Args& args, const QStringList& words);

}  // namespace quelm::cli
