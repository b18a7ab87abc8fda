// quelm-cli deconvolve: the kinetic peaks under the glow curves of blocks,
// of every block of a data file, or of a curve file a laboratory provides.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtConcurrent/QtConcurrentMap>
#include <cmath>
#include <optional>
#include <utility>

#include "ContentSession.h"
#include "base/ErrorCodes.h"
#include "base/SmallFile.h"
#include "evaluation/Deconvolution.h"
#include "evaluation/DeconvolutionText.h"
#include "evaluation/GlowCurve.h"
#include "measurement/BlockRecord.h"

namespace quelm::cli {
namespace {

const QString kCommand = QStringLiteral("deconvolve");

struct Fitted {
  QString label;  // "Block 123" or the curve file
  QString key;    // the block number or the file, for the spreadsheet and JSON
  GlowCurve curve;
  DeconvolutionResult result;
};

// The heating rate given on the command line replaces the curve's own.
Fitted fitCurve(QString label, QString key, GlowCurve curve, const DeconvolutionOptions& options,
                std::optional<double> heatingRate) {
  Fitted f{std::move(label), std::move(key), std::move(curve), {}};
  if (heatingRate) f.curve.heatingRate = *heatingRate;
  f.result = Deconvolve(f.curve, options);
  return f;
}

Fitted fitBlock(const BlockRecord& r, const DeconvolutionOptions& options,
                std::optional<double> heatingRate) {
  const int number = r.BlockNumber;
  return fitCurve(QStringLiteral("Block %1").arg(number), QString::number(number), GlowCurveOfBlock(r),
                  options, heatingRate);
}

QJsonValue number(double v) { return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null); }

// A peak's fourth parameter by its name in the model ("order", "retrapping",
// "spreadEv"); none for first and second order beyond the order itself.
const char* shapeKey(PeakModel m) {
  switch (m) {
    case PeakModel::MixedOrder:
      return "retrapping";
    case PeakModel::Continuous:
      return "spreadEv";
    default:
      return "order";
  }
}

QJsonObject json(const Fitted& f) {
  const DeconvolutionResult& r = f.result;
  QJsonObject o;
  o[QStringLiteral("curve")] = f.key;
  if (r.options.peakModels.empty()) {
    o[QStringLiteral("model")] = PeakModelName(r.options.model);
  } else {
    QJsonArray models;  // one per peak, by rising Tm
    for (PeakModel m : r.options.peakModels) models.append(PeakModelName(m));
    o[QStringLiteral("model")] = models;
  }
  o[QStringLiteral("background")] = r.options.background;
  o[QStringLiteral("converged")] = r.converged();
  if (!r.converged()) o[QStringLiteral("reason")] = r.reason;
  o[QStringLiteral("pointsUsed")] = r.pointsUsed;
  o[QStringLiteral("leftOut")] = QJsonArray::fromStringList(f.curve.leftOut);
  o[QStringLiteral("heatingRateKPerS")] =
      r.heatingRate > 0 ? QJsonValue(r.heatingRate) : QJsonValue(QJsonValue::Null);
  if (r.window)
    o[QStringLiteral("evaluationWindowK")] = QJsonArray{number(r.window->first), number(r.window->second)};
  // Without a window, why: the dosimetric peak is then the whole curve's.
  if (!f.curve.windowNote.isEmpty()) o[QStringLiteral("evaluationWindowNote")] = f.curve.windowNote;
  if (!r.criteria.empty()) {
    QJsonArray criteria;
    for (const CountCriterion& c : r.criteria)
      criteria.append(
          QJsonObject{{QStringLiteral("peaks"), c.peaks},
                      {QStringLiteral("converged"), c.converged},
                      {QStringLiteral("bic"), c.converged ? number(c.bic) : QJsonValue()},
                      {QStringLiteral("fomPercent"), c.converged ? number(c.fom) : QJsonValue()}});
    o[QStringLiteral("countCriterion")] = criteria;
    o[QStringLiteral("suggestedPeaks")] = r.suggestedCount;
  }
  if (!r.converged()) return o;
  o[QStringLiteral("fomPercent")] = number(r.fom);
  o[QStringLiteral("r2")] = number(r.r2);
  o[QStringLiteral("reducedChiSquare")] = number(r.reducedChiSquare);
  o[QStringLiteral("parameters")] = r.parameters;
  QJsonArray peaks;
  for (const FittedPeak& p : r.peaks) {
    const char* shape = shapeKey(p.peak.model);
    QJsonObject errors{{QStringLiteral("tmK"), number(p.error.tm)},
                       {QStringLiteral("energyEv"), number(p.error.energy)},
                       {QStringLiteral("im"), number(p.error.im)}};
    if (HasShapeParameter(p.peak.model)) errors[QLatin1String(shape)] = number(ShapeParameter(p.error));
    QJsonObject peak{{QStringLiteral("model"), PeakModelName(p.peak.model)},
                     {QStringLiteral("tmK"), number(p.peak.tm)},
                     {QStringLiteral("tmC"), number(p.peak.tm - kKelvinAtZeroCelsius)},
                     {QStringLiteral("energyEv"), number(p.peak.energy)},
                     {QLatin1String(shape), number(ShapeParameter(p.peak))},
                     {QStringLiteral("frequencyPerS"), number(p.frequency)},
                     {QStringLiteral("im"), number(p.peak.im)},
                     {QStringLiteral("area"), number(p.area)},
                     {QStringLiteral("sharePercent"), number(p.share)},
                     {QStringLiteral("errors"), errors},
                     {QStringLiteral("undetermined"), p.undetermined}};
    QJsonArray held;
    for (const auto& [bit, name] : {std::pair{kParamIm, "im"}, std::pair{kParamEnergy, "energyEv"},
                                    std::pair{kParamTm, "tmK"}, std::pair{kParamShape, shape}})
      if (p.atBound & bit) held.append(QLatin1String(name));
    peak[QStringLiteral("atBound")] = held;
    peaks.append(peak);
  }
  o[QStringLiteral("peaks")] = peaks;
  const int dosimetric = r.DosimetricPeak();
  o[QStringLiteral("dosimetricPeak")] =
      dosimetric >= 0 ? QJsonValue(dosimetric + 1) : QJsonValue(QJsonValue::Null);
  if (r.background)
    o[QStringLiteral("backgroundFit")] =
        QJsonObject{{QStringLiteral("offset"), number(r.background->offset)},
                    {QStringLiteral("amplitude"), number(r.background->amplitude)},
                    {QStringLiteral("atK"), number(r.background->endKelvin)},
                    {QStringLiteral("scaleK"), number(r.background->scale)},
                    {QStringLiteral("errors"),
                     QJsonObject{{QStringLiteral("offset"), number(r.backgroundError.offset)},
                                 {QStringLiteral("amplitude"), number(r.backgroundError.amplitude)},
                                 {QStringLiteral("scaleK"), number(r.backgroundError.scale)}}}};
  o[QStringLiteral("warnings")] = QJsonArray::fromStringList(FitWarnings(r));
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
// A file that ends in a cut-off record has its whole records fitted all the
// same; `cut` then names the cut for the end of the command.
int fitAll(CliIO& io, const QString& name, const DeconvolutionOptions& options,
           std::optional<double> heatingRate, std::vector<Fitted>* fits, QString* cut) {
  std::vector<BlockRecord> records;
  if (const int rc = ReadWholeRecords(
          io, name, [&records](const BlockRecord& r) { records.push_back(r); }, cut))
    return rc;
  // The blocks side by side, one thread each.
  DeconvolutionOptions single = options;
  single.threads = 1;
  *fits = QtConcurrent::blockingMapped<std::vector<Fitted>>(
      records, [&single, heatingRate](const BlockRecord& b) { return fitBlock(b, single, heatingRate); });
  return kExitOk;
}

int run(Args& args, CliIO& io) {
  DeconvolutionOptions options;
  const std::optional<QString> peaks = args.value(QStringLiteral("--peaks"));
  if (peaks && *peaks != QStringLiteral("auto")) {
    if (const auto n = args.integer(*peaks, QStringLiteral("--peaks"), 1, kMaxPeaks))
      options.peaks = static_cast<int>(*n);
  }
  if (const auto t = args.value(QStringLiteral("--model"))) {
    // One model for every peak, or one per peak by rising Tm.
    std::vector<PeakModel> models;
    for (const QString& name : t->split(QLatin1Char(','))) {
      if (const auto m = PeakModelByName(name.trimmed()))
        models.push_back(*m);
      else
        args.fail(QStringLiteral("--model must be first, second, general, mixed or continuous (or a list of "
                                 "them, one per peak), not \"%1\"")
                      .arg(*t));
    }
    if (models.size() == 1) {
      options.model = models.front();
    } else if (models.size() > static_cast<size_t>(kMaxPeaks)) {
      args.fail(QStringLiteral("--model names at most %1 peaks").arg(kMaxPeaks));
    } else if (options.peaks > 0 && options.peaks != static_cast<int>(models.size())) {
      args.fail(QStringLiteral("--model names %1 peaks, --peaks %2").arg(models.size()).arg(options.peaks));
    } else if (peaks && *peaks == QStringLiteral("auto")) {
      args.fail(QStringLiteral("--model with one model per peak fixes the count: no --peaks auto"));
    } else {
      options.peakModels = models;
    }
  }
  std::optional<double> heatingRate;
  if (const auto t = args.value(QStringLiteral("--heating-rate"))) {
    bool ok = false;
    const double v = t->toDouble(&ok);
    if (ok && std::isfinite(v) && v > 0 && v <= 1000)
      heatingRate = v;
    else
      args.fail(QStringLiteral("--heating-rate must be a number of K/s above 0 and at most 1000, not \"%1\"")
                    .arg(*t));
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
    fits.push_back(fitCurve(*curvePath, *curvePath, std::move(curve), options, heatingRate));
    return print(io, fits, output);
  }
  if (words.isEmpty()) return usageError(io, kCommand, QStringLiteral("a data file or --curve is needed"));
  if (all) {
    if (words.size() != 1) return usageError(io, kCommand, QStringLiteral("--all takes no block numbers"));
    QString cut;
    if (const int rc = fitAll(io, words.first(), options, heatingRate, &fits, &cut)) return rc;
    return EndAfterCut(io, words.first(), cut, print(io, fits, output));
  }

  ContentSession session;
  int exitCode = kExitUsage;
  std::vector<uint32_t> numbers;
  if (!session.TakeBlocks(args, words, io, kCommand, false,
                          QStringLiteral("block numbers or --all are needed"), &numbers, &exitCode))
    return exitCode;
  int result = kExitOk;
  for (const uint32_t n : numbers) {
    // A block that cannot be read is reported and the others are still fitted.
    if (session.Show(io, n) != kExitOk) {
      result = kExitFailure;
      continue;
    }
    fits.push_back(fitBlock(session.Detail().ShownRecord(), options, heatingRate));
  }
  const int printed = print(io, fits, output);
  return session.Finish(io, result != kExitOk ? result : printed);
}

const CommandRegistrar registrar(
    {"deconvolve",
     "deconvolve (FILE.dat BLOCK... | FILE.dat --all | --curve CURVE.csv) [--peaks N|auto] "
     "[--model first|second|general|mixed|continuous[,...]] [--background] [--heating-rate K/S] "
     "[--json | --csv]",
     "the kinetic peaks under glow curves: Tm, E, b (R for mixed order, sigma for a continuous distribution "
     "of E), s, Im, area and share of each peak with their standard errors, FOM, R2 and reduced chi-square "
     "of the fit, warnings where a parameter is held at a bound, a peak is not determined or the FOM is "
     "above "
     "2.5 %; --peaks auto (the default) prints the BIC of each count tried; --model takes one model or one "
     "per peak; --curve reads two columns, temperature in K and signal; --heating-rate for the frequency "
     "factors of a curve file; --json: an array with one object per curve; --csv: one row per curve with the "
     "dosimetric peak (the largest inside the evaluation window); exit status 1 when a fit gives no peaks",
     run});

}  // namespace
}  // namespace quelm::cli
