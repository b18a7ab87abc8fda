#include "CliDocs.h"

#include <QRegularExpression>
#include <QTextStream>

#include "Cli.h"
#include "base/Config.h"

namespace quelm::cli {
namespace {

// Plain text as roff: a backslash and a minus sign are escaped (an option
// must stay a minus, not become a hyphen), a leading dot or quote is no request.
QString roff(const QString& text) {
  QString out = text;
  out.replace(QLatin1Char('\\'), QStringLiteral("\\e"));
  out.replace(QLatin1Char('-'), QStringLiteral("\\-"));
  if (out.startsWith(QLatin1Char('.')) || out.startsWith(QLatin1Char('\'')))
    out.prepend(QStringLiteral("\\&"));
  return out;
}

// The options that take a file name, for the completion.
const char* const kFileOptions = "--config|--out|--lst|--from-file";

}  // namespace

QStringList optionsIn(const QString& text) {
  static const QRegularExpression option(QStringLiteral("--[a-z][a-z-]*"));
  QStringList found;
  for (auto it = option.globalMatch(text); it.hasNext();) {
    const QString o = it.next().captured();
    if (!found.contains(o)) found << o;
  }
  return found;
}

QString manPage() {
  QString page;
  QTextStream m(&page);
  m << ".TH QUELM\\-CLI 1 \"\" \"Quelm " << programVersion() << "\" \"User Commands\"\n"
    << ".SH NAME\n"
       "quelm\\-cli \\- measurement blocks, data files and parameter tables of a TLD reader from scripts\n"
       ".SH SYNOPSIS\n"
       ".B quelm\\-cli\n.I COMMAND\n.RI [ ARGUMENTS ]\n.br\n"
       ".B quelm\\-cli\n.I COMMAND\n.B \\-\\-help\n.br\n"
       ".B quelm\\-cli\n.BR \\-\\-help \" | \" \\-\\-version\n"
       ".SH DESCRIPTION\n"
       ".B quelm\\-cli\n"
       "does the work of the Quelm program without a display: it lists, checks and evaluates the "
       "glow\\-curve measurement blocks of data files or of the reader on a serial line, downloads "
       "them into data files with their text lists, exports them, and reads and writes the reader's "
       "parameter tables. It prints the window's texts and writes the window's files.\n"
       "Results go to standard output, messages to standard error. It never answers a question on "
       "the operator's behalf: a decision the window would ask for is an option here.\n"
       ".SH COMMANDS\n";
  for (const CommandInfo& c : registeredCommands())
    // Inline bold, not the .B request: that would take the usage's quotes as
    // its own argument quoting.
    m << ".TP\n\\fB" << roff(QString::fromUtf8(c.usage)) << "\\fR\n"
      << roff(QString::fromUtf8(c.summary)) << "\n";
  m << ".SH OPTIONS\n"
       ".TP\n.BI \\-\\-config \" FILE\"\n"
       "The configuration file to use instead of the program's (see FILES): service level, "
       "COMn mapping. Every command takes it, anywhere on the command line.\n"
       ".TP\n.BI \\-\\-port \" COMn\\fR|\\fIDEVICE\"\n"
       "The reader's serial line: COM1 to COM16 as the configuration file maps them "
       "(otherwise /dev/ttyS0 to /dev/ttyS15), or a device path such as /dev/ttyUSB0.\n"
       ".TP\n.BI \\-\\-baud \" RATE\"\n"
       "The line speed, one of the reader's rates from 110 to 256000; 19200 when not given.\n"
       ".TP\n.B \\-\\-help\n"
       "Before a command: every command with its summary. After a command: that command's usage.\n"
       ".TP\n.B \\-\\-version\n"
       "The version of quelm\\-cli.\n"
       ".SH EXIT STATUS\n"
       ".TP\n.B 0\nDone (a download with nothing to download included).\n"
       ".TP\n.B 1\nThe operation failed; what was written so far stays. The message names the "
       "result code.\n"
       ".TP\n.B 2\nWrong usage, or a decision the operator must take was not given.\n"
       ".SH FILES\n"
       ".TP\n.I quelm.INI\n"
       "beside the programs, when they run from a folder the user may write that is not the folder "
       "they are installed into (a build folder, a copy on a removable disk).\n"
       ".TP\n.I $XDG_CONFIG_HOME/quelm/quelm.INI\n"
       "otherwise (\\fI~/.config/quelm/quelm.INI\\fR when XDG_CONFIG_HOME is not set); the Quelm "
       "program creates it with the defaults on its first start.\n"
       ".PP\n"
       "The section [Serial port settings] maps a port to a device (COM1=/dev/ttyUSB0); "
       "[Safety restrictions] Professional=1403726958 switches the service level on, which writing "
       "to the reader needs. "
       ".B quelm\\-cli \\-\\-help\n"
       "names the file in use.\n"
       ".SH EXAMPLES\n"
       "A nightly download of the blocks the reader has not saved yet:\n"
       ".PP\n.nf\n.RS\n"
       "quelm\\-cli download \\-\\-port COM1 \\-\\-unsaved \\-\\-out night\\-20240301\n"
       ".RE\n.fi\n.PP\n"
       "The doses of a data file for a spreadsheet, and one block's evaluation:\n"
       ".PP\n.nf\n.RS\n"
       "quelm\\-cli csv night\\-20240301.dat > doses.csv\n"
       "quelm\\-cli evaluate night\\-20240301.dat 123 \\-\\-start 20 \\-\\-length 40 \\-\\-json\n"
       ".RE\n.fi\n.PP\n"
       "The reader parameter table of one reader, written to another (service level):\n"
       ".PP\n.nf\n.RS\n"
       "quelm\\-cli reader\\-params read station.rpt \\-\\-port COM1\n"
       "quelm\\-cli reader\\-params write station.rpt \\-\\-yes \\-\\-port COM2\n"
       ".RE\n.fi\n"
       ".SH NOTES\n"
       "A serial device the user may not open is reported with the remedy: on Debian the user joins "
       "the group dialout (\\fBsudo adduser $USER dialout\\fR) and logs in again.\n"
       ".SH SEE ALSO\n"
       ".BR quelm (1)\n";
  return page;
}

QString bashCompletion() {
  const std::vector<CommandInfo> commands = registeredCommands();
  QStringList names;
  for (const CommandInfo& c : commands) names << QString::fromUtf8(c.name);
  QString script;
  QTextStream s(&script);
  s << "# bash completion for quelm-cli, made from its commands -*- shell-script -*-\n"
       "_quelm_cli() {\n"
       "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} command= i\n"
       "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
       "    case ${COMP_WORDS[i]} in\n"
       "      --config) ((i++)) ;;\n"
       "      -*) ;;\n"
       "      *) command=${COMP_WORDS[i]}; break ;;\n"
       "    esac\n"
       "  done\n"
       "  case $prev in\n"
       "    "
    << kFileOptions
    << ")\n"
       "      COMPREPLY=($(compgen -f -- \"$cur\")); compopt -o filenames 2>/dev/null; return ;;\n"
       "    --port)\n"
       "      COMPREPLY=($(compgen -W \"$(echo COM{1..16}) $(compgen -G '/dev/tty[SUA]*' | tr '\\n' ' ')"
       "$(compgen -G '/dev/serial/by-id/*' | tr '\\n' ' ')\" -- \"$cur\")); return ;;\n"
       "    --baud)\n"
       "      COMPREPLY=($(compgen -W \"110 300 600 1200 2400 4800 9600 14400 19200 38400 56000 57600 115200 "
       "128000 256000\" -- \"$cur\")); return ;;\n"
       "  esac\n"
       "  local options\n"
       "  case $command in\n"
       "    '') COMPREPLY=($(compgen -W \""
    << names.join(QLatin1Char(' ')) << " --config --help --version"
    << "\" -- \"$cur\")); return ;;\n";
  for (const CommandInfo& c : commands) {
    QStringList options = optionsIn(QString::fromUtf8(c.usage));
    for (const QString& o : {QStringLiteral("--config"), QStringLiteral("--help")})
      if (!options.contains(o)) options << o;
    s << "    " << c.name << ") options=\"" << options.join(QLatin1Char(' ')) << "\" ;;\n";
  }
  s << "    *) return ;;\n"
       "  esac\n"
       "  if [[ $cur == -* ]]; then\n"
       "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
       "  else\n"
       "    COMPREPLY=($(compgen -f -- \"$cur\")); compopt -o filenames 2>/dev/null\n"
       "  fi\n"
       "}\n"
       "complete -F _quelm_cli quelm-cli\n";
  return script;
}

}  // namespace quelm::cli
