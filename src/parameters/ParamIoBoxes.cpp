#include "parameters/ParamIoBoxes.h"

#include "base/ButtonBox.h"

namespace quelm {

void buildParamIoBoxes(QWidget* window, ParamIoBoxes* boxes, const QString& load, const QString& save,
                       const QString& read, const QString& write) {
  boxes->FileGroupBox = buttonBox(
      window, QStringLiteral("File I/O"),
      {{&boxes->ReadFileButton, "ReadFileButton", load}, {&boxes->WriteFileButton, "WriteFileButton", save}});
  boxes->COMGroupBox = buttonBox(
      window, QStringLiteral("COM I/O"),
      {{&boxes->ReadCOMButton, "ReadCOMButton", read}, {&boxes->WriteCOMButton, "WriteCOMButton", write}});
}

}  // namespace quelm
