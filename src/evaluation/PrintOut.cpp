#include "evaluation/PrintOut.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPixmap>
#include <QPrintDialog>
#include <QPrinter>
#include <QWidget>

#include "base/Diag.h"
#include "base/Prompter.h"
#include "evaluation/BlockExport.h"

namespace quelm {

QPrinter& programPrinter() {
  static QPrinter printer(QPrinter::HighResolution);
  return printer;
}

QRect PrintWindowImage(QWidget& window, QPrinter& printer) {
  TraceLine trace(QStringLiteral("TPgcForm::Print1Click(): "));
  const QPixmap image = window.grab();
  // The last printout's image stays at hand for the operator.
  image.save(QStringLiteral("Test.bmp"), "BMP");
  const QRect rect =
      FitPrintRect(QSize(printer.width(), printer.height()), window.size(), printer.resolution());
  if (rect.isEmpty()) {
    trace.fail(QStringLiteral("ERR_PAGESIZE"));
    return {};
  }
  QPainter painter;
  if (!painter.begin(&printer)) {
    trace.fail(QStringLiteral("ERR_PRINTER"));
    return {};
  }
  painter.drawPixmap(rect, image);
  painter.end();
  trace.ok();
  return rect;
}

void PrintMainWindow(QWidget& window) {
  QPrinter& printer = programPrinter();
  QPrintDialog dialog(&printer, &window);
  dialog.setObjectName(QStringLiteral("PrintDialog1"));
  // One page; the range and selection choices change nothing that is printed.
  // Printing into a PDF file is offered too: a machine without a printer
  // can still make the page.
  dialog.setMinMax(1, 1);
  printer.setFromTo(1, 1);
  dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintPageRange |
                    QAbstractPrintDialog::PrintSelection);
  if (prompter().runModal(dialog) != mrOk) return;
  if (!PrintWindowImage(window, printer).isEmpty()) return;
  const QString file = printer.outputFileName();
  showMessage(MessageKind::Error, QCoreApplication::applicationName(),
              file.isEmpty() ? QStringLiteral("The print could not be started (no printer installed?)")
                             : QStringLiteral("The print could not be written to %1").arg(file));
}

}  // namespace quelm
