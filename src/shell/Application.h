#pragma once
// Program start-up: the application object's title and settings, the
// windows in their fixed order, the event loop, and the last line of
// defence against exceptions.

#include <QApplication>
#include <QWidget>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QWidget;
class TPgcForm;
class TOptionsForm;
class TDownLoadForm;
class TArchiveForm;
struct TSavedPortChoice;

namespace quelm {

using ProgramWindows = std::vector<std::unique_ptr<QWidget>>;
// Creates every window of the program, main window first. The windows live
// until the program ends and are destroyed in reverse order.
using WindowFactory = std::function<ProgramWindows()>;

// The program's windows in their order of creation.
ProgramWindows createProgramWindows();

// The main window's PortNumber and BaudRate, as the options window reads
// and writes them.
TSavedPortChoice SavedPortChoiceOf(TPgcForm& main);
// How a menu item shows its window: modally through the prompter, or
// brought to the front beside the others.
enum class Opening { Modal, NonModal };
// The one way a menu item is wired to its window, once the window exists:
// the item is switched on (unless hidden, as the Service menu is below the
// service level) and shows the window as `how` says.
void OpenFromMenu(QAction* item, QWidget& window, Opening how);
// Closing the download window gives the main window back.
void ConnectDownloadClose(TPgcForm& main, TDownLoadForm& download);

// A complete download of the window goes into the dose archive when the
// configuration file's [Dose archive] ArchiveDownloads is on (the default);
// what it did goes to the log, a failure to the error box, and new
// read-outs at or above the notification level to one message.
void ConnectDownloadArchive(TDownLoadForm& download);

// The download window's button shows the archive window; a read-out chosen there shows in the main window's
// detail view, whose chart may then adopt its window and factor as the read-out's dose of record in the
// archive window; the options window shows and changes the database, which the archive window then opens.
void ConnectArchiveWindow(TPgcForm& main, TArchiveForm& archive, TDownLoadForm& download,
                          TOptionsForm& options);
// The control chart of the archive's control dosimeters, in the archive
// window below its read-outs, over the database the window uses.
void AddControlChart(TArchiveForm& archive);

// Runs the program: title "Quelm", the build diagnostic mask, the windows
// from the factory, the event loop until the main window closes. An
// exception escaping the creation or the loop is shown in the exception box;
// the result is 0 in every case.
int RunProgram(QApplication& app, const WindowFactory& factory);

// The standard exception box: an error box with the exception's text.
void ShowException(const std::exception& e);
void ShowUnknownException();

// The application object of the program. Exceptions thrown by an event
// handler are shown in the exception box and the program goes on, instead
// of unwinding through the toolkit.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// Calls deliver() and turns an exception into the exception box; false then.
bool notifyGuarded(const std::function<bool()>& deliver);

}  // namespace quelm
