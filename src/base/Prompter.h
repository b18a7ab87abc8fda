#pragma once
// The one seam for every modal interaction: message boxes, confirmations,
// file dialogs and the results of modal windows. The program installs a
// Qt-backed implementation; tests install a scripted one so that nothing
// ever blocks on a dialog.

#include <QString>
#include <QStringList>
#include <optional>

class QObject;

namespace quelm {

enum class MessageKind { Plain, Information, Warning, Error, Confirmation };

// Button set and answer of a message box (one bit per button).
enum StandardButton : unsigned {
  NoButton = 0x00,
  Ok = 0x01,
  Cancel = 0x02,
  Yes = 0x04,
  No = 0x08,
  Abort = 0x10,
  Retry = 0x20,
  Ignore = 0x40,
};

// Modal results of windows, numbered as the windows' callers test them.
enum ModalResult : int {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,
  mrAbort = 3,
  mrRetry = 4,
  mrIgnore = 5,
  mrYes = 6,
  mrNo = 7,
};

struct MessageRequest {
  MessageKind kind = MessageKind::Plain;
  QString title;
  QString text;
  unsigned buttons = Ok;
  StandardButton defaultButton = NoButton;
  // The result code a box of the error reporter shows; 0 for other boxes.
  // A front end without boxes (the command line) prints it with the text.
  int code = 0;
  // A line shown after the text: what the code's message cannot know
  // (which device, what to do about it). Empty for most boxes.
  QString note = {};
};

struct FileRequest {
  QString title;
  QString filter;  // Qt filter syntax, e.g. "Data files (*.dat);;All files (*)"
  QString directory;
  QString fileName;
  QString defaultSuffix;
  bool overwritePrompt = true;  // save dialogs only
};

class Prompter {
 public:
  virtual ~Prompter() = default;
  // Shows a modal message box and returns the button that closed it.
  virtual StandardButton message(const MessageRequest& request) = 0;
  // File dialogs: the chosen path, or nothing when the user cancelled.
  virtual std::optional<QString> openFile(const FileRequest& request) = 0;
  virtual std::optional<QString> saveFile(const FileRequest& request) = 0;
  // An open dialog that takes several files; none when cancelled. Front
  // ends without such a dialog offer the one-file dialog.
  virtual QStringList openFiles(const FileRequest& request) {
    const std::optional<QString> file = openFile(request);
    return file ? QStringList{*file} : QStringList{};
  }
  // Shows a window modally (a QDialog in the real program) and returns its
  // modal result. Scripted implementations identify the window by objectName.
  virtual int runModal(QObject& window) = 0;
};

// The installed prompter. Without one, a console fallback answers: it prints
// messages to stderr, takes each box's default button (or the first button)
// and cancels every file dialog and modal window.
Prompter& prompter();
// Installs p (not owned); nullptr restores the console fallback.
void setPrompter(Prompter* p);

// Convenience: a box with the given kind and buttons.
StandardButton showMessage(MessageKind kind, const QString& title, const QString& text, unsigned buttons = Ok,
                           StandardButton defaultButton = NoButton);

}  // namespace quelm
