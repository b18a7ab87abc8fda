#include "Cli.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <algorithm>
#include <csignal>
#include <map>

#include "archive/ArchiveLocation.h"
#include "base/Config.h"
#include "base/DataFiles.h"
#include "base/ErrorCodes.h"
#include "base/IniFile.h"
#include "base/Process.h"
#include "base/Prompter.h"
#include "link/CommandChannel.h"
#include "parameters/ParamField.h"
#include "parameters/ParamJob.h"

namespace quelm::cli {

namespace {

std::map<QString, CommandInfo>& registry() {
  static std::map<QString, CommandInfo> commands;
  return commands;
}

// Which file and why, after a file code's message: ": night.dat: Permission
// denied" (the name left out when the context already says it).
QString fileDetail(int code, const QString& context) {
  if (!isFileCode(code)) return QString();
  const FileFailure f = takeFileFailure();
  if (f.empty()) return QString();
  return (f.name == context ? QString() : QStringLiteral(": ") + f.name) + QStringLiteral(": ") + f.reason;
}

// "quelm-cli: [context: ]message (code)[: file: reason]", then the line
// that explains the code, if its operation left one.
void printFailure(CliIO& io, int code, const QString& context, const QString& message, const QString& note) {
  io.err << "quelm-cli: ";
  if (!context.isEmpty()) io.err << context << ": ";
  io.err << message << " (" << code << ")" << fileDetail(code, context) << Qt::endl;
  if (!note.isEmpty()) io.err << "quelm-cli: " << note << Qt::endl;
}

// Messages go to standard error; nothing is ever confirmed, chosen or
// entered on the operator's behalf. The core returns its failures to the
// command, which prints them with failure(); the few it shows itself (the
// link's diagnostics) are printed as they come and fail the command.
class CliPrompter final : public Prompter {
 public:
  explicit CliPrompter(CliIO& io) : io_(io) {}
  StandardButton message(const MessageRequest& r) override {
    if (r.code != 0) {
      printFailure(io_, r.code, QString(), r.text, r.note);
      io_.failureShown = true;
      return Ok;
    }
    io_.err << (r.title.isEmpty() ? QString() : r.title + QStringLiteral(": ")) << r.text << Qt::endl;
    for (const StandardButton refuse : {No, Cancel, Abort})
      if (r.buttons & refuse) return refuse;
    return Ok;
  }
  std::optional<QString> openFile(const FileRequest&) override { return std::nullopt; }
  std::optional<QString> saveFile(const FileRequest&) override { return std::nullopt; }
  int runModal(QObject&) override { return mrCancel; }

 private:
  CliIO& io_;
};

}  // namespace

std::vector<CommandInfo> registeredCommands() {
  std::vector<CommandInfo> commands;
  for (const auto& [name, info] : registry()) commands.push_back(info);
  return commands;
}

void printHelp(QTextStream& out, const QString& configPath) {
  out << "usage: quelm-cli COMMAND [ARGUMENTS]\n       quelm-cli --help | --version\n\ncommands:\n";
  for (const auto& [name, info] : registry()) out << "  " << info.usage << "\n      " << info.summary << "\n";
  out << "\nEvery command takes --config FILE: the configuration file to use instead of the\n"
         "program's (service level, COMn mapping). In use: "
      << configPath
      << "\n"
         "Reader options: --port COMn|DEVICE (COMn as the configuration file maps it), "
         "--baud RATE (default 19200).\n"
         "Exit status: 0 success, 1 failure, 2 wrong usage or a decision not given.\n";
}

bool Args::flag(const QString& name) { return words_.removeOne(name); }

std::optional<QString> Args::value(const QString& name) {
  const int at = words_.indexOf(name);
  if (at < 0) return std::nullopt;
  if (at + 1 >= words_.size()) {
    fail(name + QStringLiteral(" needs a value"));
    words_.removeAt(at);
    return std::nullopt;
  }
  QString v = words_.at(at + 1);
  words_.remove(at, 2);
  return v;
}

std::optional<QStringList> Args::values(const QString& name, int n) {
  const int at = words_.indexOf(name);
  if (at < 0) return std::nullopt;
  if (at + n >= words_.size()) {
    fail(name + QStringLiteral(" needs %1 values").arg(n));
    words_.remove(at, words_.size() - at);
    return std::nullopt;
  }
  QStringList v = words_.mid(at + 1, n);
  words_.remove(at, n + 1);
  return v;
}

QStringList Args::positional() {
  for (const QString& w : words_)
    if (w.startsWith(QStringLiteral("--")) && w.size() > 2) fail(QStringLiteral("unknown option ") + w);
  return words_;
}

std::optional<long long> Args::integer(const QString& text, const QString& what, long long min,
                                       long long max) {
  bool ok = false;
  const long long v = text.toLongLong(&ok);
  if (!ok || v < min || v > max) {
    fail(QStringLiteral("%1 must be a whole number from %2 to %3, not \"%4\"")
             .arg(what)
             .arg(min)
             .arg(max)
             .arg(text));
    return std::nullopt;
  }
  return v;
}

CommandRegistrar::CommandRegistrar(const CommandInfo& info) {
  registry()[QString::fromLatin1(info.name)] = info;
}

int usageError(CliIO& io, const QString& command, const QString& message) {
  io.err << "quelm-cli: " << message << Qt::endl;
  const auto it = registry().find(command);
  if (it != registry().end())
    io.err << "usage: quelm-cli " << it->second.usage << Qt::endl;
  else
    io.err << "Try 'quelm-cli --help'." << Qt::endl;
  return kExitUsage;
}

int failure(CliIO& io, int code, const QString& context) {
  printFailure(io, code, context, ErrorMessage(code).message, takeReportNote(code));
  return kExitFailure;
}

int fail(CliIO& io, const QString& text, int exitCode) {
  io.err << "quelm-cli: " << text << Qt::endl;
  return exitCode;
}

void noteLimited(CliIO& io, std::span<const ParamField> fields, std::span<const uint8_t> before,
                 std::span<const uint8_t> after) {
  for (const ParamField& f : fields) {
    const QString was = paramEditText(f, before), now = paramEditText(f, after);
    if (was != now)
      io.err << "quelm-cli: note: " << f.key << " " << was << " is outside the window's limits; saved as "
             << now << Qt::endl;
  }
}

int printParamOutcome(CliIO& io, const ParamOutcome& o, const QString& context, const QString& notConverted) {
  const bool named = std::any_of(o.reports.begin(), o.reports.end(),
                                 [](const ParamReport& r) { return r.text != ParamText::None; });
  for (const ParamReport& r : o.reports) {
    if (r.text != ParamText::None)
      fail(io,
           (o.kind == ParamOutcome::kDone ? QStringLiteral("note: ") : QString()) + paramText(r.text, r.arg));
    // A refusal has no message of its own; the text before it has named it.
    if (r.code == kErrFileWrite && !r.arg.isEmpty())
      fail(io, unableToWriteText(r.arg) + fileDetail(r.code, r.arg));
    else if (r.code != 0 && !(named && r.code == kErrReaderRefused))
      failure(io, r.code, context);
  }
  if (o.kind == ParamOutcome::kNotConverted) fail(io, o.conversion.message + notConverted);
  return o.kind == ParamOutcome::kDone ? kExitOk : kExitFailure;
}

int checkParameterFile(CliIO& io, const QString& path, const QString& section, const FileFault& fault) {
  if (!QFileInfo(path).isFile()) return failure(io, kErrFileOpen, path);
  if (!IniFile(path).SectionExists(section))
    return fail(io, QStringLiteral("%1 holds no [%2] section").arg(path, section));
  if (fault) return fail(io, QStringLiteral("%1: %2; nothing was sent").arg(path, fault.message));
  return kExitOk;
}

int checkOutputFile(CliIO& io, const QString& path, const QStringList& kept) {
  if (fileKind(path) == FileKind::Other) return failure(io, noteFileFailure(kErrFileOpen, path, notRegularReason()));
  if (const int rc = refuseSameFile(path, kept)) return failure(io, rc);
  return kExitOk;
}

int refuseBelowServiceLevel(CliIO& io, const QString& what) {
  return fail(io, serviceLevelRefusal(what, io.configPath));
}

namespace {
volatile std::sig_atomic_t g_interruptFd = -1;

void onInterruptSignal(int) {
  // The next signal ends the program: work that does not stop is not waited for.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  const char c = 1;
  if (g_interruptFd >= 0) {
    [[maybe_unused]] const ssize_t w = ::write(g_interruptFd, &c, 1);
  }
}
}  // namespace

struct InterruptScope::Impl {
  int fds[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier;
  struct sigaction previousInt {};
  struct sigaction previousTerm {};
  bool installed = false;
};

InterruptScope::InterruptScope(std::function<void()> onInterrupt) : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, d.fds) != 0) return;
  d.notifier = std::make_unique<QSocketNotifier>(d.fds[0], QSocketNotifier::Read);
  QObject::connect(d.notifier.get(), &QSocketNotifier::activated, [fd = d.fds[0], onInterrupt] {
    char buf[16];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
    if (onInterrupt) onInterrupt();
  });
  g_interruptFd = d.fds[1];
  struct sigaction sa {};
  sa.sa_handler = onInterruptSignal;
  sigemptyset(&sa.sa_mask);
  // No SA_RESTART: a system call the signal interrupts returns, so nothing
  // can hold the program in it.
  d.installed =
      ::sigaction(SIGINT, &sa, &d.previousInt) == 0 && ::sigaction(SIGTERM, &sa, &d.previousTerm) == 0;
}

InterruptScope::~InterruptScope() {
  Impl& d = *impl_;
  if (d.installed) {
    ::sigaction(SIGINT, &d.previousInt, nullptr);
    ::sigaction(SIGTERM, &d.previousTerm, nullptr);
  }
  g_interruptFd = -1;
  d.notifier.reset();
  for (const int fd : d.fds)
    if (fd >= 0) ::close(fd);
}

// The command line without the prompter and the checks of its end.
static int dispatch(const QStringList& arguments, CliIO& io);

int runCli(const QStringList& arguments, CliIO& io) {
  IgnoreFileSizeSignal();
  // A reader of the output that has gone (a closed pipe) makes writes fail
  // instead of ending the program wherever it stands: the work goes on to its
  // end (a download still reaches the archive), and the lost output is
  // reported below. Lost messages on standard error stop nothing.
  std::signal(SIGPIPE, SIG_IGN);
  if (io.configPath.isEmpty()) io.configPath = configFilePath();
  // Whatever was installed before comes back: a test may hold its own.
  Prompter& previous = prompter();
  CliPrompter cliPrompter(io);
  setPrompter(&cliPrompter);
  struct Restore {
    Prompter& previous;
    ~Restore() { setPrompter(&previous); }
  } restore{previous};
  io.failureShown = false;
  takeFileFailure();
  // A line left for a code no report took belongs to an earlier command.
  explainNextReport(0, QString());
  int code = dispatch(arguments, io);
  if (io.failureShown && code == kExitOk) code = kExitFailure;
  // Results that never reached their reader (a full disk, /dev/full, a
  // closed pipe) are a failure, whatever the command did.
  io.out.flush();
  if (io.out.status() != QTextStream::Ok) {
    const QIODevice* device = io.out.device();
    io.err << "quelm-cli: cannot write the output: "
           << (device && !device->errorString().isEmpty() ? device->errorString()
                                                          : QStringLiteral("write error"))
           << Qt::endl;
    if (code == kExitOk) code = kExitFailure;
  }
  return code;
}

QStringList WithoutConfig(const QStringList& arguments, std::optional<QString>* config) {
  QStringList words = arguments;
  if (const int at = words.indexOf(QStringLiteral("--config")); at >= 0 && at + 1 < words.size()) {
    if (config) *config = words.at(at + 1);
    words.remove(at, 2);
  }
  return words;
}

static int dispatch(const QStringList& arguments, CliIO& io) {
  // --config FILE, anywhere: another configuration file than the program's.
  std::optional<QString> config;
  const QStringList words = WithoutConfig(arguments, &config);
  if (words.contains(QStringLiteral("--config")))
    return usageError(io, QString(), QStringLiteral("--config needs a file"));
  if (config) io.configPath = *config;
  // The configuration file in use (the program's or the one --config names),
  // when it is there but cannot be used, is said once: the port, the service
  // level and the archive would otherwise change without a word.
  for (const QString& problem : ConfigurationProblems(io.configPath))
    io.err << "quelm-cli: warning: " << problem << Qt::endl;
  if (words.isEmpty()) {
    printHelp(io.err, io.configPath);
    return kExitUsage;
  }
  const QString command = words.first();
  if (command == QStringLiteral("--help") || command == QStringLiteral("-h") ||
      command == QStringLiteral("help")) {
    printHelp(io.out, io.configPath);
    return kExitOk;
  }
  if (command == QStringLiteral("--version")) {
    io.out << "quelm-cli " << programVersion() << Qt::endl;
    return kExitOk;
  }
  const auto it = registry().find(command);
  if (it == registry().end())
    return usageError(io, command, QStringLiteral("unknown command \"%1\"").arg(command));
  Args args(words.mid(1));
  if (args.flag(QStringLiteral("--help"))) {
    io.out << "usage: quelm-cli " << it->second.usage << "\n" << it->second.summary << Qt::endl;
    return kExitOk;
  }
  loadServiceLevel(io.configPath);
  return it->second.run(args, io);
}

std::unique_ptr<ReaderSession> ReaderSession::open(const QString& port, const QString& baud, const CliIO& io,
                                                   QString* error) {
  int baudIndex = br19200;
  if (!baud.isEmpty()) {
    bool ok = false;
    const uint32_t rate = baud.toUInt(&ok);
    const auto* found = std::find(std::begin(Win32BaudRates) + 1, std::end(Win32BaudRates), rate);
    if (!ok || found == std::end(Win32BaudRates)) {
      *error =
          QStringLiteral("--baud must be one of the reader's rates (110 ... 256000), not \"%1\"").arg(baud);
      return nullptr;
    }
    baudIndex = static_cast<int>(found - std::begin(Win32BaudRates));
  }
  std::unique_ptr<ReaderSession> s(new ReaderSession);
  TCOMPort& port_ = s->link_.COMPortDrv;
  port_.IniFileName = io.configPath;
  const QString upper = port.toUpper();
  if (upper.startsWith(QStringLiteral("COM"))) {
    bool ok = false;
    const int n = upper.mid(3).toInt(&ok);
    if (!ok || n < 1 || n > 16) {
      *error = QStringLiteral("--port must be COM1 ... COM16 or a device path, not \"%1\"").arg(port);
      return nullptr;
    }
    port_.SetPortNumber(static_cast<TPortNumber>(n));
  } else if (!port.isEmpty()) {
    port_.SetPortNumber(pnCOM1);  // any number: the override names the device
    port_.DeviceOverride = port;
  } else {
    *error = QStringLiteral("--port is needed");
    return nullptr;
  }
  port_.SetBaudRate(static_cast<TBaudRate>(baudIndex));
  // No port window on the command line: a port must be given.
  s->link_.ShowOptionsModal = [] { return int{mrCancel}; };
  // The command's line from its first exchange to its end: a second program
  // gets -201 when it starts, never in the middle of this one's work.
  s->link_.HoldLine();
  s->previous_ = CommandChannel();
  s->held_ = true;
  SetCommandChannel(&s->link_.Channel());
  return s;
}

ReaderSession::~ReaderSession() {
  if (CommandChannel() == &link_.Channel()) SetCommandChannel(previous_);
  releaseLine();
}

void ReaderSession::releaseLine() {
  if (!held_) return;
  held_ = false;
  link_.ReleaseLine();
}

bool isReadOrWrite(const QStringList& words) {
  return words.size() == 2 && (words[0] == QStringLiteral("read") || words[0] == QStringLiteral("write"));
}

std::unique_ptr<ReaderSession> openReader(Args& args, CliIO& io, const QString& command, int* exitCode) {
  const std::optional<QString> port = args.value(QStringLiteral("--port"));
  const std::optional<QString> baud = args.value(QStringLiteral("--baud"));
  if (!args.ok()) {
    *exitCode = usageError(io, command, args.error());
    return nullptr;
  }
  QString error;
  auto session = ReaderSession::open(port.value_or(QString()), baud.value_or(QString()), io, &error);
  if (!session) *exitCode = usageError(io, command, error);
  return session;
}

OpenedReader openReader(Args& args, CliIO& io, const QString& command, ReaderAccess access) {
  OpenedReader r;
  if (access == ReaderAccess::ServiceLevel && !serviceLevel()) {
    r.exitCode = refuseBelowServiceLevel(io, command);
    return r;
  }
  r.session = openReader(args, io, command, &r.exitCode);
  if (!r.session) return r;
  r.words = args.positional();
  if (!args.ok()) {
    r.exitCode = usageError(io, command, args.error());
    r.session.reset();
  }
  return r;
}

}  // namespace quelm::cli
