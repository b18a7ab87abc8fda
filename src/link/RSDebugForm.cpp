#include "link/RSDebugForm.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "base/ButtonBox.h"
#include "base/EnterMovesOn.h"

namespace {

// One "Name:" / value pair per header field, in the order they are shown.
struct FieldRow {
  const char* caption;
  const char* prefix;
  QString quelm::FrameFields::*field;
};
const FieldRow kRows[] = {
    {"Sync:", "Sync", &quelm::FrameFields::sync},
    {"Length:", "Length", &quelm::FrameFields::length},
    {"S/I:", "SI", &quelm::FrameFields::si},
    {"ID:", "ID", &quelm::FrameFields::id},
    {"SeqNum:", "SeqNum", &quelm::FrameFields::seqNum},
    {"CRC:", "CRC", &quelm::FrameFields::crc},
};

}  // namespace

TRSDebugForm::TRSDebugForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("RSDebugForm"));
  setWindowTitle(QStringLiteral("RSDebug"));
  setWindowFlags(Qt::Dialog | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

  auto* grid = new QGridLayout;
  const auto side = [&](const QString& side, const QString& caption, QLabel*& label, QLineEdit*& edit,
                        int row, QLabel** labels) {
    label = new QLabel(caption, this);
    edit = new QLineEdit(this);
    edit->setObjectName(side == QLatin1String("Trm") ? QStringLiteral("TransmitEdit")
                                                     : QStringLiteral("RecieveEdit"));
    edit->setReadOnly(true);
    edit->setMinimumWidth(480);
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1, 1, 12);
    for (int i = 0; i < 6; ++i) {
      auto* name = new QLabel(QString::fromLatin1(kRows[i].caption), this);
      auto* value = new QLabel(this);
      value->setObjectName(side + QString::fromLatin1(kRows[i].prefix) + QStringLiteral("DatLabel"));
      value->setMinimumWidth(40);
      grid->addWidget(name, row + 1, 1 + 2 * i);
      grid->addWidget(value, row + 1, 2 + 2 * i);
      labels[2 * i] = name;
      labels[2 * i + 1] = value;
    }
  };
  QLabel* trm[12];
  QLabel* rcv[12];
  side(QStringLiteral("Trm"), QStringLiteral("Transmit:"), TransmitLabel, TransmitEdit, 0, trm);
  side(QStringLiteral("Rcv"), QStringLiteral("Recieve:"), RecieveLabel, RecieveEdit, 2, rcv);
  QLabel** trmOut[] = {&TrmSyncLabel,   &TrmSyncDatLabel,   &TrmLengthLabel, &TrmLengthDatLabel,
                       &TrmSILabel,     &TrmSIDatLabel,     &TrmIDLabel,     &TrmIDDatLabel,
                       &TrmSeqNumLabel, &TrmSeqNumDatLabel, &TrmCRCLabel,    &TrmCRCDatLabel};
  QLabel** rcvOut[] = {&RcvSyncLabel,   &RcvSyncDatLabel,   &RcvLengthLabel, &RcvLengthDatLabel,
                       &RcvSILabel,     &RcvSIDatLabel,     &RcvIDLabel,     &RcvIDDatLabel,
                       &RcvSeqNumLabel, &RcvSeqNumDatLabel, &RcvCRCLabel,    &RcvCRCDatLabel};
  for (int i = 0; i < 12; ++i) {
    *trmOut[i] = trm[i];
    *rcvOut[i] = rcv[i];
  }

  OKButton = quelm::makeDefaultButton(this, "OKButton", QStringLiteral("&Close"));
  auto* buttons = quelm::buttonRow({OKButton});
  quelm::fixedColumn({grid, buttons}, this);
  move(5, 190);
  connect(OKButton, &QPushButton::clicked, this, &TRSDebugForm::OKButtonClick);
  FormCreate();
}

TRSDebugForm::~TRSDebugForm() = default;

void TRSDebugForm::FormCreate() {}

void TRSDebugForm::OKButtonClick() { hide(); }

void TRSDebugForm::ShowFrames(const quelm::FrameMonitorData& d) {
  // A frame longer than the field is read from its start: sync, length, control.
  TransmitEdit->setText(d.transmitDump);
  TransmitEdit->setCursorPosition(0);
  RecieveEdit->setText(d.receiveDump);
  RecieveEdit->setCursorPosition(0);
  QLabel* trm[] = {TrmSyncDatLabel, TrmLengthDatLabel, TrmSIDatLabel,
                   TrmIDDatLabel,   TrmSeqNumDatLabel, TrmCRCDatLabel};
  QLabel* rcv[] = {RcvSyncDatLabel, RcvLengthDatLabel, RcvSIDatLabel,
                   RcvIDDatLabel,   RcvSeqNumDatLabel, RcvCRCDatLabel};
  for (int i = 0; i < 6; ++i) {
    trm[i]->setText(d.transmit.*(kRows[i].field));
    rcv[i]->setText(d.receive.*(kRows[i].field));
  }
  show();
  repaint();
}
