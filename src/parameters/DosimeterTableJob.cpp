#include "parameters/DosimeterTableJob.h"

#include <QCoreApplication>
#include <cstring>

#include "base/ErrorCodes.h"
#include "base/ServiceLevel.h"
#include "link/CommandChannel.h"
#include "parameters/LookupTable.h"

namespace quelm {
namespace {

const QString kTitle = QStringLiteral("Dosimeter Parameter Table");

// The identifier as typed, without the upper-case rule of the fields.
const ParamField kPlainIdentifier[] = {{.key = "KTYPE", .offset = 0, .type = ParamType::Char},
                                       {.key = "KSN", .offset = 1, .type = ParamType::Text4}};

}  // namespace

DosimeterTableJob::DosimeterTableJob() : Edits(bulbParamFields()) {
  confirm = [](ParamText question) { return askParamQuestion(question, kTitle); };
  chooseFile = [](FileMode mode) {
    return chooseSharedFile(mode, QStringLiteral("Dosimeter parameter table files (*.dpt)|*.DPT"),
                            QStringLiteral(".dpt"));
  };
  askType = askSerial = pickEntry = [] { return std::optional<QString>(); };
  askTypeAndSerial = [] { return std::optional<std::pair<QString, QString>>(); };
  readOutText = [](uint32_t seconds) { return QString::number(seconds); };
  controls_.edits.resize(static_cast<size_t>(Edits.size()));
  for (int i = 0; i < Edits.size(); ++i) controls_.edits[static_cast<size_t>(i)] = Edits.field(i).caption;
  controls_.write = controls_.writeAs = controls_.lookUp = serviceLevel();
}

void DosimeterTableJob::SetReaderAvailable(bool available) {
  controls_.reader = available;
  controls_.lookUp = available && controls_.writeAs;
}

void DosimeterTableJob::enable(const char* key, bool on) {
  controls_.edits[static_cast<size_t>(Edits.indexOf(key))] = on;
}

void DosimeterTableJob::SetLayout(TableLayout layout) {
  for (const char* key : bulbKeyList(kFunctionEdits)) enable(key, layout != TableLayout::Dosimeter);
  switch (layout) {
    case TableLayout::Default:
      enable("KSN", false);
      controls_.lastReadout = controls_.list = false;
      break;
    case TableLayout::LookUp:
      enable("KSN", true);
      controls_.list = true;
      controls_.lastReadout = false;
      break;
    case TableLayout::Dosimeter:
      for (const char* key : bulbKeyList(kDosimeterEdits)) enable(key, true);
      controls_.lastReadout = true;
      controls_.list = false;
      break;
  }
}

void DosimeterTableJob::ChooseWriteAs(TableSource writeAs) {
  WriteAs = writeAs;
  if (writeAs == TableSource::Dosimeter) SetLayout(TableLayout::Dosimeter);
}

void DosimeterTableJob::ChooseSource(TableSource source) { setSource(source); }

void DosimeterTableJob::setSource(TableSource source) {
  Source = source;
  ChooseWriteAs(source);
}

void DosimeterTableJob::SetErrMask(uint8_t mask) {
  Table.Record.ERRMASK = mask;
  Edits.setText("ERRMASK", QString::number(mask));
}

QString DosimeterTableJob::Identifier() const { return Edits.text("KTYPE") + Edits.text("KSN"); }

void DosimeterTableJob::DataRefresh() {
  Edits.refresh(Table.bytes());
  warning_ = uint8_t(Table.Record.KTYPE) == 3;
  lastReadout_ = Source == TableSource::Dosimeter ? readOutText(uint32_t{Own.Record.LRO}) : QString();
}

CollectFailure DosimeterTableJob::DefaultDataCollect() {
  if (CollectFailure f = Edits.collect(bulbKeyList(kDefaultCollect), Table.bytes(), Policy)) return f;
  std::memset(Table.Record.KSN, 0, sizeof Table.Record.KSN);
  return {};
}

CollectFailure DosimeterTableJob::KeyDataCollect() {
  return Edits.collect(bulbKeyList(kKeyCollect), Own.bytes(), Policy, ownBulbParamFields());
}

CollectFailure DosimeterTableJob::LookupDataCollect() {
  return Edits.collect(bulbKeyList(kLookupCollect), Table.bytes(), Policy);
}

CollectFailure DosimeterTableJob::TakeIdentifier(bool upperCase) {
  QString type = Edits.text("KTYPE"), serial = Edits.text("KSN");
  if (upperCase) {
    type = type.toUpper();
    serial = serial.toUpper();
  }
  Edits.setText("KTYPE", type.left(1));
  Edits.setText("KSN", serial.left(4));
  return Edits.collect(bulbKeyList(kIdentifierKeys), Table.bytes(), LimitPolicy::Limit, kPlainIdentifier);
}

CollectFailure DosimeterTableJob::identifierFault(std::span<const uint8_t> record, bool withSerial) const {
  // The entry dialogs' own rules, on what the record will send.
  const uint8_t kind = record[0];
  QString type(QLatin1Char(static_cast<char>(kind)));
  QString serial =
      QString::fromLatin1(reinterpret_cast<const char*>(record.data()) + 1, kIdentifierBytes - 1);
  const bool special = kind == 2 || kind == 3;
  if (!special && !acceptKeyType(type))
    return {Edits.indexOf("KTYPE"),
            QStringLiteral("'%1' is no dosimeter type: a letter A..Z is needed").arg(Edits.text("KTYPE"))};
  if (withSerial && !acceptKeySN(serial))
    return {
        Edits.indexOf("KSN"),
        QStringLiteral("'%1' is no dosimeter serial number: four digits are needed").arg(Edits.text("KSN"))};
  return {};
}

// --- Read ------------------------------------------------------------------------

ParamOutcome DosimeterTableJob::Read() {
  if (const CollectFailure f = TakeIdentifier(true)) return ParamOutcome::notConverted(f);
  ChooseWriteAs(Source);
  switch (Source) {
    case TableSource::Default:
      if (const std::optional<QString> type = askType()) Edits.setText("KTYPE", *type);
      return readDefault();
    case TableSource::LookUp:
      if (const auto typeAndSerial = askTypeAndSerial()) {
        Edits.setText("KTYPE", typeAndSerial->first);
        Edits.setText("KSN", typeAndSerial->second);
      }
      return readLookup();
    case TableSource::Dosimeter:
      break;
  }
  ParamOutcome o;
  BusyScope busy(onBusy);
  // ".Q0#", then ".M" for its type; the own table's type, serial and
  // evaluation window then go over the default table.
  if (const int rc = Own.ReadCOMBlock(); rc == kErrReaderRefused) {
    warning_ = true;
    o.failWith(ParamText::NoOwnTable);
    return o;
  } else if (rc != 0) {
    o.fail(rc, "ReadCOMBlock");
    return o;
  }
  Table.Record.KTYPE = Own.Record.KTYPE;
  if (const int rc = Table.ReadCOMBlock()) {
    o.fail(rc, "ReadCOMBlock");
    return o;
  }
  if (Table.Record.KTYPE != Own.Record.KTYPE) o.note(ParamText::NoValidDefault);
  copyOwnIntoTable();
  SetLayout(TableLayout::Dosimeter);
  DataRefresh();
  return o;
}

ParamOutcome DosimeterTableJob::readIdentified(TableLayout layout, bool lookup,
                                               const std::function<void(ParamOutcome& o)>& read) {
  SetLayout(layout);
  ParamOutcome o;
  if (const CollectFailure f = TakeIdentifier(false)) {
    o = ParamOutcome::notConverted(f);
  } else {
    BusyScope busy(onBusy);
    read(o);
  }
  DataRefresh();
  controls_.list = lookup;
  enable("KSN", lookup);
  return o;
}

ParamOutcome DosimeterTableJob::readDefault() {
  return readIdentified(TableLayout::Default, false, [this](ParamOutcome& o) {
    const char asked = Table.Record.KTYPE;
    if (const int rc = Table.ReadCOMBlock())
      o.fail(rc, "ReadCOMBlock");
    else if (Table.Record.KTYPE != asked)
      o.note(ParamText::OtherTypeAnswered, QString(QChar(uint8_t(Table.Record.KTYPE))));
  });
}

ParamOutcome DosimeterTableJob::readLookup() {
  return readIdentified(TableLayout::LookUp, true, [this](ParamOutcome& o) {
    // A failed read leaves the table as it was, with the new identifier.
    if (const int rc = Table.ReadLUTBlock(); rc == kErrReaderRefused)
      o.failWith(ParamText::EntryNotFound);
    else if (rc != 0)
      o.fail(rc, "ReadLUTBlock");
  });
}

ParamOutcome DosimeterTableJob::List() {
  const std::optional<QString> id = pickEntry();
  if (!id) return ParamOutcome::nothing();
  Edits.setText("KTYPE", id->left(1));
  Edits.setText("KSN", id->mid(1, 4));
  return readLookup();
}

// --- Write -----------------------------------------------------------------------

ParamOutcome DosimeterTableJob::Write() {
  // A stop asked for after an earlier Write ended belongs to that one.
  abort_.clear();
  // Greyed below the service level; nothing reaches the reader from here then.
  if (!controls_.write || !confirm(ParamText::AreYouSure)) return ParamOutcome::nothing();
  // Held from the first command to the last read-back: no other program
  // may come between the delete of an entry and the write of its successor.
  LineHold line;
  ParamOutcome o;
  switch (WriteAs) {
    case TableSource::Default:
      o = writeDefault();
      break;
    case TableSource::Dosimeter:
      o = writeOwn();
      break;
    case TableSource::LookUp:
      o = writeLookupAs();
      break;
  }
  abort_.clear();
  return o;
}

bool DosimeterTableJob::stopHere(ParamOutcome& o, const char* step) {
  // A request whose notice is still pending (a signal during the last
  // exchange) is met here, not after the next step; clicks wait.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  if (!abort_.take()) return false;
  o.fail(kErrUserAbort, step);
  return true;
}

void DosimeterTableJob::keepReserved(const BulbParamRecord* replaced) {
  if (!ReservedFromReader) return;
  BulbParamRecord& t = Table.Record;
  t.Reserved9 = replaced ? replaced->Reserved9 : 0;
  if (replaced)
    std::memcpy(t.Reserved58, replaced->Reserved58, sizeof t.Reserved58);
  else
    std::memset(t.Reserved58, 0, sizeof t.Reserved58);
}

ParamOutcome DosimeterTableJob::writeDefault() {
  ParamOutcome o;
  {
    BusyScope busy(onBusy);
    // Nothing was written: re-reading the table now would only throw away
    // what the operator typed.
    if (const CollectFailure f = DefaultDataCollect()) return ParamOutcome::notConverted(f);
    if (const CollectFailure f = identifierFault(Table.bytes(), false)) return ParamOutcome::notConverted(f);
    if (ReservedFromReader) {
      TBulbParamBlock replaced;
      replaced.Record.KTYPE = Table.Record.KTYPE;
      if (const int rc = replaced.ReadCOMBlock()) {
        o.fail(rc, "ReadCOMBlock");
        return o;
      }
      // A reader without the type's table answers with another type's: the
      // write then makes a new one.
      keepReserved(replaced.Record.KTYPE == Table.Record.KTYPE ? &replaced.Record : nullptr);
    }
    if (stopHere(o, "WriteCOMBlock")) return o;
    if (const int rc = Table.WriteCOMBlock()) o.fail(rc, "WriteCOMBlock");
  }
  // The window then shows what the reader holds for the type.
  o.add(readDefault());
  setSource(TableSource::Default);
  return o;
}

ParamOutcome DosimeterTableJob::writeOwn() {
  const ParamOutcome o = sendOwn();
  SetLayout(TableLayout::Dosimeter);
  setSource(TableSource::Dosimeter);
  return o;
}

ParamOutcome DosimeterTableJob::sendOwn() {
  BusyScope busy(onBusy);
  if (CollectFailure f = KeyDataCollect(); f || (f = identifierFault(Own.bytes(), true)))
    return ParamOutcome::notConverted(f);
  ParamOutcome o;
  // A refusal of either command: no dosimeter in the reader.
  const auto failed = [&](int rc, const char* step) {
    if (rc == kErrReaderRefused) {
      warning_ = true;
      o.failWith(ParamText::NoOwnTable);
    } else if (rc != 0) {
      o.fail(rc, step);
    }
    return rc != 0;
  };
  if (ReservedFromReader) {
    TIBulbParamBlock replaced;
    if (failed(replaced.ReadCOMBlock(), "ReadCOMBlock")) return o;
    Own.Record.Reserved15 = replaced.Record.Reserved15;
  }
  if (stopHere(o, "WriteCOMBlock")) return o;
  failed(Own.WriteCOMBlock(), "WriteCOMBlock");
  return o;
}

ParamOutcome DosimeterTableJob::writeLookupAs() {
  ParamOutcome o;
  bool write = true;
  if (Source == TableSource::Default) {
    const std::optional<QString> serial = askSerial();
    write = serial.has_value();
    if (write) Edits.setText("KSN", *serial);
  }
  if (!write) {
    o.kind = ParamOutcome::kNothing;
  } else {
    o = writeLookup();
    // Read back only what went in: after a refusal or a failed write the
    // window keeps the entry as typed, so that Write can be repeated.
    if (o.kind == ParamOutcome::kDone) o.add(readLookup());
  }
  setSource(TableSource::LookUp);
  return o;
}

// Every edit is converted first; then the reader is asked whether it holds
// the entry, and an existing one is replaced only when the operator says
// so (".E", then ".Z"). Nothing is deleted before the new entry is known to
// be convertible.
ParamOutcome DosimeterTableJob::writeLookup() {
  BusyScope busy(onBusy);
  if (const CollectFailure f = LookupDataCollect()) return ParamOutcome::notConverted(f);
  if (const CollectFailure f = identifierFault(Table.bytes(), true)) return ParamOutcome::notConverted(f);
  ParamOutcome o;
  const QString id = Identifier();
  // The check reads into a record of its own: the table keeps what the
  // operator is about to write.
  TBulbParamBlock existing;
  std::memcpy(&existing.Record, &Table.Record, kIdentifierBytes);
  const int check = existing.ReadLUTBlock();
  if (check == 0 || check == kErrReaderRefused) keepReserved(check == 0 ? &existing.Record : nullptr);
  if (check != 0 && check != kErrReaderRefused) {
    // Without an answer it is unknown whether the entry exists: writing
    // blind could leave the reader two entries for one dosimeter.
    o.fail(check, "WriteLUTBlock");
    return o;
  }
  if (check == 0) {
    busy.release();
    if (!confirm(ParamText::EntryExists)) return ParamOutcome::nothing();
    busy.resume();
  }
  // The last point to stop: from the delete on, the new entry goes in
  // whatever is asked, or the reader would be left without one.
  if (stopHere(o, "WriteLUTBlock")) return o;
  return check == 0 ? replaceLookup(id) : writeSettled(id, false);
}

// A reply that failed or did not come says nothing of what the reader did:
// a delete whose reply was late was carried out, and so was such a write.
// So after any failure from the delete on, the entry is read back while the
// line is still held, and only what the reader then holds decides.
DosimeterTableJob::Held DosimeterTableJob::heldEntry() const {
  TBulbParamBlock back;
  std::memcpy(&back.Record, &Table.Record, kIdentifierBytes);
  const int rc = back.ReadLUTBlock();
  if (rc == kErrReaderRefused) return Held::Nothing;
  if (rc != 0) return Held::Unknown;
  return std::memcmp(&back.Record, &Table.Record, sizeof back.Record) == 0 ? Held::Sent : Held::Other;
}

namespace {
ParamOutcome settledFailure(ParamText text, const QString& id, int rc) {
  ParamOutcome o;
  if (text != ParamText::None) o.failWith(text, id);
  o.fail(rc, "WriteLUTBlock");
  return o;
}
}  // namespace

ParamOutcome DosimeterTableJob::replaceLookup(const QString& id) {
  uint8_t key[kIdentifierBytes];
  std::memcpy(key, &Table.Record, kIdentifierBytes);
  if (const int rc = Table.DeleteLUT(key)) {
    switch (heldEntry()) {
      case Held::Unknown:
        return settledFailure(ParamText::EntryMayBeDeleted, id, rc);
      case Held::Other:
        return settledFailure(ParamText::EntryNotReplaced, id, rc);
      case Held::Sent:
        return {};
      case Held::Nothing:
        break;
    }
  }
  return writeSettled(id, true);
}

// No entry gets the new one (once more after a failed write); the new one
// found is done. The reader's own refusal of a new entry means its table
// is full.
ParamOutcome DosimeterTableJob::writeSettled(const QString& id, bool replacing) {
  for (int writes = 1;; ++writes) {
    const int rc = Table.WriteLUTBlock();
    if (rc == 0) return {};
    if (!replacing && rc == kErrReaderRefused) return settledFailure(ParamText::MemoryFull, QString(), rc);
    switch (heldEntry()) {
      case Held::Sent:
        return {};
      case Held::Nothing:
        if (writes < 2) continue;
        return settledFailure(replacing ? ParamText::EntryDeletedNotWritten : ParamText::None, id, rc);
      case Held::Other:
        return settledFailure(ParamText::EntryDiffers, id, rc);
      case Held::Unknown:
        return settledFailure(
            replacing ? ParamText::EntryMayNotBeWritten : ParamText::NewEntryMayNotBeWritten, id, rc);
    }
  }
}

// --- Files -----------------------------------------------------------------------

void DosimeterTableJob::copyOwnIntoTable() {
  const IBulbParamRecord& own = Own.Record;
  BulbParamRecord& t = Table.Record;
  t.KTYPE = own.KTYPE;
  std::memcpy(t.KSN, own.KSN, sizeof t.KSN);
  t.EVASTART = own.EVASTART;
  t.EVALEN = own.EVALEN;
  t.EVANORM = float{own.EVANORM};
}

QString DosimeterTableJob::SourceSection() const {
  switch (Source) {
    case TableSource::Default:
      return kDefaultKeySection;
    case TableSource::LookUp:
      return kLookupKeySection;
    case TableSource::Dosimeter:
      break;
  }
  return kIndividualKeySection;
}

FileFault DosimeterTableJob::CheckFile(const QString& name) const {
  if (Source == TableSource::Dosimeter)
    return checkProfileSection(name, kIndividualKeySection, ownBulbParamFields());
  return checkProfileSection(name, SourceSection(), Edits.fields(),
                             Source == TableSource::Default ? "KSN" : nullptr);
}

int DosimeterTableJob::loadFile(const QString& name, bool lookUpSection) {
  if (Source == TableSource::Dosimeter) {
    if (const int rc = Own.ReadFileBlock(name)) return rc;
    copyOwnIntoTable();
  } else if (const int rc = lookUpSection ? Table.ReadLUTFileBlock(name) : Table.ReadFileBlock(name)) {
    return rc;
  }
  DataRefresh();
  return 0;
}

int DosimeterTableJob::LoadSourceSection(const QString& name) {
  return loadFile(name, Source == TableSource::LookUp);
}

ParamOutcome DosimeterTableJob::Load() {
  const std::optional<QString> name = chooseFile(FileMode::Open);
  if (!name) return ParamOutcome::nothing();
  ParamOutcome o;
  BusyScope busy(onBusy);
  if (const int rc = loadFile(*name, false)) o.fail(rc, "ReadFileBlock");
  return o;
}

ParamOutcome DosimeterTableJob::Save() {
  const std::optional<QString> name = chooseFile(FileMode::Save);
  if (!name) return ParamOutcome::nothing();
  BusyScope busy(onBusy);
  CollectFailure f;
  int rc = 0;
  switch (Source) {
    case TableSource::Default:
      if (!(f = DefaultDataCollect())) rc = Table.WriteFileBlock(*name);
      break;
    case TableSource::Dosimeter:
      if (!(f = KeyDataCollect())) rc = Own.WriteFileBlock(*name);
      break;
    case TableSource::LookUp:
      if (!(f = LookupDataCollect())) rc = Table.WriteLUTFileBlock(*name);
      break;
  }
  if (f) return ParamOutcome::notConverted(f);
  ParamOutcome o;
  if (rc != 0) o.fail(rc, "WriteFileBlock", *name);
  return o;
}

}  // namespace quelm
