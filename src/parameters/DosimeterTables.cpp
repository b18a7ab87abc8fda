#include "parameters/DosimeterTables.h"

#include <cstring>

#include "base/ErrorCodes.h"

namespace quelm {
namespace {

// The identifier as typed, without the upper-case rule of the fields.
const ParamField kPlainIdentifier[] = {{.key = "KTYPE", .offset = 0, .type = ParamType::Char},
                                       {.key = "KSN", .offset = 1, .type = ParamType::Text4}};

}  // namespace

DosimeterTables::DosimeterTables() : Edits(bulbParamFields()) {}

void DosimeterTables::DataRefresh() { Edits.refresh(Table.bytes()); }

CollectFailure DosimeterTables::DefaultDataCollect(LimitPolicy policy) {
  if (CollectFailure f = Edits.collect(bulbKeyList(kDefaultCollect), Table.bytes(), policy)) return f;
  std::memset(Table.Record.KSN, 0, sizeof Table.Record.KSN);
  return {};
}

CollectFailure DosimeterTables::KeyDataCollect(LimitPolicy policy) {
  return Edits.collect(bulbKeyList(kKeyCollect), Own.bytes(), policy, ownBulbParamFields());
}

CollectFailure DosimeterTables::LookupDataCollect(LimitPolicy policy) {
  return Edits.collect(bulbKeyList(kLookupCollect), Table.bytes(), policy);
}

CollectFailure DosimeterTables::TakeIdentifier(bool upperCase) {
  QString type = Edits.text("KTYPE"), serial = Edits.text("KSN");
  if (upperCase) {
    type = type.toUpper();
    serial = serial.toUpper();
  }
  Edits.setText("KTYPE", type.left(1));
  Edits.setText("KSN", serial.left(4));
  return Edits.collect(bulbKeyList(kIdentifierKeys), Table.bytes(), LimitPolicy::Limit, kPlainIdentifier);
}

int DosimeterTables::ReadDefault() { return Table.ReadCOMBlock(); }

DosimeterTables::OwnRead DosimeterTables::ReadOwn() {
  OwnRead r;
  if ((r.code = Own.ReadCOMBlock())) return r;
  r.ownRead = true;
  Table.Record.KTYPE = Own.Record.KTYPE;
  if ((r.code = Table.ReadCOMBlock())) return r;
  r.typeMismatch = Table.Record.KTYPE != Own.Record.KTYPE;
  copyOwnIntoTable();
  return r;
}

int DosimeterTables::ReadLookup() { return Table.ReadLUTBlock(); }

int DosimeterTables::WriteDefault() { return Table.WriteCOMBlock(); }

int DosimeterTables::WriteOwn() { return Own.WriteCOMBlock(); }

DosimeterTables::LookupWrite DosimeterTables::WriteLookup(const std::function<bool()>& overwrite,
                                                          LimitPolicy policy) {
  LookupWrite w;
  if ((w.conversion = LookupDataCollect(policy))) {
    w.outcome = LookupWrite::NotConverted;
    return w;
  }
  // The check reads into a record of its own: the table keeps what the
  // operator is about to write.
  TBulbParamBlock existing;
  std::memcpy(&existing.Record, &Table.Record, kIdentifierBytes);
  const int check = existing.ReadLUTBlock();
  bool deleted = false;
  if (check == 0) {
    if (!overwrite()) {
      w.outcome = LookupWrite::Declined;
      return w;
    }
    uint8_t id[kIdentifierBytes];
    std::memcpy(id, &Table.Record, kIdentifierBytes);
    if ((w.code = Table.DeleteLUT(id))) {
      w.outcome = LookupWrite::Failed;
      w.step = LookupWrite::Delete;
      return w;
    }
    deleted = true;
  } else if (check != kErrReaderRefused) {
    // Without an answer it is unknown whether the entry exists: writing
    // blind could leave the reader two entries for one dosimeter.
    w.code = check;
    w.outcome = LookupWrite::Failed;
    w.step = LookupWrite::Check;
    return w;
  }
  if ((w.code = Table.WriteLUTBlock())) {
    w.outcome = deleted ? LookupWrite::DeletedNotRewritten : LookupWrite::Failed;
    w.step = LookupWrite::Write;
  }
  return w;
}

QString DosimeterTables::LookupWriteMessage(const LookupWrite& w, const QString& id) {
  if (w.outcome == LookupWrite::DeletedNotRewritten)
    return QStringLiteral("The reader's entry %1 was deleted, but the new one could not be written.").arg(id);
  if (w.outcome != LookupWrite::Failed) return {};
  if (w.step == LookupWrite::Delete)
    return QStringLiteral("The reader's entry %1 may have been deleted; the new entry was not written.")
        .arg(id);
  if (w.step == LookupWrite::Write && w.code == kErrReaderRefused) return QStringLiteral("Memory is full!");
  return {};
}

void DosimeterTables::copyOwnIntoTable() {
  const IBulbParamRecord& own = Own.Record;
  BulbParamRecord& t = Table.Record;
  t.KTYPE = own.KTYPE;
  std::memcpy(t.KSN, own.KSN, sizeof t.KSN);
  t.EVASTART = own.EVASTART;
  t.EVALEN = own.EVALEN;
  t.EVANORM = float{own.EVANORM};
}

FileFault DosimeterTables::CheckFile(const QString& name) const {
  switch (Source) {
    case TableSource::Default:
      return checkProfileSection(name, kDefaultKeySection, Edits.fields(), "KSN");
    case TableSource::LookUp:
      return checkProfileSection(name, kLookupKeySection, Edits.fields());
    case TableSource::Dosimeter:
      break;
  }
  return checkProfileSection(name, kIndividualKeySection, ownBulbParamFields());
}

int DosimeterTables::Load(const QString& name) {
  if (Source == TableSource::Dosimeter) {
    if (const int rc = Own.ReadFileBlock(name)) return rc;
    copyOwnIntoTable();
  } else {
    if (const int rc = Table.ReadFileBlock(name)) return rc;
  }
  DataRefresh();
  return 0;
}

int DosimeterTables::Save(const QString& name, CollectFailure* failure, LimitPolicy policy) {
  CollectFailure f;
  switch (Source) {
    case TableSource::Default:
      if (!(f = DefaultDataCollect(policy))) return Table.WriteFileBlock(name);
      break;
    case TableSource::Dosimeter:
      if (!(f = KeyDataCollect(policy))) return Own.WriteFileBlock(name);
      break;
    case TableSource::LookUp:
      if (!(f = LookupDataCollect(policy))) return Table.WriteLUTFileBlock(name);
      break;
  }
  if (failure) *failure = f;
  return -1;
}

QString DosimeterTables::withDptExtension(const QString& name) {
  if (name.right(4).compare(QLatin1String(".dpt"), Qt::CaseInsensitive) == 0) return name;
  return name + QStringLiteral(".dpt");
}

}  // namespace quelm
