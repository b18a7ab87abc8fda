#pragma once
// The program's two shared file dialogs. Every window that opens or saves a
// file uses one of them, so each keeps the filter, directory and file name
// it was last given: a later window sees what an earlier one set, and the
// file last chosen stays available (the search re-counts that file).

#include <QString>

namespace quelm {

class SharedFileDialog {
 public:
  enum class Mode { Open, Save };
  explicit SharedFileDialog(Mode mode) : mode_(mode) {}

  QString Title;
  QString Filter;      // Qt filter syntax; see filterFromPipes for "Desc|*.x|..." texts
  QString InitialDir;  // empty: the directory of FileName, else the dialog's choice
  // Proposed before Execute (only when it fits the first filter), the
  // chosen path after it.
  QString FileName;
  QString DefaultExt;  // without the dot
  bool OverwritePrompt = true;

  // Runs the dialog through the prompter. True when the user chose a file;
  // FileName then holds it. A cancelled dialog leaves every member as it was.
  bool Execute();

  Mode mode() const { return mode_; }

 private:
  Mode mode_;
};

SharedFileDialog& sharedOpenDialog();
SharedFileDialog& sharedSaveDialog();

// Converts a filter written as description|patterns pairs
// ("Quelm data files (*.dat)|*.DAT|All files (*.*)|*.*") into Qt's syntax
// ("Quelm data files (*.DAT);;All files (*)"). A pattern "*.*" means every
// file, as it did where these filters come from.
QString filterFromPipes(const QString& pipes);

}  // namespace quelm
