#pragma once
// A glow curve as the peak analysis sees it: signal against absolute
// temperature, the temperatures strictly rising. It comes from a block's
// channels or from a two-column text file a laboratory provides (its own
// curves, or reference curves other programs were checked against). Points
// that cannot be used are left out, and each is named with the reason, so
// that a fit over fewer channels never passes unnoticed.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

#include "measurement/BlockRecord.h"

namespace quelm {

inline constexpr double kKelvinAtZeroCelsius = 273.15;
// The kinetic peak expressions hold only well below E/2k, 2900 K at the
// least activation energy fitted; no reader heats a dosimeter anywhere near
// this, so a hotter reading is a fault of the sensor or of the file.
inline constexpr double kMaxCurveKelvin = 2000;

struct GlowCurve {
  std::vector<double> kelvin;  // strictly rising
  std::vector<double> signal;  // counts per channel (or the file's unit)
  std::vector<int> origin;     // channel 0..99, or the file's line number
  QStringList leftOut;         // one line per point left out, with the reason
  double heatingRate = 0;      // K/s; 0 unknown
  // The block's evaluation window from its first to its last kept channel, K.
  std::optional<std::pair<double, double>> window;
  // Why a block's curve has no window; empty otherwise.
  QString windowNote;
};

// The 100 channels: temperature ChannelTemps / 10 in 'C, counts decoded from
// their range code. Left out: a channel with an invalid range code, one at or
// below absolute zero or above kMaxCurveKelvin, and the channels that break
// the rise of the heating.
// The rise kept is the longest run of rising temperatures, so that one glitch
// of the temperature sensor costs its own channel and not every channel after
// it.
// The heating rate is the mean rise over the sampling interval
// (SamplingSpeed * 10 ms per channel), the window the block's own
// evaluation window between its first and last kept channels (none, with a
// note, when every channel of it is left out).
GlowCurve GlowCurveOfBlock(const BlockRecord& record);

// Text of two columns, temperature in kelvin and signal, separated by blanks,
// a tab, a comma or a semicolon; a decimal point; lines starting with '#' and
// empty lines are skipped, and a first line that is no pair of numbers is
// taken as the column titles. Points are sorted by temperature and left out
// as above.
// False with *error naming the line when a line holds no two numbers, or when
// fewer than two points remain.
bool ParseGlowCurveText(const QByteArray& text, GlowCurve* curve, QString* error);

// The largest curve file read (a reference curve has a few thousand points).
inline constexpr qsizetype kMaxCurveFileSize = 4 << 20;

}  // namespace quelm
