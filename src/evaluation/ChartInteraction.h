#pragma once
// The rules of the glow-curve chart, free of any window: what the chart keys
// do to the evaluation members and when, where a marker drag or a click puts
// the window and the cursor, how typed values are read and brought into the
// limits, when the pointer is near a marker, which pointer shape shows, the
// status-bar hint, and the marker, peak and cursor strokes.

#include <QLineF>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <Qt>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "evaluation/DoseChain.h"

namespace quelm {

// Colours as 0xRRGGBB.
inline constexpr uint32_t kAreaColour = 0x005900;    // the glow curve outside the window
inline constexpr uint32_t kWindowColour = 0x008000;  // the evaluation window
inline constexpr uint32_t kMarkerColour = 0x00FF00;  // lime: the two window markers
inline constexpr uint32_t kPeakColour = 0x800000;    // maroon: the peak tick
inline constexpr uint32_t kCursorColour = 0xFF0000;  // red: the cursor tick

enum class ChartAction {
  CursorLeft,
  CursorRight,
  EvalStartLeft,
  EvalStartRight,
  EvalLengthLeft,
  EvalLengthRight,
  NFIncrease10,
  NFIncrease1,
  NFIncrease01,
  NFDecrease10,
  NFDecrease1,
  NFDecrease01,
  Deconvolution,  // the fitted peaks over the curve, on or off
  // The window and factor set here become the dose of record of the
  // archived read-out shown (the main window hands them to the archive).
  AdoptDose,
};

struct ChartActionDescriptor {
  ChartAction action;
  const char* objectName;
  const char* caption;
  Qt::Key key;  // plain key, no modifiers
};
inline constexpr int kChartActionCount = 14;
extern const ChartActionDescriptor kChartActions[kChartActionCount];

// Applies the action when its condition holds and returns whether it did;
// a refused action leaves the members untouched. Deconvolution and
// AdoptDose change no member: the detail model switches the fitted peaks,
// the main window hands the members to the dose archive.
bool ApplyChartAction(ChartAction action, EvalMembers& m);

// The channel of an x value of the chart: cut towards zero.
int ChannelOfX(double x);

// Dragging the left marker moves the whole window and keeps its length;
// the right marker sits on the first channel after the window. Both ignore
// negative channels and keep the limits.
void DragLeftMarkerTo(EvalMembers& m, int channel);
void DragRightMarkerTo(EvalMembers& m, int channel);

// A typed start or length, brought into the limits; the typed value wins
// over the other member (a start of 90 shortens a 20-channel window to 10).
void SetEvalStart(EvalMembers& m, int64_t start);
void SetEvalLength(EvalMembers& m, int64_t length);

// A whole number as typed (blanks around it allowed).
std::optional<int64_t> ParseWholeNumber(const QString& text);
// A normalisation factor as typed with the user's decimal separator, as the
// single-precision value it becomes; nothing when it is no number or does not
// fit a single (too large, or so small that it would become 0).
std::optional<double> ParseNormFact(const QString& text);

// Pixel geometry of the chart as the view sees it.
struct ChartGeometry {
  QRectF plot;                                // plot rectangle
  std::function<QPointF(int index)> pointAt;  // pixel of area point 0..100
  std::function<double(double px)> xAt;       // x value at a horizontal pixel
};

// The horizontal pixels of the two markers: point evalStart, and point
// evalStart+evalLength or the last point when the window ends at channel 99.
struct MarkerPixels {
  double left = 0;
  double right = 0;
};
MarkerPixels MarkerPixelsOf(const EvalMembers& m, const ChartGeometry& g);

inline constexpr double kNearPixels = 3;
// Within 2 pixels (strictly less than 3) of the marker and strictly between
// the top and bottom of the plot.
bool NearMarker(const QPointF& pos, double markerX, const QRectF& plot);

enum class PointerShape { Normal, Move, SplitH };

// The pointer after a move to pos: the normal pointer turns into the split
// pointer near a marker, the split pointer turns normal again away from both.
PointerShape PointerAfterMove(PointerShape current, const QPointF& pos, const MarkerPixels& markers,
                              const QRectF& plot);

// Status-bar hint of the channel under the pointer.
QString ChartHintText(int channel, double value, double temperature);

struct Stroke {
  QLineF line;
  uint32_t colour;
};
// The lines drawn after the area series: the markers (the right one only
// while the window ends before channel 99), then the peak and cursor ticks
// 5 to 15 pixels above their points.
std::vector<Stroke> MarkerStrokes(const EvalMembers& m, const ChartGeometry& g);

}  // namespace quelm
