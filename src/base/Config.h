#pragma once
// The configuration file beside the program: window bounds, serial port
// choice, service level and the post-heating bound. Read when the main window
// is made, written when it goes.

#include <QString>
#include <QStringList>
#include <cstdint>

namespace quelm {

// Only this value in "Safety restrictions"/Professional switches the
// service level on; any other value switches it off and is written back as 0.
inline constexpr int32_t kServiceLevelKey = 1403726958;

struct AppConfig {
  int32_t Left = 10;
  int32_t Top = 10;
  int32_t Height = 652;
  int32_t Width = 771;
  int32_t PortNumber = 1;  // COM1
  uint32_t BaudRate = 9;   // 19200 baud
  bool Professional = false;
  int32_t MaxPostHeating = 50;
};

// The version of the project, one number for the programs and the package.
QString programVersion();

// Where a program keeps its own files. Run from a folder the user may write
// (the build folder, a copy on a stick) it keeps them beside itself, as it
// always has; installed, its folder belongs to the system (and root could
// write even there), so each user gets a configuration of their own.
struct ProgramPlace {
  QString dir;             // the executable's folder
  QString name;            // the configuration file beside it is name + ".INI"
  bool writable = false;   // the user may create files in dir
  bool installed = false;  // dir is the folder the programs are installed into
};
struct UserFolders {
  QString configHome;  // XDG config home ($XDG_CONFIG_HOME or ~/.config)
  QString documents;   // the user's documents folder
};

bool keepsFilesBeside(const ProgramPlace& place);
// dir/name.INI beside the program, else configHome/quelm/quelm.INI.
QString configFileFor(const ProgramPlace& place, const UserFolders& user);
// Where data files go unless the operator picks another folder: the
// program's folder beside it, else the documents folder; with a trailing '/'.
QString storagePathFor(const ProgramPlace& place, const UserFolders& user);

// This process. name: the configuration's name beside the program; empty
// takes the executable's own name (build/quelm gives build/quelm.INI).
ProgramPlace thisProgram(const QString& name = QString());
UserFolders thisUsersFolders();

// The configuration file of this program (see configFileFor).
QString defaultConfigFilePath(const QString& name = QString());
// The path in use: the default unless one was set (tests set their own).
QString configFilePath();
// An empty path restores the default.
void setConfigFilePath(const QString& path);
// The storage path of this program (see storagePathFor).
QString storagePath();

// On a start: a configuration in the user's folder that does not exist yet
// is created with the defaults (its folder private to the user), so that
// the user finds it to edit; the storage folder is made when missing. A
// configuration beside the program is left to the first close, as always.
// Returns what could not be made, one message each ("Unable to create the
// folder <path>", "Unable to write to <path>"), for the program to show;
// empty when everything is in place.
QStringList prepareProgramFiles(const ProgramPlace& place, const UserFolders& user);

// Reads every key over the values already in config, so that a missing file
// or key keeps them. Returns 0, or kErrIniFile when the file exists but
// cannot be read (config then keeps its values).
int ReadConfig(const QString& path, AppConfig& config);

// Empty when the file at path can be used or does not exist; otherwise one
// line naming it and saying why its settings do not apply (a pipe, a
// folder, a file over 1 MiB, one that cannot be read).
QString ConfigFileProblem(const QString& path);

// Writes the keys into the file, keeping every other section and key.
// False when it could not be written, which the caller reports
// (reportUnableToWrite); the file keeps its previous content. A file that
// exists but cannot be read is not written at all: what it holds could not
// be kept.
bool WriteConfig(const QString& path, const AppConfig& config);

}  // namespace quelm
