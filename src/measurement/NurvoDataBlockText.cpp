// The text-list operations of TNurvoDataBlock: the content list row and the
// detailed value lines, appended to their files one operation at a time, and
// the block export, written whole.
#include "base/DataFiles.h"
#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "base/Prompter.h"
#include "measurement/NurvoDataBlock.h"
#include "measurement/TextList.h"

namespace {

// These operations trace a failure as the bare token, without a prefix.
void traceBareToken(const QString& token) {
  if (DiagFlags & quelm::kDiagBox) quelm::showMessage(quelm::MessageKind::Plain, QString(), token);
  LogTrace(token);
}

// Opens name (truncate or append), writes text and closes it. A text that
// does not reach the disk is a failure, even when the close succeeds.
int writeTextFile(const QString& name, const QByteArray& text, bool truncate, quelm::TraceLine* trace) {
  const auto failed = [trace](const char* token, int code) {
    if (trace)
      trace->fail(QLatin1String(token));
    else
      traceBareToken(QLatin1String(token));
    return code;
  };
  const int rc = quelm::writeDataFile(name, quelm::crlfText(text),
                                      truncate ? quelm::WriteMode::Replace : quelm::WriteMode::Append);
  if (rc == quelm::kErrFileOpen) return failed("ERR_FOPEN", rc);
  if (rc == quelm::kErrFileWrite) return failed("ERR_FWRITE", rc);
  if (rc != 0) return failed("ERR_FCLOSE", rc);
  return 0;
}

}  // namespace

int TNurvoDataBlock::StartTextFile(const QString& name, const QByteArray& title, int columnHeader) {
  const QByteArray text = quelm::titleBlockText(name, title, columnHeader == 1, quelm::textFileNow());
  // Failures are told by the result alone.
  return quelm::writeDataFile(name, quelm::crlfText(text), quelm::WriteMode::Replace);
}

int TNurvoDataBlock::WriteListColumnHeader(std::FILE* file) {
  return file && quelm::writeText(file, quelm::columnHeaderText()) ? 0 : quelm::kErrFileWrite;
}

int TNurvoDataBlock::WriteFileHeader(const QString& name, int columnHeader) {
  quelm::TraceLine trace(QStringLiteral("TNurvoDataBlock::WriteFileHeader(): filename=") + name +
                         QStringLiteral(": "));
  QByteArray text = columnHeader == 1 ? quelm::columnHeaderText() : QByteArray();
  text += quelm::listRowText(Record);
  if (const int rc = writeTextFile(name, text, false, &trace)) return rc;
  trace.ok();
  return 0;
}

int TNurvoDataBlock::WriteBlockNumberLine(const QString& name) {
  return writeTextFile(name, quelm::blockNumberLineText(Record), false, nullptr);
}

int TNurvoDataBlock::WriteValuesList(const QString& name) {
  return writeTextFile(name, quelm::valueLinesList(Record, Values, Ranges), false, nullptr);
}

int TNurvoDataBlock::WriteValuesCsv(const QString& name) {
  return writeTextFile(name, quelm::valueLinesCsv(Record, Values), false, nullptr);
}

int TNurvoDataBlock::WriteBlockText(const QString& name) {
  // Written in one go: an export that cannot be written whole leaves an
  // earlier file under the name as it was, never a title alone.
  QByteArray text = quelm::titleBlockText(name, quelm::kExportTitle, true, quelm::textFileNow());
  text += quelm::listRowText(Record);
  text += quelm::valueLinesList(Record, Values, Ranges);
  quelm::TraceLine trace(QStringLiteral("TNurvoDataBlock::WriteBlockText(): filename=") + name +
                         QStringLiteral(": "));
  if (const int rc = writeTextFile(name, text, true, &trace)) return rc;
  trace.ok();
  return 0;
}
