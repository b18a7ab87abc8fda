#pragma once
// The block on display and its evaluation, free of any window. A refresh
// takes the data object's current record as the shown block (fresh) or, while
// EvalEdited is set, only re-evaluates the shown block with the evaluation
// members the operator changed. The main window paints what this holds; the
// command line reads the same texts.
//
// The shown block is the one notion of "the block on screen": operations that
// read other records into the data object (a re-count, a page search, a
// failed read) put it back with ReinstateShownBlock, so that the evaluation,
// the export and the menus always work on what the operator sees.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>

#include "evaluation/BlockView.h"
#include "evaluation/ChartInteraction.h"
#include "evaluation/DeconvolutionModel.h"
#include "evaluation/DoseChain.h"
#include "measurement/BlockRecord.h"

class TNurvoDataBlock;

namespace quelm {

class DetailModel {
 public:
  // data: the data object of the owner, which may not have one (every
  // command then returns -102). The evaluation members live in it.
  // Failures are returned, never shown: the front end reports them.
  explicit DetailModel(std::unique_ptr<TNurvoDataBlock>& data);

  // After every successful refresh; fresh: the header, value table and chart
  // points were rebuilt too, not only the evaluation.
  std::function<void(bool fresh)> refreshed;
  // After the refresh has been painted: the block-dependent commands follow.
  std::function<void()> commandsChanged;

  // Shows the data object's block: everything after a block read, only the
  // evaluation while EvalEdited is set. 0, or -150 without a block and -102
  // without a data object; nothing changes then.
  int Refresh();

  // Shows a record from elsewhere (the dose archive) as if it had been read
  // from a file: into the data object, then a fresh refresh.
  int ShowRecord(const BlockRecord& record);

  // The key the shown block has where it came from (the dose archive's
  // read-out id), set after ShowRecord; 0: none. Another block shown
  // forgets it, the same bytes shown again keep it.
  void SetShownBlockKey(qint64 key);
  qint64 ShownBlockKey() const { return BlockShown() ? key_ : 0; }

  // A data object that holds a block, and that block refreshed.
  bool BlockShown() const;
  const BlockRecord& ShownRecord() const { return record_; }
  const uint32_t* ShownValues() const { return values_; }
  const uint32_t* ShownRanges() const { return ranges_; }
  const BlockView& View() const { return view_; }
  const EvaluationView& Evaluation() const { return evaluation_; }
  EvalMembers Members() const;

  // The shown block back into the data object (record, decoded values,
  // block index, Loaded); with none shown the record is cleared and Loaded
  // with it.
  void ReinstateShownBlock();

  // --- The operator's changes. Each needs a shown block and otherwise does
  // nothing; a change sets EvalEdited and refreshes.
  // A chart menu item; chartPage: the Chart page is the active page (the
  // items act only there). -102 without a data object. Deconvolution
  // switches the fitted peaks of the shown block on or off; a fresh refresh
  // fits the new block while they are on. AdoptDose changes nothing here:
  // the main window hands the members to the dose archive.
  int ChartCommand(ChartAction action, bool chartPage);
  // Typed values, taken on leaving the edit or Enter; a text that is not a
  // number shows the member again.
  int EditEvalStart(const QString& text);
  int EditEvalLength(const QString& text);
  int EditNormFact(const QString& text);
  // Marker drags: a press near a marker starts its drag, moves carry the
  // channel under the pointer, the release ends the drag at its channel.
  void PressMarkers(bool nearLeft, bool nearRight);
  bool Dragging(uint32_t dragBit) const;  // LeftMarkerDrag or RightMarkerDrag
  int DragTo(int channel);
  int EndDrag(uint32_t dragBit, int channel);
  // A click on the plotted channels moves the cursor there.
  int MoveCursorTo(int channel);

  DeconvolutionModel& Deconvolution() { return deconvolution_; }
  const DeconvolutionModel& Deconvolution() const { return deconvolution_; }

  // "Caption value" lines of the header and of the evaluation panel, in
  // table order; empty while no block is shown.
  QStringList HeaderLines() const;
  QStringList EvaluationLines() const;

 private:
  void setMembers(const EvalMembers& m);
  int edited(const EvalMembers& m);

  std::unique_ptr<TNurvoDataBlock>& data_;
  bool shown_ = false;
  BlockRecord record_{};
  uint32_t values_[kRawValueCount] = {};
  uint32_t ranges_[kRawValueCount] = {};
  uint32_t blockIndex_ = 0;
  qint64 key_ = 0;
  BlockView view_;
  EvaluationView evaluation_;
  DeconvolutionModel deconvolution_;
};

}  // namespace quelm
