#pragma once
// How both parameter windows end a click on one of their job's operations,
// once the window shows the job again.

#include <QString>
#include <vector>

#include "parameters/ParamJob.h"

class QLineEdit;

namespace quelm {

// Cancelled: the trace says so and nothing is shown. Otherwise the edit
// that did not convert (edits by field of the table) takes the focus, the
// outcome is shown in boxes titled `title`, and a success traces "ok".
void EndParamClick(const ParamOutcome& outcome, const std::vector<QLineEdit*>& edits, const QString& title,
                   TraceLine& trace);

}  // namespace quelm
