#include "parameters/ParamClick.h"

#include <QLineEdit>

#include "base/Diag.h"

namespace quelm {

void EndParamClick(const ParamOutcome& o, const std::vector<QLineEdit*>& edits, const QString& title,
                   TraceLine& trace) {
  if (o.kind == ParamOutcome::kNothing) return trace.fail(QStringLiteral("ERR_CANCEL"));
  if (o.kind == ParamOutcome::kNotConverted && o.conversion.index >= 0 &&
      static_cast<size_t>(o.conversion.index) < edits.size())
    if (QLineEdit* e = edits[static_cast<size_t>(o.conversion.index)]) e->setFocus();
  ShowParamOutcome(o, title, trace);
  if (o.kind == ParamOutcome::kDone) trace.ok();
}

}  // namespace quelm
