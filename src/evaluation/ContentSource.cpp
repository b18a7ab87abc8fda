#include "evaluation/ContentSource.h"

#include <QFileInfo>

#include "measurement/NurvoDataBlock.h"

namespace quelm {

DataFileSource::DataFileSource(QString fileName) : fileName_(std::move(fileName)) {}

int DataFileSource::Skim(TNurvoDataBlock& data) { return data.SkimFile(fileName_); }

int DataFileSource::SearchPage(TNurvoDataBlock& data, const SearchRequest& request, uint16_t upperLimit,
                               uint16_t lowerLimit, int* count) {
  // The page is searched in the listed file even when the data object was
  // pointed elsewhere in between.
  data.FileName = fileName_;
  return data.SearchFileBlocks(request, kPageRows, upperLimit, lowerLimit, count);
}

int DataFileSource::ReadBlock(TNurvoDataBlock& data, uint32_t number) {
  data.FileName = fileName_;
  return data.ReadFileBlock(number);
}

QString DataFileSource::Label() const { return QFileInfo(fileName_).fileName(); }

QString DataFileSource::Hint() const { return QFileInfo(fileName_).absoluteFilePath(); }

QString DataFileSource::SkimContext(int code) const {
  return QStringLiteral("SkimFile(%1): %2").arg(fileName_).arg(code);
}

QString DataFileSource::ReadContext(const QString& row, int code) const {
  return QStringLiteral("ReadFileBlock(%1): BlockIndex: %2: %3").arg(fileName_, row).arg(code);
}

}  // namespace quelm
