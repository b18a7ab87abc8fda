#pragma once
// Profile (INI) files with the semantics that configuration and parameter
// files written by earlier versions of the program rely on:
//  - section and key names compare case-insensitively, the first match wins;
//  - a missing key or an unparsable value yields the default;
//  - integers are decimal, or hexadecimal with a "0x" prefix;
//  - values lose surrounding blanks and one pair of surrounding quotes;
//    a text default loses trailing blanks; values hold at most 2047 characters;
//  - writing replaces a key in place, adds missing keys and sections and keeps
//    every other line; files are written with CR LF and read with CR LF or LF;
//  - reals are written as the single widened to double with up to 15
//    significant digits, with the user's decimal separator.
// The file is read once when the object is made and written by UpdateFile().

#include <QString>
#include <QStringList>
#include <vector>

namespace quelm {

class IniFile {
 public:
  enum class LoadStatus { Loaded, Missing, Unreadable };
  // How the file's bytes are text. Parameter files hold one byte per
  // character (Latin-1), so that a field of one byte is one character in the
  // file; the configuration file is UTF-8 where it is valid UTF-8.
  enum class Encoding { Utf8OrLatin1, Latin1 };

  explicit IniFile(const QString& path, Encoding encoding = Encoding::Utf8OrLatin1);

  const QString& path() const { return path_; }
  LoadStatus status() const { return status_; }

  QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
  int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
  // A decimal point whatever the user's settings, or a comma in a text
  // without a point; the default when missing or not a number.
  double ReadFloat(const QString& section, const QString& key, double defaultValue) const;
  bool SectionExists(const QString& section) const;
  bool ValueExists(const QString& section, const QString& key) const;
  // Key names of a section in file order.
  QStringList ReadSection(const QString& section) const;

  void WriteString(const QString& section, const QString& key, const QString& value);
  void WriteInteger(const QString& section, const QString& key, int value);
  void WriteFloat(const QString& section, const QString& key, float value);

  // Writes the file if anything changed: beside the old file and renamed
  // over it, or, where no file can be made beside it, into the file itself.
  // On failure the file on disk keeps its previous content, the system's
  // reason is noted (noteFileFailure) and false is returned;
  // nothing is shown: the caller reports it (reportUnableToWrite).
  bool UpdateFile();

  static constexpr int kMaxValueLength = 2047;
  // Larger files, and anything but a plain file, are not read (Unreadable).
  static constexpr qsizetype kMaxFileSize = 1 << 20;

 private:
  struct Line {
    QString text;
  };
  int findSection(const QString& section) const;  // index of the header line or -1
  int findKey(int sectionLine, const QString& key) const;
  static bool isSectionHeader(const QString& line, QString* name);
  static bool splitKey(const QString& line, QString* key, QString* value);

  QString path_;
  LoadStatus status_ = LoadStatus::Missing;
  bool latin1_ = false;  // write back in the encoding the file was read in
  bool dirty_ = false;
  std::vector<QString> lines_;
};

// Parses an integer the way profile values are parsed: optional sign,
// decimal digits or "0x" and hex digits, surrounding blanks ignored.
bool ParseProfileInteger(const QString& text, int* value);
// A real as written to profile files: general format with 15 significant
// digits (plain from 0.00001 up to 15 integer digits, else "1.5E-6"), with
// the user's decimal separator.
QString FormatProfileFloat(double value);

// "Unable to write to <path>": how a settings or parameter file that could
// not be written is reported.
QString unableToWriteText(const QString& path);
// Shows it in an error box titled "Error".
void reportUnableToWrite(const QString& path);

}  // namespace quelm
