#pragma once
// The log window: collects the trace lines of the diagnostic log while
// DiagFlags bit 0x08 is set. It also owns the program's serial link, which
// lives in src/link; this class only turns the log controls into actions.

#include <QWidget>

#include "link/FrameLink.h"

class QPlainTextEdit;
class QPushButton;
class QFrame;

class TIoForm : public QWidget {
  Q_OBJECT

 public:
  explicit TIoForm(QWidget* parent = nullptr);
  ~TIoForm() override;

  QFrame* ButtonPanel;
  QPushButton* OKButton;
  QPushButton* ClearButton;
  QPushButton* CopyToClipboardButton;
  QPushButton* SaveAsButton;
  QPlainTextEdit* LogRichEdit;

  // The program's serial link: the port COMPortDrv, the reply timer and the
  // frame protocol. Every exchange with the reader goes through it, as a
  // quelm::ReaderCommand over the program's command channel.
  TFrameLink Link;

  // Appends one line to the log (the LogTrace sink).
  void AppendLine(const QString& line);

  void FormResize();
  void OKButtonClick();
  void ClearButtonClick();
  void CopyToClipboardButtonClick();
  void SaveAsButtonClick();

  static constexpr int kLeft = 5;
  static constexpr int kTop = 190;
  // The log takes the window's height less this much.
  static constexpr int kHeightReserve = 55;

 protected:
  void resizeEvent(QResizeEvent* event) override;
};

