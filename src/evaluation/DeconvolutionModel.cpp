#include "evaluation/DeconvolutionModel.h"

#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

namespace quelm {

DeconvolutionModel::DeconvolutionModel(Runner runner) : runner_(std::move(runner)) {
  if (!runner_) runner_ = [](std::function<Job()> work) { return QtConcurrent::run(std::move(work)); };
  QObject::connect(&watcher_, &QFutureWatcherBase::finished, [this] { finished(); });
}

DeconvolutionModel::~DeconvolutionModel() {
  // The fit in flight stops at its next iteration; nothing waits for it.
  if (cancel_) cancel_->store(true);
  watcher_.disconnect();
}

DeconvolutionOptions DeconvolutionModel::WindowOptions() { return {0, PeakModel::GeneralOrder, true}; }

void DeconvolutionModel::Choose(PeakModel model, int peaks) {
  options_.model = model;
  options_.peaks = std::clamp(peaks, 0, kMaxFitPeaks);
  if (On()) start(record_);
}

void DeconvolutionModel::Toggle(const BlockRecord* shown) {
  if (On()) {
    stop();
    phase_ = Phase::Off;
    notify();
    return;
  }
  if (!shown) return;
  start(*shown);
}

void DeconvolutionModel::BlockChanged(const BlockRecord* shown) {
  if (!On()) return;
  if (shown) {
    start(*shown);
    return;
  }
  stop();
  phase_ = Phase::Off;
  notify();
}

void DeconvolutionModel::stop() {
  if (cancel_) cancel_->store(true);
  cancel_.reset();
  ++generation_;  // whatever still arrives belongs to no shown block
  curve_ = GlowCurve();
  result_ = DeconvolutionResult();
}

void DeconvolutionModel::start(const BlockRecord& record) {
  const BlockRecord copy = record;  // record may be record_ itself
  stop();
  record_ = copy;
  curve_ = GlowCurveOfBlock(record_);
  phase_ = Phase::Fitting;
  auto cancel = std::make_shared<std::atomic<bool>>(false);
  cancel_ = cancel;
  const int generation = generation_;
  watcher_.setFuture(runner_([curve = curve_, options = options_, cancel, generation] {
    return Job{generation, Deconvolve(curve, options, cancel.get())};
  }));
  notify();
}

void DeconvolutionModel::finished() {
  const QFuture<Job> future = watcher_.future();
  if (!future.isValid() || future.resultCount() == 0) return;
  const Job job = future.result();
  if (job.generation != generation_ || phase_ != Phase::Fitting) return;
  result_ = job.result;
  phase_ = Phase::Done;
  notify();
}

void DeconvolutionModel::notify() {
  if (changed) changed();
}

}  // namespace quelm
