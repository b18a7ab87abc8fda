// quelm-reader-sim: a simulated reader on a pseudo-terminal. Prints the
// device path to open (and can link it to a fixed path), then answers frames
// until it is stopped (SIGINT, SIGTERM or SIGHUP). SIGUSR1 switches it on
// into its loader, as the operator does for a software update.

#include <sys/socket.h>
#include <unistd.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "ReaderModel.h"
#include "ReaderParams.h"
#include "ReaderService.h"
#include "SimServer.h"
#include "base/IniFile.h"
#include "sample-data/SampleData.h"

using namespace quelm::sim;

namespace {

int g_signalPipe[2] = {-1, -1};
int g_loaderPipe[2] = {-1, -1};

void onSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t w = ::write(g_signalPipe[1], &c, 1);
}

void onLoaderSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t w = ::write(g_loaderPipe[1], &c, 1);
}

struct RuleOption {
  const char* name;
  FaultRule FaultOptions::*rule;
  const char* what;
};

const RuleOption kRules[] = {
    {"crc", &FaultOptions::crc, "damage the check sum"},
    {"busy", &FaultOptions::busy, "answer busy (supervisory ID 2)"},
    {"reject", &FaultOptions::reject, "answer reject (supervisory ID 7)"},
    {"refuse", &FaultOptions::refuse, "answer 'P' (refused)"},
    {"refuse-busy", &FaultOptions::refuseBusy, "answer 'P' with 'd' (busy)"},
    {"drop", &FaultOptions::drop, "send no reply"},
    {"wrong-letter", &FaultOptions::wrongLetter, "echo a wrong command letter"},
    {"late", &FaultOptions::late, "answer --late-ms after the request"},
};

bool toInt(const QString& s, int min, int* out) {
  bool ok = false;
  const int v = s.toInt(&ok);
  if (!ok || v < min) return false;
  *out = v;
  return true;
}

// Replaces an existing symbolic link, never a real file.
bool placeLink(const QString& target, const QString& link) {
  const QByteArray l = QFile::encodeName(link);
  const QFileInfo info(link);
  if (info.isSymLink()) {
    ::unlink(l.constData());
  } else if (info.exists()) {
    std::fprintf(stderr, "quelm-reader-sim: %s exists and is not a link; not replaced\n", l.constData());
    return false;
  }
  if (::symlink(QFile::encodeName(target).constData(), l.constData()) != 0) {
    std::perror("quelm-reader-sim: symlink");
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("quelm-reader-sim"));
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Simulated reader on a pseudo-terminal. Prints the device path, then answers frames until stopped.\n"
      "Faults act on replies to information frames; N counts those replies (every Nth), P is a "
      "probability."));
  parser.addHelpOption();
  const QCommandLineOption link(QStringLiteral("link"),
                                QStringLiteral("Also make PATH a symbolic link to the device."),
                                QStringLiteral("PATH"));
  const QCommandLineOption blocks(QStringLiteral("blocks"),
                                  QStringLiteral("Generated blocks in memory (default 300)."),
                                  QStringLiteral("N"), QStringLiteral("300"));
  const QCommandLineOption seed(QStringLiteral("seed"),
                                QStringLiteral("Seed of the blocks and the faults (default 1)."),
                                QStringLiteral("SEED"), QStringLiteral("1"));
  const QCommandLineOption first(QStringLiteral("first"),
                                 QStringLiteral("Number of the oldest block (default 0)."),
                                 QStringLiteral("NUMBER"), QStringLiteral("0"));
  const QCommandLineOption memory(
      QStringLiteral("memory"), QStringLiteral("Load the memory from a data file instead of generating it."),
      QStringLiteral("FILE"));
  const QCommandLineOption unsaved(QStringLiteral("unsaved"),
                                   QStringLiteral("Only the newest N blocks are unsaved (default all)."),
                                   QStringLiteral("N"));
  const QCommandLineOption garbage(QStringLiteral("garbage"),
                                   QStringLiteral("Noise bytes before every reply."), QStringLiteral("N"),
                                   QStringLiteral("0"));
  const QCommandLineOption chunk(QStringLiteral("chunk"),
                                 QStringLiteral("Split replies into pieces of N bytes."), QStringLiteral("N"),
                                 QStringLiteral("0"));
  const QCommandLineOption chunkDelay(QStringLiteral("chunk-delay"),
                                      QStringLiteral("Milliseconds between pieces."), QStringLiteral("MS"),
                                      QStringLiteral("0"));
  const QCommandLineOption delay(QStringLiteral("delay"), QStringLiteral("Milliseconds before every reply."),
                                 QStringLiteral("MS"), QStringLiteral("0"));
  const QCommandLineOption baud(QStringLiteral("baud"),
                                QStringLiteral("Pace all output at this line rate (bytes x 10 / baud)."),
                                QStringLiteral("RATE"), QStringLiteral("0"));
  const QCommandLineOption ini(
      QStringLiteral("ini"),
      QStringLiteral("Set up the program's configuration file to use this reader: COMn maps "
                     "to the device (or the --link path), PortNumber n, BaudRate 19200. "
                     "Other settings in the file are kept."),
      QStringLiteral("FILE"));
  const QCommandLineOption com(QStringLiteral("com"),
                               QStringLiteral("The port number n for --ini (default 1)."),
                               QStringLiteral("N"), QStringLiteral("1"));
  const QCommandLineOption noOwnTable(
      QStringLiteral("no-own-table"),
      QStringLiteral("No dosimeter in the reader: its own table is refused."));
  const QCommandLineOption lutCapacity(QStringLiteral("lut-capacity"),
                                       QStringLiteral("Entries the look-up table holds (default 100)."),
                                       QStringLiteral("N"), QStringLiteral("100"));
  const QCommandLineOption verbose(QStringLiteral("verbose"),
                                   QStringLiteral("Print every request to stderr."));
  const QCommandLineOption loaderAfter(
      QStringLiteral("loader-after"),
      QStringLiteral("Switch on into the loader MS milliseconds after the start (SIGUSR1 does it any time)."),
      QStringLiteral("MS"));
  const QCommandLineOption loaderImage(QStringLiteral("loader-image"),
                                       QStringLiteral("Save the program the loader received to FILE."),
                                       QStringLiteral("FILE"));
  const QCommandLineOption loaderWrongStatus(
      QStringLiteral("loader-wrong-status"),
      QStringLiteral("Answer the Nth loader request (1 = start) with status 3."), QStringLiteral("N"));
  const QCommandLineOption loaderSilent(QStringLiteral("loader-silent"),
                                        QStringLiteral("The loader announces itself, then answers nothing."));
  const QCommandLineOption lateMs(
      QStringLiteral("late-ms"),
      QStringLiteral("Milliseconds before a late reply (default 4500, beyond the program's time-out)."),
      QStringLiteral("MS"), QStringLiteral("4500"));
  const QCommandLineOption vanishAfter(
      QStringLiteral("vanish-after"),
      QStringLiteral("Vanish on the Nth information frame or loader request, as a pulled adapter: the line "
                     "closes, the "
                     "simulator ends."),
      QStringLiteral("N"), QStringLiteral("0"));
  parser.addOptions({link,        ini,     com,    blocks,      seed,        first,       memory,
                     unsaved,     garbage, chunk,  chunkDelay,  delay,       baud,        noOwnTable,
                     lutCapacity, verbose, lateMs, vanishAfter, loaderAfter, loaderImage, loaderWrongStatus,
                     loaderSilent});
  std::vector<std::pair<QCommandLineOption, QCommandLineOption>> ruleOptions;
  for (const RuleOption& r : kRules) {
    const QString name = QString::fromLatin1(r.name);
    ruleOptions.emplace_back(QCommandLineOption(name + QStringLiteral("-every"),
                                                QStringLiteral("Every Nth reply: ") +
                                                    QString::fromLatin1(r.what) + QLatin1Char('.'),
                                                QStringLiteral("N")),
                             QCommandLineOption(name + QStringLiteral("-prob"),
                                                QStringLiteral("With probability P: ") +
                                                    QString::fromLatin1(r.what) + QLatin1Char('.'),
                                                QStringLiteral("P")));
    parser.addOption(ruleOptions.back().first);
    parser.addOption(ruleOptions.back().second);
  }
  parser.process(app);

  const auto fail = [](const char* text) {
    std::fprintf(stderr, "quelm-reader-sim: %s (see --help)\n", text);
    return 2;
  };
  FaultOptions faults;
  bool okSeed = false;
  faults.seed = parser.value(seed).toULongLong(&okSeed);
  if (!okSeed) return fail("--seed must be a number");
  if (!toInt(parser.value(garbage), 0, &faults.garbage) ||
      !toInt(parser.value(chunk), 0, &faults.chunkSize) ||
      !toInt(parser.value(chunkDelay), 0, &faults.chunkDelayMs) ||
      !toInt(parser.value(delay), 0, &faults.delayMs) || !toInt(parser.value(lateMs), 0, &faults.lateMs) ||
      !toInt(parser.value(vanishAfter), 0, &faults.vanishAfter))
    return fail("--garbage, --chunk, --chunk-delay, --delay, --late-ms and --vanish-after take numbers >= 0");
  int rate = 0;
  if (!toInt(parser.value(baud), 0, &rate)) return fail("--baud takes a rate >= 0");
  faults.lineBaud = static_cast<uint32_t>(rate);
  for (size_t i = 0; i < ruleOptions.size(); ++i) {
    FaultRule& rule = faults.*(kRules[i].rule);
    if (parser.isSet(ruleOptions[i].first) && !toInt(parser.value(ruleOptions[i].first), 1, &rule.every))
      return fail("an -every option takes a number >= 1");
    if (parser.isSet(ruleOptions[i].second)) {
      bool ok = false;
      rule.probability = parser.value(ruleOptions[i].second).toDouble(&ok);
      if (!ok || rule.probability < 0 || rule.probability > 1) return fail("a -prob option takes 0..1");
    }
  }

  int comNumber = 1;
  if (!toInt(parser.value(com), 1, &comNumber) || comNumber > 16) return fail("--com takes 1..16");

  TReaderModel model(faults);
  if (parser.isSet(memory)) {
    if (const int rc = model.LoadMemoryFile(parser.value(memory)); rc != 0) {
      std::fprintf(stderr, "quelm-reader-sim: cannot read %s (code %d)\n", qPrintable(parser.value(memory)),
                   rc);
      return 1;
    }
  } else {
    SampleDataOptions s;
    s.seed = faults.seed;
    if (!toInt(parser.value(blocks), 0, &s.blocks) || s.blocks > 2048) return fail("--blocks takes 0..2048");
    if (!toInt(parser.value(first), 0, &s.firstNumber) || s.firstNumber > 2047)
      return fail("--first takes 0..2047");
    model.LoadBlocks(MakeSampleBlocks(s));
  }
  if (parser.isSet(unsaved)) {
    int n = 0;
    if (!toInt(parser.value(unsaved), 0, &n)) return fail("--unsaved takes a number >= 0");
    model.SetUnsaved(n);
  }

  int capacity = 0;
  if (!toInt(parser.value(lutCapacity), 0, &capacity)) return fail("--lut-capacity takes a number >= 0");
  model.Parameters().LookupCapacity = static_cast<size_t>(capacity);
  model.Parameters().OwnPresent = !parser.isSet(noOwnTable);
  LoaderState& loader = model.Service().loader;
  loader.saveTo = parser.value(loaderImage);
  loader.silent = parser.isSet(loaderSilent);
  if (parser.isSet(loaderWrongStatus) && !toInt(parser.value(loaderWrongStatus), 1, &loader.wrongStatusAt))
    return fail("--loader-wrong-status takes a number >= 1");
  int loaderDelay = -1;
  if (parser.isSet(loaderAfter) && !toInt(parser.value(loaderAfter), 0, &loaderDelay))
    return fail("--loader-after takes a number >= 0");

  TReaderSimServer server(model);
  if (const int e = server.Open(); e != 0) {
    std::fprintf(stderr, "quelm-reader-sim: cannot create a pseudo-terminal: %s\n", std::strerror(e));
    return 1;
  }
  QObject::connect(&server, &TReaderSimServer::Vanished, &app, [] {
    std::fprintf(stderr, "quelm-reader-sim: vanished\n");
    QCoreApplication::quit();
  });
  const QString linkPath = parser.value(link);
  if (!linkPath.isEmpty() && !placeLink(server.SlavePath(), linkPath)) return 1;
  if (parser.isSet(ini)) {
    // The stable link path if there is one: the device number changes from run to run.
    quelm::IniFile file(parser.value(ini));
    const QString section = QStringLiteral("Serial port settings");
    file.WriteString(section, QStringLiteral("COM%1").arg(comNumber),
                     linkPath.isEmpty() ? server.SlavePath() : QFileInfo(linkPath).absoluteFilePath());
    file.WriteInteger(section, QStringLiteral("PortNumber"), comNumber);
    file.WriteInteger(section, QStringLiteral("BaudRate"), 9);
    if (!file.UpdateFile()) {
      if (!linkPath.isEmpty()) ::unlink(QFile::encodeName(linkPath).constData());
      std::fprintf(stderr, "quelm-reader-sim: cannot write %s\n", qPrintable(parser.value(ini)));
      return 1;
    }
  }

  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return 1;
  QSocketNotifier stop(g_signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGHUP, onSignal);

  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_loaderPipe) != 0) return 1;
  QSocketNotifier loaderSwitch(g_loaderPipe[0], QSocketNotifier::Read);
  const auto switchOn = [&] {
    std::fprintf(stderr, "quelm-reader-sim: switched on into the loader\n");
    server.Emit(model.SwitchOnLoader());
  };
  QObject::connect(&loaderSwitch, &QSocketNotifier::activated, &app, [&] {
    char c;
    [[maybe_unused]] const ssize_t r = ::read(g_loaderPipe[0], &c, 1);
    switchOn();
  });
  std::signal(SIGUSR1, onLoaderSignal);
  if (loaderDelay >= 0) QTimer::singleShot(loaderDelay, &app, switchOn);
  // Report what the loader did once it has finished a download.
  auto* loaderReport = new QTimer(&app);
  QObject::connect(loaderReport, &QTimer::timeout, [&loader, reported = false]() mutable {
    if (!loader.finished) reported = false;
    if (!loader.finished || reported) return;
    reported = true;
    std::fprintf(stderr, "quelm-reader-sim: loader finished, %d bytes programmed%s%s\n", loader.highestEnd,
                 loader.saveTo.isEmpty() ? "" : (loader.saveError == 0 ? ", saved to " : ", NOT saved to "),
                 qPrintable(loader.saveTo));
  });
  loaderReport->start(200);

  if (parser.isSet(verbose)) {
    // Report requests as they come, after the model has seen them.
    auto* reporter = new QTimer(&app);
    QObject::connect(reporter, &QTimer::timeout, [&model, done = size_t{0}]() mutable {
      for (; done < model.Requests.size(); ++done) {
        QString line;
        for (const uint8_t b : model.Requests[done])
          line += QStringLiteral(" %1").arg(b, 2, 16, QLatin1Char('0'));
        std::fprintf(stderr, "request:%s\n", qPrintable(line.toUpper()));
      }
    });
    reporter->start(100);
  }

  std::printf("%s\n", qPrintable(server.SlavePath()));
  std::fprintf(stderr, "quelm-reader-sim: %d blocks, newest %d, serving %s%s%s\n", model.BlockCount(),
               model.NewestBlock(), qPrintable(server.SlavePath()), linkPath.isEmpty() ? "" : " via ",
               qPrintable(linkPath));
  std::fflush(stdout);
  const int rc = app.exec();
  if (!linkPath.isEmpty() && QFileInfo(linkPath).isSymLink())
    ::unlink(QFile::encodeName(linkPath).constData());
  return rc;
}
