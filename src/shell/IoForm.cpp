#include "shell/IoForm.h"

#include "link/LinkWindows.h"

#include <QClipboard>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>

#include "base/Diag.h"
#include "base/Prompter.h"
#include "base/SharedFileDialogs.h"


namespace {
constexpr int kButtonPanelHeight = 33;

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QLatin1String(name));
  return b;
}
}  // namespace

TIoForm::TIoForm(QWidget* parent) : QWidget(parent, Qt::Window), Link(this) {
  setObjectName(QStringLiteral("IoForm"));
  setWindowTitle(QStringLiteral("LogInfo"));

  ButtonPanel = new QFrame(this);
  ButtonPanel->setObjectName(QStringLiteral("ButtonPanel"));
  ButtonPanel->setFrameShape(QFrame::StyledPanel);
  OKButton = makeButton(ButtonPanel, "OKButton", QStringLiteral("&Close"));
  ClearButton = makeButton(ButtonPanel, "ClearButton", QStringLiteral("&Clear"));
  CopyToClipboardButton = makeButton(ButtonPanel, "CopyToClipboardButton", QStringLiteral("Clip&board"));
  SaveAsButton = makeButton(ButtonPanel, "SaveAsButton", QStringLiteral("Save&As"));
  auto* row = new QHBoxLayout(ButtonPanel);
  row->setContentsMargins(4, 3, 4, 3);
  for (QPushButton* b : {OKButton, ClearButton, CopyToClipboardButton, SaveAsButton}) row->addWidget(b);
  row->addStretch();

  LogRichEdit = new QPlainTextEdit(this);
  LogRichEdit->setObjectName(QStringLiteral("LogRichEdit"));
  LogRichEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
  LogRichEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  LogRichEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  connect(OKButton, &QPushButton::clicked, this, &TIoForm::OKButtonClick);
  connect(ClearButton, &QPushButton::clicked, this, &TIoForm::ClearButtonClick);
  connect(CopyToClipboardButton, &QPushButton::clicked, this, &TIoForm::CopyToClipboardButtonClick);
  connect(SaveAsButton, &QPushButton::clicked, this, &TIoForm::SaveAsButtonClick);

  // Installed before the first trace so that the window logs its own creation.
  quelm::setLogSink([this](const QString& line) { AppendLine(line); });

  quelm::TraceLine trace(QStringLiteral("TIoForm::TIoForm(): "));
  move(kLeft, kTop);
  resize(600, 400);
  FormResize();
  ConnectLinkWindows(Link);
  trace.ok();
}

TIoForm::~TIoForm() {
  DisconnectLinkWindows(Link);
  quelm::setLogSink(nullptr);
}

void TIoForm::AppendLine(const QString& line) { LogRichEdit->appendPlainText(line); }

void TIoForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FormResize();
}

void TIoForm::FormResize() {
  quelm::TraceLine trace(QStringLiteral("TIoForm::FormResize(): "));
  // The rule counts the whole window, frame included; the log never reaches
  // below the client area, whatever frame the window system draws.
  const int windowHeight = frameGeometry().height();
  const int below = height() - kButtonPanelHeight;
  ButtonPanel->setGeometry(0, 0, width(), kButtonPanelHeight);
  LogRichEdit->setGeometry(0, kButtonPanelHeight, width(),
                           qMax(0, qMin(windowHeight - kHeightReserve, below)));
  trace.ok();
}

void TIoForm::OKButtonClick() {
  quelm::TraceLine trace(QStringLiteral("TIoForm::OKButtonClick(): "));
  hide();
  trace.ok();
}

void TIoForm::ClearButtonClick() {
  quelm::TraceLine trace(QStringLiteral("TIoForm::ClearButtonClick(): "));
  LogRichEdit->clear();
  trace.ok();
}

void TIoForm::CopyToClipboardButtonClick() {
  quelm::TraceLine trace(QStringLiteral("TIoForm::CopyToClipboardButtonClick(): "));
  LogRichEdit->selectAll();
  LogRichEdit->copy();
  trace.ok();
}

void TIoForm::SaveAsButtonClick() {
  quelm::TraceLine trace(QStringLiteral("TIoForm::SaveAsButtonClick(): "));
  quelm::SharedFileDialog& dialog = quelm::sharedSaveDialog();
  if (!dialog.Execute()) {
    trace.fail(QStringLiteral("ERR_CANCEL"));
    return;
  }
  // Written beside the target and renamed over it at the end, so a failed
  // save leaves an existing file as it was.
  QSaveFile file(dialog.FileName);
  file.setDirectWriteFallback(true);
  // Unbuffered: a buffered save file can take a short write (disk full) for
  // a complete one.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    quelm::showMessage(
        quelm::MessageKind::Error, QStringLiteral("Error"),
        QStringLiteral("Cannot create file \"%1\". %2").arg(dialog.FileName, file.errorString()));
    return;
  }
  QString text = LogRichEdit->toPlainText();
  if (!text.isEmpty()) text += QLatin1Char('\n');
  const QByteArray bytes = text.toUtf8();
  if (file.write(bytes) != bytes.size() || file.error() != QFileDevice::NoError || !file.commit()) {
    quelm::showMessage(
        quelm::MessageKind::Error, QStringLiteral("Error"),
        QStringLiteral("Cannot write file \"%1\". %2").arg(dialog.FileName, file.errorString()));
    return;
  }
  trace.ok();
}
