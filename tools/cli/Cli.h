#pragma once
// quelm-cli: the command-line front end over the same core objects as the
// windows. Each command lives in its own Cmd*.cpp and registers itself with
// a CommandRegistrar; runCli dispatches on the first argument.
//
// Rules every command keeps:
// - results on `out`, errors on `err` as the code table's message with the
//   code ("Source file error (-214)");
// - exit status kExitOk, kExitFailure (the operation failed) or kExitUsage
//   (the command line was wrong, or a decision the operator must take was
//   not given);
// - the command line never answers a question on the operator's behalf: a
//   core operation that needs a decision gets it from an option, and the
//   prompter installed by runCli refuses every confirmation it is asked.

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "base/ServiceLevel.h"
#include "link/FrameLink.h"

namespace quelm {
struct FileFault;
struct ParamField;
struct ParamOutcome;
}  // namespace quelm

namespace quelm::cli {

enum ExitCode : int { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

struct CliIO {
  QTextStream& out;
  QTextStream& err;
  bool errIsTerminal = false;  // progress as a bar (true) or as plain lines
  // The program's configuration file (service level, COMn mapping).
  QString configPath;
  // A failure was shown through the dialog seam (the few the core shows
  // itself, such as the link's diagnostics): runCli never lets a command
  // that had one end in success.
  bool failureShown = false;
};

// The words after the command name. Options are taken out as they are asked
// for; what is left must be positional arguments.
class Args {
 public:
  explicit Args(QStringList words) : words_(std::move(words)) {}

  // Whether "--name" is among the words (nothing is taken).
  bool has(const QString& name) const { return words_.contains(name); }
  // Takes "--name"; true when it was there.
  bool flag(const QString& name);
  // Takes "--name VALUE"; nothing when absent. A missing value is a usage error.
  std::optional<QString> value(const QString& name);
  // Takes "--name V1 .. Vn".
  std::optional<QStringList> values(const QString& name, int n);
  // What is left; an unknown "--option" among it is a usage error.
  QStringList positional();
  // What is left, options included, for commands whose options depend on a
  // word among them.
  const QStringList& remaining() const { return words_; }

  // Integer conversion of an option or argument; a usage error when it is
  // not a whole number within [min, max].
  std::optional<long long> integer(const QString& text, const QString& what, long long min, long long max);

  bool ok() const { return error_.isEmpty(); }
  const QString& error() const { return error_; }
  void fail(const QString& message) {
    if (error_.isEmpty()) error_ = message;
  }

 private:
  QStringList words_;
  QString error_;
};

using CommandFn = int (*)(Args& args, CliIO& io);

struct CommandInfo {
  const char* name;
  const char* usage;    // the synopsis after "quelm-cli "
  const char* summary;  // one line for --help
  CommandFn run;
};

// One static instance per command file.
class CommandRegistrar {
 public:
  explicit CommandRegistrar(const CommandInfo& info);
};

// The registered commands, by name: what --help lists, the manual page and
// the shell completion are made from.
std::vector<CommandInfo> registeredCommands();
// quelm-cli --help, naming the configuration file in use.
void printHelp(QTextStream& out, const QString& configPath);

// Runs one command line (argv without the program name). Installs the
// command-line prompter for the duration.
int runCli(const QStringList& arguments, CliIO& io);
// The command line's words without "--config FILE", which may stand
// anywhere (its first one is taken); the file into *config when given. A
// "--config" without a file stays among the words.
QStringList WithoutConfig(const QStringList& arguments, std::optional<QString>* config = nullptr);

// Prints "quelm-cli: <message>" and the command's usage; returns kExitUsage.
int usageError(CliIO& io, const QString& command, const QString& message);
// Prints the code's message with the code, after an optional context;
// returns kExitFailure.
int failure(CliIO& io, int code, const QString& context = QString());
// Prints "quelm-cli: <text>"; returns exitCode.
int fail(CliIO& io, const QString& text, int exitCode = kExitFailure);

// Names every field whose value the window's limits changed between the
// record as it came (before) and as it is saved (after): nothing changes
// unseen.
void noteLimited(CliIO& io, std::span<const ParamField> fields, std::span<const uint8_t> before,
                 std::span<const uint8_t> after);
// Prints what a parameter job's operation told, with the windows' texts
// (notes of a finished operation as notes), a conversion failure followed
// by `notConverted`. kExitOk when the operation was done.
int printParamOutcome(CliIO& io, const ParamOutcome& outcome, const QString& context,
                      const QString& notConverted = QString());
// A parameter file about to be sent to the reader must exist, hold its
// section and say every value itself (`fault`, the table's CheckFile): a
// misspelt name, section or value would otherwise send defaults or cut
// numbers. kExitOk, or kExitFailure after saying why.
int checkParameterFile(CliIO& io, const QString& path, const QString& section, const FileFault& fault);

// A file the command will write must be a plain file or not exist yet, and
// none of `kept` (what the command reads or also writes): kExitOk, or
// kExitFailure after -107 with the name and the reason. Asked before the
// reader is asked for anything.
int checkOutputFile(CliIO& io, const QString& path, const QStringList& kept = {});

// Prints "quelm-cli: <what> needs the service level, ..." naming the
// configuration file; returns kExitFailure.
int refuseBelowServiceLevel(CliIO& io, const QString& what);

// While it lives, Ctrl+C (SIGINT) and SIGTERM do not end the program at
// once: onInterrupt runs on the event loop, which the signal wakes even in
// the middle of a wait, and the work stops at its next safe point (a whole
// block, a loader wait). A second signal ends the program at once.
class InterruptScope {
 public:
  explicit InterruptScope(std::function<void()> onInterrupt);
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The reader on a serial line for the length of one command: its own link
// (port, frames, timer) installed as the program's command channel.
class ReaderSession {
 public:
  // port: "COMn" (mapped through the configuration file) or a device path;
  // baud: a rate of the baud list ("19200"), empty for 19200. Nothing when
  // the words are wrong (message in *error).
  static std::unique_ptr<ReaderSession> open(const QString& port, const QString& baud, const CliIO& io,
                                             QString* error);
  ~ReaderSession();
  TFrameLink& link() { return link_; }
  // Gives up the session's hold on the line before any exchange: the
  // software update holds the line itself, as its loader session, and a
  // line some job holds refuses it.
  void releaseLine();

 private:
  ReaderSession() = default;
  TFrameLink link_;
  TCommandChannel* previous_ = nullptr;  // the channel before this session's
  bool held_ = false;
};

// Whether the words are "read FILE" or "write FILE", as the table commands take them.
bool isReadOrWrite(const QStringList& words);

// Takes "--port P [--baud B]" from args and opens the session; on a usage
// problem prints it and sets *exitCode to kExitUsage.
std::unique_ptr<ReaderSession> openReader(Args& args, CliIO& io, const QString& command, int* exitCode);
// The same for a command that takes words after its options: the session
// and those words, or no session and the exit code of what was printed (a
// usage error among the words, as the port's are). A command of the service
// level is refused below it before anything is opened.
enum class ReaderAccess { Any, ServiceLevel };
struct OpenedReader {
  std::unique_ptr<ReaderSession> session;
  QStringList words;
  int exitCode = kExitOk;
};
OpenedReader openReader(Args& args, CliIO& io, const QString& command, ReaderAccess access = ReaderAccess::Any);

}  // namespace quelm::cli
