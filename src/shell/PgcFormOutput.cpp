// The main window's output commands: the shown block as a text file, and the
// window's image on the printer.
#include <QAction>
#include <QToolButton>

#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "base/SharedFileDialogs.h"
#include "evaluation/BlockExport.h"
#include "evaluation/DetailModel.h"
#include "evaluation/PrintOut.h"
#include "shell/PgcForm.h"

void TPgcForm::SetUpOutput() {
  connect(FileSaveTextSpeedButton, &QToolButton::clicked, this, &TPgcForm::FileSaveTextSpeedButtonClick);
  connect(DataBlocktoTextFile1, &QAction::triggered, this, &TPgcForm::FileSaveTextSpeedButtonClick);
  connect(Print1, &QAction::triggered, this, &TPgcForm::Print1Click);
  connect(PrintSpeedButton, &QToolButton::clicked, this, &TPgcForm::PrintSpeedButtonClick);
}

void TPgcForm::FileSaveTextSpeedButtonClick() {
  quelm::TraceLine trace(QStringLiteral("TPgcForm::FileSaveTextSpeedButtonClick(): "));
  if (!DataBlock) {
    trace.fail(QStringLiteral("ERR_NULLPTR"));
    ReportError(quelm::kErrNullptr, trace.text());
    return;
  }
  // The block on display, which a list operation may have cleared from the
  // data object since.
  const BlockRecord& record = Detail().BlockShown() ? Detail().ShownRecord() : DataBlock->Record;
  quelm::SharedFileDialog& dialog = quelm::sharedSaveDialog();
  dialog.FileName = quelm::ProposedExportName(uint16_t{record.BlockNumber});
  dialog.Filter = quelm::filterFromPipes(QLatin1String(quelm::kExportFilter));
  if (!dialog.Execute()) {
    trace.fail(QStringLiteral("ERR_CANCEL"));
    return;
  }
  if (const int rc = quelm::ExportBlockText(record, dialog.FileName, DataBlock->FileName)) {
    ReportError(rc, trace.text());
    return;
  }
  trace.ok();
}

void TPgcForm::Print1Click() { quelm::PrintMainWindow(*this); }

void TPgcForm::PrintSpeedButtonClick() { Print1Click(); }
