#pragma once
// The configuration file beside the program: window bounds, serial port
// choice, service level and the post-heating bound. Read when the main window
// is made, written when it goes.

#include <QString>
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

// The program file's path with its extension replaced by ".INI"
// (build/quelm gives build/quelm.INI).
QString defaultConfigFilePath();
// The path in use: the default unless one was set (tests set their own).
QString configFilePath();
// An empty path restores the default.
void setConfigFilePath(const QString& path);

// Reads every key over the values already in config, so that a missing file
// or key keeps them. Returns 0, or kErrIniFile when the file exists but
// cannot be read (config then keeps its values).
int ReadConfig(const QString& path, AppConfig& config);

// Empty when the file at path can be used or does not exist; otherwise one
// line naming it and saying why its settings do not apply (a pipe, a
// folder, a file over 1 MiB, one that cannot be read).
QString ConfigFileProblem(const QString& path);

// Writes the keys into the file, keeping every other section and key. On
// failure shows "Unable to write to <path>" and returns false; the file
// keeps its previous content. A file that exists but cannot be read is not
// written at all: what it holds could not be kept.
bool WriteConfig(const QString& path, const AppConfig& config);

}  // namespace quelm
