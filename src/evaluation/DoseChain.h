#pragma once
// The dose chain of one block: region of interest over the evaluation
// window, normalisation, background, temperature and linearity correction.
// Shared by the detail view and by the sample-data generator, which writes
// MeasuredDose so that it agrees with what the program evaluates.

#include <QString>
#include <optional>

#include "measurement/BlockRecord.h"

// Correction temperature t = ReaderTemp * 0.5 - 20, in single precision
// (product and difference each rounded to a float).
float CorrectionTemperature(const BlockRecord& record);

// x / (DTFA*t*t + DTFB*t + 1)
double TempCorrect(const BlockRecord& record, double dose);
// x * DLFA * (x / DLFN)^DLFB for x >= DLFN, otherwise x
double LinearityCorrect(const BlockRecord& record, double dose);

// A normalisation factor the chain divides by: a finite number no smaller
// than the smallest normal single. A block keeps its factor as a single, and
// below that one even a small signal gives a dose no single holds.
bool UsableNormFact(double normFact);

struct DoseEvaluation {
  double bgMean = 0;  // mean of the auxiliary values A, B, C
  double roi = 0;     // sum of the window's decoded channel values
  int peakPos = 0;    // first channel holding the window's largest value
  // The factor is 0 or not usable (UsableNormFact): the doses below are not
  // computed then, and every view shows it as a factor of 0.
  bool normFactZero = false;
  // Each dose below, when computed, is a number a single holds (the block
  // and the views keep singles) or NaN: no dose. Ordinary negative doses
  // from finite inputs stay as they are.
  double bgDose = 0;
  double roiDose = 0;
  double bgCorrDose = 0;
  double tCorrDose = 0;
  double measDose = 0;
};

// Evaluates channels evalStart .. evalStart+evalLength-1 (channels outside
// 0..99 are never read). normFact is the working normalisation factor.
DoseEvaluation EvaluateDose(const BlockRecord& record, int evalStart, int evalLength, double normFact);

// The evaluation members of the detail view: the window covers channels
// evalStart .. evalStart+evalLength-1 within 0..99, the cursor one channel.
struct EvalMembers {
  int evalStart = 0;
  int evalLength = 1;
  int cursorPos = 0;
  int peakPos = 0;
  double normFact = 0;
};

inline constexpr double kMaxInitialNormFact = 100000;

// Decodes the 106 raw values. An entry with an invalid range code keeps its
// bare mantissa and leaves its stored range code as it was; the result is
// true when any entry had one.
bool DecodeBlockValues(const BlockRecord& record, uint32_t values[kRawValueCount],
                       uint32_t ranges[kRawValueCount]);

// The members a freshly read block starts with: its own window (start 0
// when EVASTART is 99 or more, length 1 when the window would end past
// channel 99 or is empty), EVANORM capped at 100000, and the cursor on the
// first channel holding the window's largest value (0 when all are 0).
EvalMembers InitialEvalMembers(const BlockRecord& record, const uint32_t values[kRawValueCount]);

// The dose of a freshly read block as the detail view shows it: the chain
// over the block's own window (InitialEvalMembers). Nothing when the
// normalisation factor is 0 or not usable, or the chain gives no number a
// single holds.
std::optional<double> BlockDose(const BlockRecord& record);

// Brings the window and the cursor into their limits: 0 <= evalStart <= 99,
// 1 <= evalLength <= 100 - evalStart, 0 <= cursorPos <= 99.
void ClampEvalMembers(EvalMembers& m);

// --- The chain solved for the normalisation factor ------------------------
//
// A calibration irradiates a dosimeter to a known dose D and asks which
// normalisation factor makes the chain above give D for its read-out:
// background, temperature and linearity corrections included, not the
// plain ratio of doses.

// Why no factor makes the chain give the dose.
enum class NormFactRefusal {
  None,
  BadDose,        // the dose is not a finite number above 0
  NotFinite,      // the block's coefficients or values are no finite numbers
  NoSignal,       // the window holds no signal above the background
  NoTemperature,  // the temperature correction divides by 0 or less
  Unreachable,    // the linearity correction never gives the dose
  Ambiguous,      // it gives the dose at two factors
  OutOfRange,     // the factor is not above 0, or above kMaxInitialNormFact
};
// The reason as the calibration lists it; empty for None.
QString NormFactRefusalText(NormFactRefusal refusal);

enum class NormFactMethod {
  Auto,       // the closed form where the chain has one, checked, else bracketed
  Bracketed,  // a bracketed root finder on the chain itself
};

struct NormFactSolution {
  NormFactRefusal refusal = NormFactRefusal::None;
  // The factor; also set with OutOfRange, to say which one it would be.
  double normFact = 0;
  explicit operator bool() const { return refusal == NormFactRefusal::None; }
};

// The factor for which EvaluateDose(record, evalStart, evalLength, factor)
// gives doseUsv as Meas_Dose, or the reason there is none. The chain falls
// with the factor (the net signal is divided by it) and the linearity
// correction has two pieces (below DLFN the dose itself, above it a power of
// the dose), so each piece has at most one root; a dose that both pieces
// reach is refused as ambiguous rather than guessed.
NormFactSolution SolveNormFact(const BlockRecord& record, int evalStart, int evalLength, double doseUsv,
                               NormFactMethod method = NormFactMethod::Auto);
