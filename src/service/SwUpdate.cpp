#include "service/SwUpdate.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/ButtonBox.h"
#include "base/EnterMovesOn.h"
#include "base/ErrorCodes.h"
#include "base/SharedFileDialogs.h"


TSwUpdate::TSwUpdate(TFrameLink& link, QWidget* parent) : QWidget(parent, Qt::Window), Update_(link) {
  setObjectName(QStringLiteral("SwUpdate"));
  setWindowTitle(QStringLiteral("Software Update"));

  DownloadLabel = new QLabel(QStringLiteral(" "), this);
  DownloadLabel->setObjectName(QStringLiteral("DownloadLabel"));
  DownloadProgressBar = new QProgressBar(this);
  DownloadProgressBar->setObjectName(QStringLiteral("DownloadProgressBar"));
  DownloadProgressBar->setRange(0, 100);
  DownloadProgressBar->setValue(0);
  DownloadProgressBar->setTextVisible(false);
  DownloadProgressBar->setFocusPolicy(Qt::StrongFocus);
  ProgramDownloadButton =
      quelm::makeButton(this, "ProgramDownloadButton", QStringLiteral("Program Download"));
  DownloadAbortButton = quelm::makeButton(this, "DownloadAbortButton", QStringLiteral("Abort"));

  quelm::boxColumn(
      {DownloadLabel, DownloadProgressBar, quelm::boxRow({ProgramDownloadButton, DownloadAbortButton})}, this);
  setFixedSize(kWidth, kHeight);

  Update_.onStatus = [this](const QString& text) { DownloadLabel->setText(text); };
  Update_.onProgress = [this](int position, int maximum) {
    DownloadProgressBar->setRange(0, maximum);
    DownloadProgressBar->setValue(position);
  };
  connect(ProgramDownloadButton, &QPushButton::clicked, this, &TSwUpdate::ProgramDownloadButtonClick);
  connect(DownloadAbortButton, &QPushButton::clicked, this, &TSwUpdate::DownloadAbortButtonClick);
}

TSwUpdate::~TSwUpdate() = default;

void TSwUpdate::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  DownloadProgressBar->setFocus();
}

void TSwUpdate::ProgramDownloadButtonClick() {
  // The update waits with user input let through: a second click must not
  // start another one inside it.
  if (Update_.Running()) return;
  quelm::SharedFileDialog& dialog = quelm::sharedOpenDialog();
  dialog.Filter = quelm::filterFromPipes(kProgramFilter);
  if (!dialog.Execute()) return;
  ProgramDownloadButton->setEnabled(false);
  const int rc = Update_.Download(dialog.FileName);
  // A refused update leaves the line to the job that holds it.
  paintStart();
  if (rc == 0) {
    ReportFailure(Update_.CloseFailure());
    DownloadLabel->setText(QStringLiteral("Download ready"));
  } else {
    DownloadLabel->setText(QString());
    ReportError(rc, QString());
  }
}

void TSwUpdate::SetLineInUse(bool inUse) {
  lineInUse_ = inUse;
  paintStart();
}

void TSwUpdate::paintStart() { ProgramDownloadButton->setEnabled(!lineInUse_ && !Update_.Running()); }

void TSwUpdate::DownloadAbortButtonClick() {
  Update_.Abort();
  hide();
}
