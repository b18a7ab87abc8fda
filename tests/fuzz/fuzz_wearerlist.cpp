// A wearer list of arbitrary bytes (person_id,name,dosimeter,from,to): it
// is refused whole, naming a line it has, or taken from UTF-8 text whole,
// every line a person and a period that may be stored; the lines taken,
// written out again, read back as the same persons and periods.
#include <QString>
#include <QStringDecoder>
#include <vector>

#include "FuzzSupport.h"
#include "archive/Archive.h"
#include "archive/ArchiveText.h"
#include "archive/ArchiveTime.h"

using quelm::fuzz::require;

namespace {

QString csvField(const QString& text) {
  QString quoted = text;
  quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  std::vector<quelm::WearerListRow> rows;
  QString error;
  if (!quelm::ParseWearerList(bytes, &rows, &error)) {
    require(rows.empty(), "a refused list gives no line");
    const int lines = static_cast<int>(bytes.count('\n')) + 1;
    bool numbered = false;
    const int line = error.section(QLatin1Char(':'), 0, 0).mid(5).toInt(&numbered);
    require(error.startsWith(QLatin1String("line ")) && numbered && line >= 1 && line <= lines,
            "a refusal names a line of the list");
    return 0;
  }
  require(error.isEmpty(), "a list taken says nothing");
  QStringDecoder utf8(QStringDecoder::Utf8);
  const QString decoded = utf8(bytes);  // decodes as the text is taken
  require(!utf8.hasError(), "only UTF-8 text is taken");

  QString again = quelm::WearerListHeader() + QLatin1Char('\n');
  for (const quelm::WearerListRow& r : rows) {
    require(quelm::PersonIdError(r.person.id).isEmpty() && quelm::PersonNameError(r.person.name).isEmpty() &&
                quelm::WearPeriodError(r.period).isEmpty() && r.period.person == r.person,
            "every line taken may be stored");
    again += QStringList{csvField(r.person.id), csvField(r.person.name), csvField(r.period.dosimeter),
                         quelm::ArchiveTimeText(r.period.from),
                         r.period.to ? quelm::ArchiveTimeText(*r.period.to) : QString()}
                 .join(QLatin1Char(',')) +
             QLatin1Char('\n');
  }
  std::vector<quelm::WearerListRow> read;
  require(quelm::ParseWearerList(again.toUtf8(), &read, &error), "the lines taken, written out, are taken");
  require(read.size() == rows.size(), "as many lines");
  for (size_t i = 0; i < rows.size(); ++i)
    require(read[i].person == rows[i].person && read[i].period.dosimeter == rows[i].period.dosimeter &&
                read[i].period.from == rows[i].period.from && read[i].period.to == rows[i].period.to,
            "the same persons and periods");
  return 0;
}
