// quelm-cli evaluate: one block's evaluation, optionally over another
// window or normalisation factor, typed in as an operator types into the
// evaluation panel's edits.
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

#include "ContentSession.h"
#include "base/NumberFormat.h"
#include "base/UserLocale.h"
#include "evaluation/BlockView.h"
#include "measurement/BlockRecord.h"

namespace quelm::cli {
namespace {

const QString kCommand = QStringLiteral("evaluate");

QJsonValue number(double v) { return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null); }

QJsonObject evaluationJson(const DetailModel& detail) {
  const EvalMembers m = detail.Members();
  const EvaluationView& ev = detail.Evaluation();
  const DoseEvaluation& dose = ev.dose;
  QJsonObject o;
  o[QStringLiteral("block")] = int{detail.ShownRecord().BlockNumber};
  o[QStringLiteral("evalStart")] = m.evalStart;
  o[QStringLiteral("evalLength")] = m.evalLength;
  // The single the block holds, as the block rows write it (1.1, not 1.100000023841858).
  const QString normFact = formatSingle(m.normFact);
  o[QStringLiteral("normFact")] = normFact.isEmpty() ? QJsonValue() : QJsonValue(normFact.toDouble());
  o[QStringLiteral("cursorPos")] = m.cursorPos;
  o[QStringLiteral("peakPos")] = ev.peakPos;
  o[QStringLiteral("peakValue")] = static_cast<double>(detail.ShownValues()[ev.peakPos + kAuxValueCount]);
  o[QStringLiteral("roi")] = number(dose.roi);
  // Doses in uSv; none is computed with a normalisation factor of 0.
  const auto doseValue = [&](double d) { return dose.normFactZero ? QJsonValue() : number(d); };
  o[QStringLiteral("bgDose")] = doseValue(dose.bgDose);
  o[QStringLiteral("roiDose")] = doseValue(dose.roiDose);
  o[QStringLiteral("bgCorrDose")] = doseValue(dose.bgCorrDose);
  o[QStringLiteral("tCorrDose")] = doseValue(dose.tCorrDose);
  o[QStringLiteral("measDose")] = doseValue(dose.measDose);
  QJsonObject panel;
  for (int f = 0; f < kEvalFieldCount; ++f)
    panel[QString::fromLatin1(kEvalFields[f].caption)] = ev.values[static_cast<size_t>(f)].text;
  o[QStringLiteral("panel")] = panel;
  return o;
}

// The block's evaluation over the window and factor given, printed.
int evaluate(CliIO& io, ContentSession& session, uint32_t block, bool json, std::optional<long long> start,
             std::optional<long long> length, std::optional<double> normFact) {
  if (const int rc = session.Show(io, block)) return rc;
  DetailModel& detail = session.Detail();
  if (length && !start && detail.Members().evalStart + *length > kChannelCount)
    return usageError(io, kCommand,
                      QStringLiteral("--length %1 ends past channel %2 from the block's start %3")
                          .arg(*length)
                          .arg(kChannelCount - 1)
                          .arg(detail.Members().evalStart));
  // In the order of the panel's edits, each taken as the window takes it.
  int rc = 0;
  if (start) rc = detail.EditEvalStart(QString::number(*start));
  if (rc == 0 && length) rc = detail.EditEvalLength(QString::number(*length));
  if (rc == 0 && normFact) rc = detail.EditNormFact(withUserDecimal(QString::number(*normFact, 'g', 17)));
  if (rc != 0) return failure(io, rc, session.SourceName());

  if (json)
    io.out << QJsonDocument(evaluationJson(detail)).toJson(QJsonDocument::Indented);
  else
    for (const QString& line : detail.EvaluationLines()) io.out << line << '\n';
  return kExitOk;
}

int run(Args& args, CliIO& io) {
  const bool json = args.flag(QStringLiteral("--json"));
  std::optional<long long> start, length;
  std::optional<double> normFact;
  if (const auto t = args.value(QStringLiteral("--start")))
    start = args.integer(*t, QStringLiteral("--start"), 0, kChannelCount - 1);
  if (const auto t = args.value(QStringLiteral("--length")))
    length = args.integer(*t, QStringLiteral("--length"), 1, kChannelCount);
  if (const auto t = args.value(QStringLiteral("--nf"))) {
    // Scripts write a decimal point, whatever the user's settings.
    bool ok = false;
    const double v = t->toDouble(&ok);
    // The block keeps a float: a number it cannot hold is refused, not
    // turned into infinity or 0.
    if (ok && std::isfinite(static_cast<float>(v)) && (v == 0 || static_cast<float>(v) != 0))
      normFact = v;
    else
      args.fail(QStringLiteral("--nf must be a number such as 2.5, not \"%1\"").arg(*t));
  }
  QStringList words = args.positional();
  if (!args.ok()) return usageError(io, kCommand, args.error());
  if (start && length && *start + *length > kChannelCount)
    return usageError(io, kCommand,
                      QStringLiteral("the window --start %1 --length %2 ends past channel %3")
                          .arg(*start)
                          .arg(*length)
                          .arg(kChannelCount - 1));
  ContentSession session;
  int exitCode = kExitUsage;
  std::vector<uint32_t> numbers;
  if (!session.TakeBlocks(args, words, io, kCommand, true, QStringLiteral("one block number is needed"),
                          &numbers, &exitCode))
    return exitCode;
  return session.Finish(io, evaluate(io, session, numbers.front(), json, start, length, normFact));
}

const CommandRegistrar registrar(
    {"evaluate", "evaluate FILE.dat BLOCK [--start N] [--length N] [--nf X] [--json]",
     "the evaluation panel of a block as \"Caption: value\" lines, over the block's own window and "
     "normalisation factor or the ones given (--nf with a decimal point); --json: the numbers (doses in "
     "uSv) and the panel's texts",
     run});

}  // namespace
}  // namespace quelm::cli
