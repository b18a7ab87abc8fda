#pragma once
// The dose chain of one block: region of interest over the evaluation
// window, normalisation, background, temperature and linearity correction.
// Shared by the detail view and by the sample-data generator, which writes
// MeasuredDose so that it agrees with what the program evaluates.

#include "measurement/BlockRecord.h"

// Correction temperature t = ReaderTemp * 0.5 - 20, in single precision
// (product and difference each rounded to a float).
float CorrectionTemperature(const BlockRecord& record);

// x / (DTFA*t*t + DTFB*t + 1)
double TempCorrect(const BlockRecord& record, double dose);
// x * DLFA * (x / DLFN)^DLFB for x >= DLFN, otherwise x
double LinearityCorrect(const BlockRecord& record, double dose);

struct DoseEvaluation {
  double bgMean = 0;          // mean of the auxiliary values A, B, C
  double roi = 0;             // sum of the window's decoded channel values
  int peakPos = 0;            // first channel holding the window's largest value
  bool normFactZero = false;  // doses below are not computed then
  double bgDose = 0;
  double roiDose = 0;
  double bgCorrDose = 0;
  double tCorrDose = 0;
  double measDose = 0;
};

// Evaluates channels evalStart .. evalStart+evalLength-1 (channels outside
// 0..99 are never read). normFact is the working normalisation factor.
DoseEvaluation EvaluateDose(const BlockRecord& record, int evalStart, int evalLength, double normFact);
