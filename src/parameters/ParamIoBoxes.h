#pragma once
// The "File I/O" and "COM I/O" boxes both parameter windows have: Load and
// Save the table's file, Read and Write the reader's table.

#include <QObject>
#include <QPushButton>
#include <QString>

class QGroupBox;
class QWidget;

namespace quelm {

struct ParamIoBoxes {
  QGroupBox* FileGroupBox;  // "File I/O"
  QPushButton* ReadFileButton;
  QPushButton* WriteFileButton;
  QGroupBox* COMGroupBox;  // "COM I/O"
  QPushButton* ReadCOMButton;
  QPushButton* WriteCOMButton;
};

// Makes the boxes in the window with its captions of Load, Save, Read and
// Write.
void buildParamIoBoxes(QWidget* window, ParamIoBoxes* boxes, const QString& load, const QString& save,
                       const QString& read, const QString& write);

// Each button clicks the window's handler of its name.
template <typename Form>
void connectParamIoBoxes(Form* form) {
  QObject::connect(form->ReadCOMButton, &QPushButton::clicked, form, &Form::ReadCOMButtonClick);
  QObject::connect(form->WriteCOMButton, &QPushButton::clicked, form, &Form::WriteCOMButtonClick);
  QObject::connect(form->ReadFileButton, &QPushButton::clicked, form, &Form::ReadFileButtonClick);
  QObject::connect(form->WriteFileButton, &QPushButton::clicked, form, &Form::WriteFileButtonClick);
}

}  // namespace quelm
