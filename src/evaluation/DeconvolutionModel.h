#pragma once
// The chart's deconvolution, free of any window: whether the operator has it
// on, the curve of the shown block and its fit. The fit runs off the
// window's thread over a copy of the curve, so that the window never waits
// for it; a fit whose block is no longer shown is cancelled and its result
// dropped, so that peaks are only ever drawn over the curve they belong to.

#include <QFuture>
#include <QFutureWatcher>
#include <atomic>
#include <functional>
#include <memory>

#include "evaluation/Deconvolution.h"
#include "evaluation/GlowCurve.h"
#include "measurement/BlockRecord.h"

namespace quelm {

class DeconvolutionModel {
 public:
  // One fit as it travels to and from its thread.
  struct Job {
    int generation = 0;
    DeconvolutionResult result;
  };
  // Starts work elsewhere and hands back its future; the default runs it in
  // the global thread pool. Tests hold the work back to finish it when they
  // choose.
  using Runner = std::function<QFuture<Job>(std::function<Job()> work)>;

  explicit DeconvolutionModel(Runner runner = {});
  ~DeconvolutionModel();
  DeconvolutionModel(const DeconvolutionModel&) = delete;
  DeconvolutionModel& operator=(const DeconvolutionModel&) = delete;

  // Where later fits run (tests).
  void SetRunner(Runner runner) { runner_ = std::move(runner); }

  // What the window fits unless the operator chooses otherwise: the count
  // by the criterion, general order (it holds first order as its limit),
  // and the background a reader's curve always has.
  static DeconvolutionOptions WindowOptions();
  // The operator's choice of model and count (0: by the criterion); a fit
  // on show is done again with it.
  void Choose(PeakModel model, int peaks);
  const DeconvolutionOptions& Options() const { return options_; }

  enum class Phase { Off, Fitting, Done };
  Phase CurrentPhase() const { return phase_; }
  bool On() const { return phase_ != Phase::Off; }
  const GlowCurve& Curve() const { return curve_; }
  // The finished fit (Done); its peaks only when it converged.
  const DeconvolutionResult& Result() const { return result_; }

  // After every change of phase, curve or result.
  std::function<void()> changed;

  // The operator's command: on (fits the shown block) or off again.
  void Toggle(const BlockRecord* shown);
  // Another block is shown (nullptr: none): refits while on.
  void BlockChanged(const BlockRecord* shown);

 private:
  void start(const BlockRecord& record);
  void stop();
  void finished();
  void notify();

  Runner runner_;
  DeconvolutionOptions options_ = WindowOptions();
  BlockRecord record_{};  // the block being fitted or shown
  QFutureWatcher<Job> watcher_;
  std::shared_ptr<std::atomic<bool>> cancel_;
  int generation_ = 0;
  Phase phase_ = Phase::Off;
  GlowCurve curve_;
  DeconvolutionResult result_;
};

}  // namespace quelm
