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

#include "base/WindowOwner.h"

class QAction;
class QWidget;
class TPgcForm;
class TOptionsForm;
class TDownLoadForm;
class TArchiveForm;
class QIcon;
struct TSavedPortChoice;

namespace quelm {

// The name of the program's desktop entry, which the window system pairs
// with its windows, and of its icon in the hicolor theme.
inline constexpr char kDesktopEntryName[] = "org.quelm.Quelm";
// The program's icon in the sizes a window list shows (16 to 64 pixels), as
// the package installs them; empty when it is not installed.
QIcon ProgramIcon();

// Makes the program's window owner with its first window, the main window,
// built. The windows live until the owner goes, last built first.
using WindowFactory = std::function<std::unique_ptr<WindowOwner>()>;

// The program's window owner: the main window and the log window (which
// owns the link) built, every other window provided and built when first
// opened from the menu or asked for.
std::unique_ptr<WindowOwner> createProgramWindows();

// The main window's PortNumber and BaudRate, as the options window reads
// and writes them.
TSavedPortChoice SavedPortChoiceOf(TPgcForm& main);
// How a menu item shows its window: modally through the prompter, or
// brought to the front beside the others.
enum class Opening { Modal, NonModal };
// The one way a menu item is wired to its window: the item is switched on
// (unless hidden, as the Service menu is below the service level) and shows
// the window `window` gives (building it the first time) as `how` says.
void OpenFromMenu(QAction* item, std::function<QWidget*()> window, Opening how);
// Closing the download window gives the main window back.
void ConnectDownloadClose(TPgcForm& main, TDownLoadForm& download);

// A complete download of the window goes into the dose archive when the
// configuration file's [Dose archive] ArchiveDownloads is on (the default);
// what it did goes to the log, a failure to the error box, and new
// read-outs at or above the notification level to one message.
void ConnectDownloadArchive(TDownLoadForm& download);

// A read-out chosen in the archive window shows in the main window's detail
// view (whose chart may then adopt its window and factor as the read-out's
// dose of record); the control chart joins the window.
void ConnectArchiveWindow(TPgcForm& main, TArchiveForm& archive);
// The options window shows and changes the archive's database, which the
// archive window then opens.
void AddArchiveOptions(WindowOwner& owner, TOptionsForm& options);
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
