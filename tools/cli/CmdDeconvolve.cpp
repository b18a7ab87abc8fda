// quelm-cli deconvolve: the kinetic peaks under the glow curves of blocks,
// of every block of a data file, or of a curve file a laboratory provides.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtConcurrent/QtConcurrentMap>
#include <cmath>

#include "ContentSession.h"
#include "base/ErrorCodes.h"
#include "base/SmallFile.h"
#include "evaluation/Deconvolution.h"
#include "evaluation/DeconvolutionText.h"
#include "evaluation/GlowCurve.h"
#include "measurement/BlockRecord.h"
#include "measurement/DataFileReader.h"

namespace quelm::cli {
namespace {

const QString kCommand = QStringLiteral("deconvolve");

struct Fitted {
  QString label;  // "Block 123" or the curve file
  QString key;    // the block number or the file, for the spreadsheet and JSON
  GlowCurve curve;
  DeconvolutionResult result;
};

Fitted fitCurve(QString label, QString key, GlowCurve curve, const DeconvolutionOptions& options) {
  Fitted f{std::move(label), std::move(key), std::move(curve), {}};
  f.result = Deconvolve(f.curve, options);
  return f;
}

Fitted fitBlock(const BlockRecord& r, const DeconvolutionOptions& options) {
  const int number = r.BlockNumber;
  return fitCurve(QStringLiteral("Block %1").arg(number), QString::number(number), GlowCurveOfBlock(r),
                  options);
}

QJsonValue number(double v) { return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null); }

QJsonObject json(const Fitted& f) {
  const DeconvolutionResult& r = f.result;
  QJsonObject o;
  o[QStringLiteral("curve")] = f.key;
  o[QStringLiteral("model")] = PeakModelName(r.options.model);
  o[QStringLiteral("background")] = r.options.background;
  o[QStringLiteral("converged")] = r.converged();
  if (!r.converged()) o[QStringLiteral("reason")] = r.reason;
  o[QStringLiteral("pointsUsed")] = r.pointsUsed;
  o[QStringLiteral("leftOut")] = QJsonArray::fromStringList(f.curve.leftOut);
  if (!r.converged()) return o;
  o[QStringLiteral("fomPercent")] = number(r.fom);
  o[QStringLiteral("r2")] = number(r.r2);
  QJsonArray peaks;
  for (const FittedPeak& p : r.peaks)
    peaks.append(QJsonObject{{QStringLiteral("tmK"), number(p.peak.tm)},
                             {QStringLiteral("tmC"), number(p.peak.tm - kKelvinAtZeroCelsius)},
                             {QStringLiteral("energyEv"), number(p.peak.energy)},
                             {QStringLiteral("order"), number(p.peak.order)},
                             {QStringLiteral("im"), number(p.peak.im)},
                             {QStringLiteral("area"), number(p.area)},
                             {QStringLiteral("sharePercent"), number(p.share)}});
  o[QStringLiteral("peaks")] = peaks;
  o[QStringLiteral("dosimetricPeak")] = r.DosimetricPeak() + 1;
  if (r.background)
    o[QStringLiteral("backgroundFit")] =
        QJsonObject{{QStringLiteral("amplitude"), number(r.background->amplitude)},
                    {QStringLiteral("atK"), number(r.background->endKelvin)},
                    {QStringLiteral("scaleK"), number(r.background->scale)}};
  return o;
}

enum class Output { Text, Json, Csv };

// Prints the fits; kExitFailure when any of them gave no peaks.
int print(CliIO& io, const std::vector<Fitted>& fits, Output output) {
  if (output == Output::Json) {
    QJsonArray all;
    for (const Fitted& f : fits) all.append(json(f));
    io.out << QJsonDocument(all).toJson(QJsonDocument::Indented);
  } else if (output == Output::Csv) {
    // Spreadsheets expect CRLF line ends.
    io.out << DeconvolutionCsvHeader() << "\r\n";
    for (const Fitted& f : fits) io.out << DeconvolutionCsvRow(f.key, f.result) << "\r\n";
  } else {
    for (size_t i = 0; i < fits.size(); ++i) {
      if (i > 0) io.out << '\n';
      for (const QString& line : DeconvolutionReport(fits[i].label, fits[i].curve, fits[i].result))
        io.out << line << '\n';
    }
  }
  io.out.flush();
  int failed = 0;
  for (const Fitted& f : fits) failed += f.result.converged() ? 0 : 1;
  if (failed == 0) return kExitOk;
  return fail(io, QStringLiteral("%1 of %2 fits gave no peaks").arg(failed).arg(fits.size()));
}

int readCurve(CliIO& io, const QString& path, GlowCurve* curve) {
  QByteArray bytes;
  switch (ReadSmallFile(path, kMaxCurveFileSize, &bytes)) {
    case SmallFileResult::Missing:
      return failure(io, kErrFileOpen, path);
    case SmallFileResult::Unreadable:
      return fail(io, QStringLiteral("%1: no plain file of at most %2 bytes that can be read")
                          .arg(path)
                          .arg(kMaxCurveFileSize));
    case SmallFileResult::Read:
      break;
  }
  QString error;
  if (!ParseGlowCurveText(bytes, curve, &error)) return fail(io, path + QStringLiteral(": ") + error);
  return kExitOk;
}

// Every whole record of the file, oldest first; the fits run on every core.
int fitAll(CliIO& io, const QString& name, const DeconvolutionOptions& options, std::vector<Fitted>* fits) {
  DataFileReader file;
  if (const int rc = file.open(name)) return failure(io, rc, name);
  const uint64_t size = file.size();
  std::vector<BlockRecord> records;
  BlockRecord r;
  for (uint64_t k = 0; (k + 1) * sizeof r <= size && file.readAt(k * sizeof r, &r, sizeof r); ++k)
    records.push_back(r);
  file.close();
  if (records.size() * sizeof r < size)
    return failure(io, kErrFileRead,
                   QStringLiteral("%1: record %2 is incomplete").arg(name).arg(records.size()));
  // The blocks side by side, one thread each.
  DeconvolutionOptions single = options;
  single.threads = 1;
  *fits = QtConcurrent::blockingMapped<std::vector<Fitted>>(
      records, [&single](const BlockRecord& b) { return fitBlock(b, single); });
  return kExitOk;
}

int run(Args& args, CliIO& io) {
  DeconvolutionOptions options;
  if (const auto t = args.value(QStringLiteral("--peaks")); t && *t != QStringLiteral("auto")) {
    if (const auto n = args.integer(*t, QStringLiteral("--peaks"), 1, kMaxFitPeaks))
      options.peaks = static_cast<int>(*n);
  }
  if (const auto t = args.value(QStringLiteral("--model"))) {
    if (*t == QStringLiteral("first"))
      options.model = PeakModel::FirstOrder;
    else if (*t != QStringLiteral("general"))
      args.fail(QStringLiteral("--model must be first or general, not \"%1\"").arg(*t));
  }
  options.background = args.flag(QStringLiteral("--background"));
  const bool json = args.flag(QStringLiteral("--json"));
  const bool csv = args.flag(QStringLiteral("--csv"));
  const bool all = args.flag(QStringLiteral("--all"));
  const std::optional<QString> curvePath = args.value(QStringLiteral("--curve"));
  QStringList words = args.positional();
  if (!args.ok()) return usageError(io, kCommand, args.error());
  if (json && csv) return usageError(io, kCommand, QStringLiteral("--json and --csv exclude each other"));
  const Output output = json ? Output::Json : csv ? Output::Csv : Output::Text;

  std::vector<Fitted> fits;
  if (curvePath) {
    if (!words.isEmpty() || all)
      return usageError(io, kCommand, QStringLiteral("--curve takes no data file, block or --all"));
    GlowCurve curve;
    if (const int rc = readCurve(io, *curvePath, &curve)) return rc;
    fits.push_back(fitCurve(*curvePath, *curvePath, std::move(curve), options));
    return print(io, fits, output);
  }
  if (words.isEmpty()) return usageError(io, kCommand, QStringLiteral("a data file or --curve is needed"));
  if (all) {
    if (words.size() != 1) return usageError(io, kCommand, QStringLiteral("--all takes no block numbers"));
    if (const int rc = fitAll(io, words.first(), options, &fits)) return rc;
    return print(io, fits, output);
  }

  ContentSession session;
  int exitCode = kExitUsage;
  if (!session.TakeFile(words, io, kCommand, &exitCode)) return exitCode;
  if (words.isEmpty()) return usageError(io, kCommand, QStringLiteral("block numbers or --all are needed"));
  const std::vector<uint32_t> numbers = BlockNumbers(args, words);
  if (!args.ok()) return usageError(io, kCommand, args.error());
  if (const int rc = session.Import(io)) return rc;
  int result = kExitOk;
  for (const uint32_t n : numbers) {
    // A block that cannot be read is reported and the others are still fitted.
    if (session.Show(io, n) != kExitOk) {
      result = kExitFailure;
      continue;
    }
    fits.push_back(fitBlock(session.Detail().ShownRecord(), options));
  }
  const int printed = print(io, fits, output);
  return result != kExitOk ? result : printed;
}

const CommandRegistrar registrar(
    {"deconvolve",
     "deconvolve (FILE.dat BLOCK... | FILE.dat --all | --curve CURVE.csv) [--peaks N|auto] "
     "[--model first|general] [--background] [--json | --csv]",
     "the kinetic peaks under glow curves: Tm, E, b, Im, area and share of each peak, FOM and R2 of the "
     "fit; --curve reads two columns, temperature in K and signal; --json: an array with one object per "
     "curve; --csv: one row per curve with the dosimetric (largest) peak; exit status 1 when a fit gives "
     "no peaks",
     run});

}  // namespace
}  // namespace quelm::cli
