#include "base/QtPrompter.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace quelm {
namespace {

QMessageBox::Icon iconOf(MessageKind kind) {
  switch (kind) {
    case MessageKind::Information:
      return QMessageBox::Information;
    case MessageKind::Warning:
      return QMessageBox::Warning;
    case MessageKind::Error:
      return QMessageBox::Critical;
    case MessageKind::Confirmation:
      return QMessageBox::Question;
    case MessageKind::Plain:
      break;
  }
  return QMessageBox::NoIcon;
}

// A dialog wants the normal pointer, also in the middle of an operation that
// shows the busy one and goes on afterwards.
class NormalPointer {
 public:
  NormalPointer() : pushed_(QApplication::overrideCursor() != nullptr) {
    if (pushed_) QApplication::setOverrideCursor(Qt::ArrowCursor);
  }
  ~NormalPointer() {
    if (pushed_) QApplication::restoreOverrideCursor();
  }
  NormalPointer(const NormalPointer&) = delete;
  NormalPointer& operator=(const NormalPointer&) = delete;

 private:
  bool pushed_;
};

struct ButtonPair {
  StandardButton ours;
  QMessageBox::StandardButton qt;
};

constexpr ButtonPair kButtons[] = {
    {Ok, QMessageBox::Ok},         {Cancel, QMessageBox::Cancel}, {Yes, QMessageBox::Yes},
    {No, QMessageBox::No},         {Abort, QMessageBox::Abort},   {Retry, QMessageBox::Retry},
    {Ignore, QMessageBox::Ignore},
};

QStringList runFileDialog(const FileRequest& r, QFileDialog::AcceptMode mode, bool several = false) {
  const NormalPointer pointer;
  QFileDialog dialog(QApplication::activeWindow(), r.title, r.directory, r.filter);
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                     : several                       ? QFileDialog::ExistingFiles
                                                     : QFileDialog::ExistingFile);
  // Files of the reader's world come with upper- and lower-case extensions.
  dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
  if (!r.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(r.defaultSuffix);
  if (mode == QFileDialog::AcceptSave && !r.overwritePrompt)
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (!r.fileName.isEmpty()) dialog.selectFile(r.fileName);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

std::optional<QString> firstOf(const QStringList& files) {
  if (files.isEmpty()) return std::nullopt;
  return files.front();
}

}  // namespace

StandardButton QtPrompter::message(const MessageRequest& r) {
  const NormalPointer pointer;
  QMessageBox box(QApplication::activeWindow());
  box.setIcon(iconOf(r.kind));
  box.setWindowTitle(r.title.isEmpty() ? QApplication::applicationName() : r.title);
  box.setText(r.text);
  if (!r.note.isEmpty()) box.setInformativeText(r.note);
  QMessageBox::StandardButtons buttons;
  for (const ButtonPair& b : kButtons)
    if (r.buttons & b.ours) buttons |= b.qt;
  if (!buttons) buttons = QMessageBox::Ok;
  box.setStandardButtons(buttons);
  for (const ButtonPair& b : kButtons)
    if (r.defaultButton == b.ours && (r.buttons & b.ours)) box.setDefaultButton(b.qt);
  const int answer = box.exec();
  for (const ButtonPair& b : kButtons)
    if (answer == b.qt) return b.ours;
  // Closed with Escape or the close box: the box's escape button, which Qt
  // picks from Cancel/No/the only button.
  if (r.buttons & Cancel) return Cancel;
  if (r.buttons & No) return No;
  return Ok;
}

std::optional<QString> QtPrompter::openFile(const FileRequest& r) {
  return firstOf(runFileDialog(r, QFileDialog::AcceptOpen));
}

QStringList QtPrompter::openFiles(const FileRequest& r) {
  return runFileDialog(r, QFileDialog::AcceptOpen, true);
}

std::optional<QString> QtPrompter::saveFile(const FileRequest& r) {
  return firstOf(runFileDialog(r, QFileDialog::AcceptSave));
}

int QtPrompter::runModal(QObject& window) {
  auto* dialog = qobject_cast<QDialog*>(&window);
  if (!dialog) return mrCancel;
  const NormalPointer pointer;
  const int result = dialog->exec();
  return result == QDialog::Rejected ? mrCancel : result;
}

}  // namespace quelm
