// The dosimeter parameter tables: .dpt sections, the collect rules, the
// reader commands and the look-up workflow against the simulated reader.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <deque>
#include <functional>
#include <set>

#include "ParamReaderRig.h"
#include "ReaderParams.h"
#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "base/IniFile.h"
#include "base/ServiceLevel.h"
#include "link/Frame.h"
#include "parameters/DosimeterTableJob.h"
#include "parameters/LookupTable.h"

using namespace quelm;
using namespace quelm::test;

namespace {

QByteArray bytesOf(const void* p, int n) { return QByteArray(static_cast<const char*>(p), n); }

class DosimeterFileTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
  QString value(const QString& section, const char* key) const {
    return IniFile(path("out.dpt")).ReadString(section, QLatin1String(key), QStringLiteral("<none>"));
  }
};

TEST_F(DosimeterFileTest, ValuesAreReadWithTheFileRulesAndWrittenBackFromTheRecord) {
  struct Case {
    const char* line;
    const char* key;
    std::function<void(const BulbParamRecord&)> check;
    const char* writtenBack;
  };
  const Case cases[] = {
      {"TLIM=305", "TLIM", [](const BulbParamRecord& r) { EXPECT_EQ(int{r.TLIM}, 30); }, "300"},
      {"TLIM=3000", "TLIM", [](const BulbParamRecord& r) { EXPECT_EQ(int{r.TLIM}, 44); }, "440"},
      {"HEATC=5000", "HEATC", [](const BulbParamRecord& r) { EXPECT_EQ(int{r.HEATC}, 1000); }, "4000"},
      {"HEATC=1002", "HEATC", [](const BulbParamRecord& r) { EXPECT_EQ(int{r.HEATC}, 250); }, "1000"},
      {"HUS=0x1FF", "HUS", [](const BulbParamRecord& r) { EXPECT_EQ(int{r.HUS}, 255); }, "255"},
      {"EVANORM=1.25", "ERRMASK", [](const BulbParamRecord& r) { EXPECT_EQ(int{r.ERRMASK}, 255); }, "255"},
      {"KTYPE=b", "KTYPE",
       [](const BulbParamRecord& r) { EXPECT_EQ(bytesOf(&r, 5), QByteArray("b\0XYZ", 5)); }, "b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    WriteFile(path("in.dpt"), QByteArray("[Default Key Parameter Table]\r\n") + c.line + "\r\n");
    TBulbParamBlock b;
    std::memcpy(b.Record.KSN, "WXYZ", 4);
    b.ReadFileBlock(path("in.dpt"));
    c.check(b.Record);
    ASSERT_EQ(b.WriteFileBlock(path("out.dpt")), 0);
    EXPECT_EQ(value(kDefaultKeySection, c.key), QString::fromLatin1(c.writtenBack));
  }
}

TEST_F(DosimeterFileTest, OneFileHoldsAllThreeSectionsAndOnlyTheLookUpOneHasKsn) {
  TBulbParamBlock table;
  table.Record = sim::ParameterState::MakeTable('C', "0815");
  TIBulbParamBlock own;
  own.Record.KTYPE = 'C';
  std::memcpy(own.Record.KSN, "0815", 4);
  own.Record.EVANORM = 0.8125f;
  own.Record.LRO = 4294967295u;
  own.Record.Reserved15 = 7;
  ASSERT_EQ(table.WriteFileBlock(path("out.dpt")), 0);
  ASSERT_EQ(table.WriteLUTFileBlock(path("out.dpt")), 0);
  ASSERT_EQ(own.WriteFileBlock(path("out.dpt")), 0);
  const IniFile file(path("out.dpt"));
  EXPECT_EQ(
      file.ReadSection(kDefaultKeySection).join(','),
      "KTYPE,TS,EVASTART,EVALEN,EVANORM,HUS,TREG,TLIM,BGCOR,MDOSE,HEATC,KANN,TANN,DTFA,DTFB,DLFA,DLFB,DLFN,"
      "DHFA,DHFB,IPH,ERRMASK");
  EXPECT_EQ(file.ReadSection(kLookupKeySection).size(), 23);
  EXPECT_EQ(file.ReadSection(kIndividualKeySection).join(','), "KTYPE,KSN,EVASTART,EVALEN,EVANORM,LRO");
  EXPECT_EQ(value(kLookupKeySection, "KSN"), "0815");
  EXPECT_EQ(value(kIndividualKeySection, "LRO"), "4294967295");

  // Back: everything but the reserved bytes, and no KSN from the default section.
  TBulbParamBlock fromDefault, fromLookup;
  std::memcpy(fromDefault.Record.KSN, "WXYZ", 4);
  fromDefault.ReadFileBlock(path("out.dpt"));
  fromLookup.ReadLUTFileBlock(path("out.dpt"));
  TIBulbParamBlock ownBack;
  ownBack.ReadFileBlock(path("out.dpt"));
  EXPECT_EQ(bytesOf(fromDefault.Record.KSN, 4), QByteArray("\0XYZ", 4));
  EXPECT_EQ(bytesOf(&fromLookup.Record, 9), bytesOf(&table.Record, 9));
  EXPECT_EQ(bytesOf(&fromLookup.Record.EVASTART, 48), bytesOf(&table.Record.EVASTART, 48));
  EXPECT_EQ(bytesOf(&ownBack.Record, 15), bytesOf(&own.Record, 15));
}

// --- Collect rules --------------------------------------------------------------

class DosimeterCollectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t.Table.Record = sim::ParameterState::MakeTable('A', "0001");
    t.DataRefresh();
  }
  DosimeterTableJob t;
};

TEST_F(DosimeterCollectTest, TypedValuesAreTakenAsTheWindowTakesThem) {
  t.Edits.setText("TLIM", "305");
  t.Edits.setText("HEATC", "4500");
  t.Edits.setText("EVANORM", "-2");
  t.Edits.setText("KTYPE", "b");
  t.Edits.setText("TS", "255");
  ASSERT_FALSE(t.DefaultDataCollect());
  EXPECT_EQ(int{t.Table.Record.TLIM}, 30);
  EXPECT_EQ(int{t.Table.Record.HEATC}, 1000);
  EXPECT_EQ(float{t.Table.Record.EVANORM}, 0.0f);
  EXPECT_EQ(int{t.Table.Record.TS}, 255);
  EXPECT_EQ(t.Edits.text("KTYPE"), "B");
  EXPECT_EQ(bytesOf(&t.Table.Record, 5), QByteArray("B\0\0\0\0", 5)) << "a default table has no serial";
  t.DataRefresh();
  EXPECT_EQ(t.Edits.text("TLIM"), "300");
  EXPECT_EQ(t.Edits.text("HEATC"), "4000");
  EXPECT_EQ(t.Edits.text("DTFA"), "1.5E-06");

  // A current typed below 0 is the lowest, never the highest.
  for (const auto& [typed, stored] : {std::pair{"-4", 0}, {"-70000", 0}, {"70000", 1000}}) {
    t.Edits.setText("HEATC", typed);
    ASSERT_FALSE(t.DefaultDataCollect());
    EXPECT_EQ(int{t.Table.Record.HEATC}, stored) << typed;
  }
}

// Only some low bits of a number its bytes cannot hold would reach the
// reader (-10 'C as the heating limit was 1520 'C): such a number is
// refused, the window's limiting policy or not, and the record keeps what it held.
TEST_F(DosimeterCollectTest, ANumberItsBytesCannotHoldIsRefused) {
  const uint8_t tlim = t.Table.Record.TLIM, ts = t.Table.Record.TS;
  for (const auto& [key, typed, message] : {std::tuple{"TLIM", "-10", "TLIM: -10 is outside 0..2550"},
                                            {"TLIM", "2560", "TLIM: 2560 is outside 0..2550"},
                                            {"TS", "300", "TS: 300 is outside 0..255"},
                                            {"TS", "-1", "TS: -1 is outside 0..255"},
                                            {"TREG", "256", "TREG: 256 is outside 0..255"}}) {
    for (const LimitPolicy policy : {LimitPolicy::Limit, LimitPolicy::Refuse}) {
      t.DataRefresh();
      t.Policy = policy;
      t.Edits.setText(key, typed);
      const CollectFailure f = t.DefaultDataCollect();
      EXPECT_EQ(f.message, message);
      EXPECT_EQ(f.index, t.Edits.indexOf(key)) << key;
    }
  }
  EXPECT_EQ(t.Table.Record.TLIM, tlim);
  EXPECT_EQ(t.Table.Record.TS, ts);
}

TEST_F(DosimeterCollectTest, EachCollectTakesItsOwnFields) {
  t.Own.Record.LRO = 12345;
  t.Own.Record.Reserved15 = 9;
  for (const char* key : {"DTFA", "DTFB", "DLFB", "DLFN", "DHFA", "DHFB"}) t.Edits.setText(key, "7");
  t.Edits.setText("KSN", "ab12");
  t.Edits.setText("EVALEN", "60");
  ASSERT_FALSE(t.KeyDataCollect());
  EXPECT_EQ(bytesOf(&t.Own.Record, 7), QByteArray("AAB12\x14\x3C", 7));
  EXPECT_EQ(uint32_t{t.Own.Record.LRO}, 12345u);
  EXPECT_EQ(int{t.Own.Record.Reserved15}, 9);

  ASSERT_FALSE(t.LookupDataCollect());
  for (const float v : {float{t.Table.Record.DTFA}, float{t.Table.Record.DTFB}, float{t.Table.Record.DLFB},
                        float{t.Table.Record.DLFN}, float{t.Table.Record.DHFA}, float{t.Table.Record.DHFB}})
    EXPECT_EQ(v, 7.0f) << "the look-up layout's function edits are taken";
  EXPECT_EQ(float{t.Table.Record.KANN}, 0.75f) << "fields without an edit keep their value";
  EXPECT_EQ(int{t.Table.Record.Reserved9}, 0x99);
}

TEST(EntryDialogRules, TypeAndSerialAreCutAndChecked) {
  struct Case {
    const char* type;
    const char* serial;
    bool closes;
    const char* typeAfter;
    const char* serialAfter;
  };
  const Case typeAndSerial[] = {{"q", "0042", true, "Q", "0042"},
                                {"Q", "42x1", false, "Q", "42x1"},
                                {"", "12", true, "", "12"},
                                {"7", "abc", true, "7", "abc"},
                                {"ab", "001234", true, "A", "0012"}};
  for (const Case& c : typeAndSerial) {
    QString type = c.type, serial = c.serial;
    EXPECT_EQ(acceptKeyTypeSN(type, serial), c.closes) << c.type << "/" << c.serial;
    EXPECT_EQ(type, c.typeAfter);
    EXPECT_EQ(serial, c.serialAfter);
  }
  for (const auto& [text, closes, after] :
       {std::tuple{"ab", true, "A"}, {"1", false, "1"}, {"", false, ""}, {"z9", true, "Z"}}) {
    QString t = text;
    EXPECT_EQ(acceptKeyType(t), closes) << text;
    EXPECT_EQ(t, after);
  }
  for (const auto& [text, closes] :
       {std::pair{"12a4", false}, {"123", false}, {"0042", true}, {"00421", true}}) {
    QString s = text;
    EXPECT_EQ(acceptKeySN(s), closes) << text;
  }
}

// --- Reader commands ---------------------------------------------------------------

Bytes frameWith(uint8_t letter, int dataBytes, uint8_t fill) {
  Bytes payload(static_cast<size_t>(dataBytes) + 1, fill);
  payload[0] = letter;
  Bytes f(payload.size() + kFrameOverhead);
  BuildFrame(f.data(), 0x80, payload.data(), static_cast<int>(payload.size()));
  return f;
}

TEST(DosimeterCommands, TablesComeFromTheReaderAndGoBackWithTypeTwoSentAsThree) {
  ScriptedPrompter prompter;
  ParamReaderRig rig;
  sim::ParameterState& reader = rig.model.Parameters();
  DosimeterTableJob t;
  t.Table.Record.KTYPE = 'B';
  ASSERT_EQ(t.Table.ReadCOMBlock(), 0);
  EXPECT_EQ(bytesOf(&t.Table.Record, 64), bytesOf(&reader.DefaultTables['B'], 64));
  t.Table.Record.KTYPE = 'A';
  std::memcpy(t.Table.Record.KSN, "0417", 4);
  ASSERT_EQ(t.Table.ReadLUTBlock(), 0);
  EXPECT_EQ(bytesOf(&t.Table.Record, 64), bytesOf(&reader.LookupTable[2], 64));
  // The dosimeter's own table over the default table of its type.
  const ParamOutcome own = t.Read();
  ASSERT_EQ(own.kind, ParamOutcome::kDone);
  EXPECT_TRUE(own.reports.empty());
  EXPECT_EQ(bytesOf(&t.Own.Record, 16), bytesOf(&reader.OwnTable, 16));
  EXPECT_EQ(bytesOf(&t.Table.Record, 5), QByteArray("A0042"));
  EXPECT_EQ(float{t.Table.Record.EVANORM}, 1.0375f);

  t.Table.Record.KTYPE = 2;
  t.Own.Record.KTYPE = 2;
  ASSERT_EQ(t.Table.WriteCOMBlock(), 0);
  ASSERT_EQ(t.Table.WriteLUTBlock(), 0);
  ASSERT_EQ(t.Own.WriteCOMBlock(), 0);
  const std::vector<Bytes> sent = rig.commands();
  ASSERT_GE(sent.size(), 3u);
  for (size_t k = sent.size() - 3; k < sent.size(); ++k) {
    EXPECT_EQ(sent[k][2], 3) << "command " << char(sent[k][1]);
    EXPECT_EQ(sent[k].back(), '#');
  }
  EXPECT_EQ(sent[sent.size() - 3].size(), 67u);
  EXPECT_EQ(sent.back().size(), 19u);
  EXPECT_EQ(int{t.Table.Record.KTYPE}, 2);
  EXPECT_EQ(int{reader.OwnTable.KTYPE}, 3);
  EXPECT_TRUE(reader.DefaultTables.count(3));
}

TEST(DosimeterCommands, RefusedOrShortRepliesNeverFillARecord) {
  ScriptedPrompter prompter;
  ParamReaderRig rig;
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::function<int(DosimeterTableJob&)> read;
    int code;
    bool clears;  // the record is cleared before the command
  };
  auto& m = rig.model;
  // A reply that does not fit its command fails the attempt, and the link
  // tries once more: both attempts get the bad reply.
  const auto twice = [&](const std::vector<uint8_t>& f) { m.RawReplies.insert(m.RawReplies.end(), {f, f}); };
  const Case cases[] = {
      {".M short", [&] { twice(frameWith('M', 63, 0x11)); }, [](auto& t) { return t.Table.ReadCOMBlock(); },
       kErrReceiveTimeout, true},
      {".M refused", [&] { m.Script.push_back(sim::kFaultRefuse); },
       [](auto& t) { return t.Table.ReadCOMBlock(); }, kErrReaderRefused, true},
      {".X missing", [] {}, [](auto& t) { return t.Table.ReadLUTBlock(); }, kErrReaderRefused, false},
      {".X short", [&] { twice(frameWith('X', 20, 0x11)); }, [](auto& t) { return t.Table.ReadLUTBlock(); },
       kErrReceiveTimeout, false},
      {".Q0# short", [&] { twice(frameWith('Q', 15, 0x11)); }, [](auto& t) { return t.Own.ReadCOMBlock(); },
       kErrReceiveTimeout, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DosimeterTableJob t;
    std::memset(&t.Table.Record, 0x33, 64);
    t.Table.Record.KTYPE = 'Q';  // no such entry or own table type
    std::memset(&t.Own.Record, 0x33, 16);
    c.arrange();
    EXPECT_EQ(c.read(t), c.code);
    const char fill = c.clears ? 0 : 0x33;
    if (&c == &cases[4])  // the own table
      EXPECT_EQ(bytesOf(&t.Own.Record, 16), QByteArray(16, 0));
    else
      EXPECT_EQ(bytesOf(&t.Table.Record.KSN, 63), QByteArray(63, fill));
  }
  m.Parameters().OwnPresent = false;
  DosimeterTableJob t;
  const ParamOutcome own = t.Read();
  EXPECT_EQ(own.kind, ParamOutcome::kFailed);
  ASSERT_EQ(own.reports.size(), 1u);
  EXPECT_EQ(own.reports[0].text, ParamText::NoOwnTable) << "no code: the window shows its warning instead";
  EXPECT_TRUE(t.Warning());
  EXPECT_EQ(t.Own.WriteCOMBlock(), kErrReaderRefused);
}

TEST(DosimeterCommands, TheDirectoryIsReadPageByPageAndSorted) {
  ScriptedPrompter prompter;
  ParamReaderRig rig;
  auto& lut = rig.model.Parameters().LookupTable;
  lut.clear();
  for (int k = 24; k >= 0; --k)
    lut.push_back(sim::ParameterState::MakeTable('A', QByteArray::number(1000 + k).constData()));
  TBulbParamBlock commands;
  std::vector<LookupEntry> entries = ReadLookupDirectory(commands);
  ASSERT_EQ(entries.size(), 25u);
  EXPECT_EQ(entries.front().text, "A1000");
  EXPECT_EQ(entries.back().text, "A1024");
  std::vector<int> pages;
  for (const Bytes& c : rig.commands()) pages.push_back(c[2]);
  EXPECT_EQ(pages, (std::vector<int>{0, 1, 2}));

  // Seven identifiers: 35 bytes, the rest of the page zeros.
  lut.resize(7);
  uint8_t page[kDirectoryPageBytes];
  std::memset(page, 0x77, sizeof page);
  uint16_t length = 0;
  ASSERT_EQ(commands.ReadLUTList(page, 0, &length), 0);
  EXPECT_EQ(length, 35);
  EXPECT_EQ(bytesOf(page + 35, 15), QByteArray(15, 0));

  // A reader answering every page in full is asked for 96 pages only.
  lut.assign(1000, sim::ParameterState::MakeTable('B', "0001"));
  rig.model.Requests.clear();
  EXPECT_EQ(ReadLookupDirectory(commands).size(), 960u);
  EXPECT_EQ(rig.commands().size(), 96u);
  EXPECT_EQ(rig.commands().back()[2], 95);

  // A failed page ends the listing with what was read.
  lut.resize(30);
  rig.model.Script = {0, sim::kFaultRefuse};
  int code = 0;
  EXPECT_EQ(ReadLookupDirectory(commands, &code).size(), 10u);
  EXPECT_EQ(code, kErrReaderRefused);
}

// --- The look-up write --------------------------------------------------------------

class LookupWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t.confirm = [this](ParamText q) { return q == ParamText::AreYouSure || (++asked, overwrite); };
    t.ChooseSource(TableSource::LookUp);
    t.Table.Record = sim::ParameterState::MakeTable('A', "0002");
    t.DataRefresh();
    t.Edits.setText("TANN", "33");
    rig.model.Requests.clear();
  }
  // The outcome's texts and codes, in order.
  static std::vector<std::pair<ParamText, int>> told(const ParamOutcome& o) {
    std::vector<std::pair<ParamText, int>> v;
    for (const ParamReport& r : o.reports) v.emplace_back(r.text, r.code);
    return v;
  }
  DiagScope diag{kServiceLevelBits};  // the job takes it when it is made
  ScriptedPrompter prompter;
  ParamReaderRig rig;
  DosimeterTableJob t;
  bool overwrite = false;
  int asked = 0;
};

TEST_F(LookupWriteTest, AnExistingEntryIsReplacedOnlyWhenOverwriteIsChosen) {
  EXPECT_EQ(t.Write().kind, ParamOutcome::kNothing);
  EXPECT_EQ(rig.letters(), "X") << "declined: nothing is written back";
  EXPECT_EQ(int{rig.lookupEntry("A0002")->TANN}, 10);
  EXPECT_EQ(int{t.Table.Record.TANN}, 33) << "the window keeps what was typed";

  overwrite = true;
  EXPECT_EQ(t.Write().kind, ParamOutcome::kDone);
  EXPECT_EQ(rig.letters(), "XXEZX") << "and read back";
  EXPECT_EQ(int{rig.lookupEntry("A0002")->TANN}, 33);
  EXPECT_EQ(asked, 2);

  t.Edits.setText("KSN", "0777");
  EXPECT_EQ(t.Write().kind, ParamOutcome::kDone);
  EXPECT_EQ(asked, 2) << "a new entry needs no question";
  ASSERT_NE(rig.lookupEntry("A0777"), nullptr);
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(LookupWriteTest, NothingIsDeletedBeforeEveryEditConvertedAndAFailureAfterTheDeleteIsNamed) {
  overwrite = true;
  t.Edits.setText("DLFN", "1o");
  ParamOutcome o = t.Write();
  EXPECT_EQ(o.kind, ParamOutcome::kNotConverted);
  EXPECT_EQ(o.conversion.message, "'1o' is not a valid floating point value");
  EXPECT_TRUE(rig.commands().empty());

  t.Edits.setText("DLFN", "10");
  // .X, .E, .Z refused, the read-back finds nothing, the second .Z refused too
  rig.model.Script = {0, 0, sim::kFaultRefuse, 0, sim::kFaultRefuse};
  o = t.Write();
  using Told = std::vector<std::pair<ParamText, int>>;
  EXPECT_EQ(told(o), Told({{ParamText::EntryDeletedNotWritten, 0}, {ParamText::None, kErrReaderRefused}}));
  EXPECT_EQ(paramText(o.reports[0].text, o.reports[0].arg),
            "The reader's entry A0002 was deleted, but the new one could not be written.");
  EXPECT_EQ(rig.lookupEntry("A0002"), nullptr);
  EXPECT_EQ(float{t.Table.Record.DLFN}, 10.0f) << "kept for another Write";

  rig.model.Parameters().LookupCapacity = rig.model.Parameters().LookupTable.size();
  EXPECT_EQ(told(t.Write()), Told({{ParamText::MemoryFull, 0}, {ParamText::None, kErrReaderRefused}}));

  // A check that gets no answer writes nothing.
  rig.model.Requests.clear();
  rig.model.Script = {sim::kFaultBusy, sim::kFaultBusy};
  EXPECT_EQ(told(t.Write()), Told({{ParamText::None, kErrReaderBusy}}));
  EXPECT_EQ(rig.letters(), "XX");
}

// The link to the simulated reader, but the replies of the commands picked
// by their number (from 0) are lost after the reader carried them out: what
// a late reply leaves the program with, without waiting for one.
class LosingChannel final : public TCommandChannel {
 public:
  explicit LosingChannel(TFrameLink& link) : link_(link) { SetCommandChannel(this); }
  ~LosingChannel() override { SetCommandChannel(&link_.Channel()); }
  std::set<int> lost;
  std::function<void(int n)> after;  // runs after the reader took command n
  int sent = 0, unheld = 0;

  int SendCOMCmd(uint8_t* payload, uint16_t length, uint16_t* out) override {
    return SendCheckedCOMCmd(payload, length, out, {});
  }
  int SendCheckedCOMCmd(uint8_t* payload, uint16_t length, uint16_t* out, const ReplyCheck& check) override {
    const int n = sent++;
    if (!link_.LineHeld()) ++unheld;
    const int rc = link_.Channel().SendCheckedCOMCmd(payload, length, out, check);
    if (after) after(n);
    return rc == 0 && lost.count(n) ? kErrReceiveTimeout : rc;
  }
  const uint8_t* RcvFrame() const override { return link_.Channel().RcvFrame(); }
  uint16_t RcvCount() const override { return link_.Channel().RcvCount(); }
  void ResetAtNextExchange() override { link_.Channel().ResetAtNextExchange(); }
  void HoldLine() override { link_.Channel().HoldLine(); }
  void ReleaseLine() override { link_.Channel().ReleaseLine(); }

 private:
  TFrameLink& link_;
};

// From the delete on (for a new entry from its write on), a failed or
// unclear reply is settled by reading the entry back on the held line:
// only what the reader then holds is told, and an entry found missing is
// written (once more).
TEST_F(LookupWriteTest, AFailureAfterTheDeleteIsSettledByWhatTheReadBackFinds) {
  overwrite = true;
  using Told = std::vector<std::pair<ParamText, int>>;
  const auto failed = [](ParamText text, int code) { return Told{{text, 0}, {ParamText::None, code}}; };
  constexpr int kLost = kErrReceiveTimeout, kRefused = kErrReaderRefused;
  // Commands from 0: the check .X, the .E, then as the letters say.
  struct Case {
    const char* name;
    std::deque<unsigned> script;
    std::set<int> lost;
    int meddleAfter;  // the reader's entry changes after this command (-1: never)
    const char* letters;
    Told told;
    int tann;            // the reader's entry afterwards (0: none)
    bool fresh = false;  // the reader has no entry before: commands from the check .X, then .Z
  };
  const Case cases[] = {
      {"delete done, its reply lost", {}, {1}, -1, "XEXZX", {}, 33},
      {"delete refused",
       {0, sim::kFaultRefuse},
       {},
       -1,
       "XEX",
       failed(ParamText::EntryNotReplaced, kRefused),
       10},
      {"delete reply and read-back lost",
       {},
       {1, 2},
       -1,
       "XEX",
       failed(ParamText::EntryMayBeDeleted, kLost),
       0},
      {"write done, its reply lost", {}, {2}, -1, "XEZXX", {}, 33},
      {"write refused once", {0, 0, sim::kFaultRefuse}, {}, -1, "XEZXZX", {}, 33},
      {"write and read-back lost",
       {},
       {2, 3},
       -1,
       "XEZX",
       failed(ParamText::EntryMayNotBeWritten, kLost),
       33},
      {"write lost, another entry read back", {}, {2}, 2, "XEZX", failed(ParamText::EntryDiffers, kLost), 99},
      {"new entry written, its reply lost", {}, {1}, -1, "XZXX", {}, 33, true},
      {"new entry not answered", {0, sim::kFaultBusy, sim::kFaultBusy}, {}, -1, "XZZXZX", {}, 33, true},
      {"new entry written, its reply and the read-back lost",
       {},
       {1, 2},
       -1,
       "XZX",
       failed(ParamText::NewEntryMayNotBeWritten, kLost),
       33,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rig.model.Parameters().LookupTable = {sim::ParameterState::MakeTable('A', "0002")};
    if (c.fresh) rig.model.Parameters().LookupTable.clear();
    rig.model.Requests.clear();
    rig.model.Script = c.script;
    LosingChannel channel(rig.link);
    channel.lost = c.lost;
    channel.after = [&](int n) {
      if (n == c.meddleAfter)
        for (BulbParamRecord& r : rig.model.Parameters().LookupTable) r.TANN = 99;
    };
    t.Edits.setText("TANN", "33");
    const ParamOutcome o = t.Write();
    EXPECT_EQ(told(o), c.told);
    EXPECT_EQ(rig.letters(), c.letters);
    const BulbParamRecord* entry = rig.lookupEntry("A0002");
    EXPECT_EQ(entry ? int{entry->TANN} : 0, c.tann);
    EXPECT_EQ(channel.unheld, 0) << "every command of the write on the held line";
    EXPECT_FALSE(rig.link.LineHeld()) << "and the line given back";
  }
}

// An identifier no dosimeter can have never reaches the reader: the write
// stops at its edit, before the look-up check or any table is sent.
TEST_F(LookupWriteTest, ATableIsWrittenOnlyUnderATypeLetterAndAnEntryUnderFourDigitsToo) {
  struct Case {
    TableSource as;
    const char *type, *serial, *edit;
  };
  const Case cases[] = {
      {TableSource::LookUp, "A", "1", "KSN"},         {TableSource::LookUp, "", "", "KTYPE"},
      {TableSource::LookUp, "A", "12a4", "KSN"},      {TableSource::LookUp, "%", "0001", "KTYPE"},
      {TableSource::Default, "%", "", "KTYPE"},       {TableSource::Default, "", "", "KTYPE"},
      {TableSource::Dosimeter, "%", "0042", "KTYPE"}, {TableSource::Dosimeter, "A", "x", "KSN"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << "/" << c.serial);
    t.ChooseSource(c.as);
    t.ChooseWriteAs(c.as);
    t.Edits.setText("KTYPE", c.type);
    t.Edits.setText("KSN", c.serial);
    const ParamOutcome o = t.Write();
    EXPECT_EQ(o.kind, ParamOutcome::kNotConverted);
    EXPECT_EQ(o.conversion.index, t.Edits.indexOf(c.edit)) << o.conversion.message.toStdString();
    EXPECT_TRUE(rig.commands().empty());
  }
  t.ChooseSource(TableSource::LookUp);
  t.ChooseWriteAs(TableSource::LookUp);
  t.Edits.setText("KTYPE", "b");
  t.Edits.setText("KSN", "0815");
  EXPECT_EQ(t.Write().kind, ParamOutcome::kDone);
  EXPECT_NE(rig.lookupEntry("B0815"), nullptr);
}

// --- The window's workflow, without the window -------------------------------

class DosimeterFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t.confirm = [this](ParamText q) { return asked.push_back(q), answer; };
    t.askType = [this] { return std::optional<QString>(type); };
    t.askTypeAndSerial = [this] { return std::optional(std::pair{type, serial}); };
    t.askSerial = [this] { return serialAnswer; };
    t.chooseFile = [this](FileMode) { return file; };
  }
  // Which of these controls the job enables: the edits of KSN, HUS, KTYPE,
  // ERRMASK, then the last read-out and the List button.
  std::string enabled() const {
    std::string e;
    for (const char* key : {"KSN", "HUS", "KTYPE", "ERRMASK"})
      e += t.Controls().edits[static_cast<size_t>(t.Edits.indexOf(key))] ? '1' : '0';
    return e + (t.Controls().lastReadout ? '1' : '0') + (t.Controls().list ? '1' : '0');
  }
  QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }

  DiagScope diag{kServiceLevelBits};  // the job takes it when it is made
  ScriptedPrompter prompter;
  ParamReaderRig rig;
  QTemporaryDir dir;
  DosimeterTableJob t;
  sim::ParameterState& reader = rig.model.Parameters();
  std::vector<ParamText> asked;
  bool answer = true;
  QString type = QStringLiteral("C"), serial;  // as the dialogs give them
  std::optional<QString> serialAnswer, file;
};

TEST_F(DosimeterFlowTest, TheChoicesAreCoupledAndSwitchTheLayouts) {
  EXPECT_EQ(enabled(), "111110") << "as the window starts";
  struct Step {
    std::function<void()> act;
    TableSource source, writeAs;
    const char* enabled;
  };
  const Step steps[] = {
      {[&] { t.ChooseSource(TableSource::Default); }, TableSource::Default, TableSource::Default, "111110"},
      {[&] { t.SetLayout(TableLayout::Default); }, TableSource::Default, TableSource::Default, "011100"},
      {[&] { t.SetLayout(TableLayout::LookUp); }, TableSource::Default, TableSource::Default, "111101"},
      {[&] { t.ChooseWriteAs(TableSource::LookUp); }, TableSource::Default, TableSource::LookUp, "111101"},
      {[&] { t.ChooseWriteAs(TableSource::Dosimeter); }, TableSource::Default, TableSource::Dosimeter,
       "101010"},
      {[&] { t.ChooseSource(TableSource::LookUp); }, TableSource::LookUp, TableSource::LookUp, "101010"},
  };
  for (const Step& s : steps) {
    s.act();
    EXPECT_EQ(t.Source, s.source);
    EXPECT_EQ(t.WriteAs, s.writeAs);
    EXPECT_EQ(enabled(), s.enabled) << &s - steps;
  }
}

TEST_F(DosimeterFlowTest, ReadFetchesTheSourcesTableThroughItsDialog) {
  struct Case {
    TableSource source;
    std::function<void()> arrange;
    ParamOutcome::Kind kind;
    ParamText told;
    const char* identifier;  // the type and serial edits afterwards
    const char* evalen;      // EVALEN's edit afterwards
    const char* enabled;
    const char* commands;
  };
  const Case cases[] = {
      {TableSource::Dosimeter, [] {}, ParamOutcome::kDone, ParamText::None, "A0042", "41", "101010", "QM"},
      // A type without a default table: told, and the read completes.
      {TableSource::Dosimeter, [&] { reader.OwnTable.KTYPE = 'Z'; }, ParamOutcome::kDone,
       ParamText::NoValidDefault, "Z0042", "41", "101010", "QM"},
      {TableSource::Dosimeter, [&] { reader.OwnPresent = false; }, ParamOutcome::kFailed,
       ParamText::NoOwnTable, "Z0042", "41", "101010", "Q"},
      {TableSource::Default, [] {}, ParamOutcome::kDone, ParamText::None, "C", "42", "011100", "M"},
      {TableSource::LookUp, [&] { type = "A", serial = "0417"; }, ParamOutcome::kDone, ParamText::None,
       "A0417", "40", "111101", "X"},
      // Not found: the table keeps its content under the new serial.
      {TableSource::LookUp, [&] { serial = "9999"; }, ParamOutcome::kFailed, ParamText::EntryNotFound,
       "A9999", "40", "111101", "X"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    c.arrange();
    rig.model.Requests.clear();
    t.ChooseSource(c.source);
    const ParamOutcome o = t.Read();
    EXPECT_EQ(o.kind, c.kind);
    EXPECT_EQ(o.reports.empty() ? ParamText::None : o.reports.front().text, c.told);
    EXPECT_EQ(t.Identifier(), c.identifier);
    EXPECT_EQ(t.Edits.text("EVALEN"), c.evalen);
    EXPECT_EQ(enabled(), c.enabled);
    EXPECT_EQ(rig.letters(), c.commands);
    EXPECT_EQ(t.WriteAs, c.source);
    EXPECT_EQ(t.Warning(), c.told == ParamText::NoOwnTable) << "the next refresh hides it";
  }
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(DosimeterFlowTest, WriteGoesWhereWriteAsSaysAfterTheQuestionAndReadsBack) {
  ASSERT_EQ(t.Read().kind, ParamOutcome::kDone);  // the own table, source Dosimeter
  t.Edits.setText("EVALEN", "55");
  answer = false;
  EXPECT_EQ(t.Write().kind, ParamOutcome::kNothing);
  EXPECT_EQ(int{reader.OwnTable.EVALEN}, 41) << "No writes nothing";
  answer = true;
  EXPECT_EQ(t.Write().kind, ParamOutcome::kDone);
  EXPECT_EQ(asked, std::vector<ParamText>(2, ParamText::AreYouSure));
  EXPECT_EQ(int{reader.OwnTable.EVALEN}, 55);
  EXPECT_EQ(uint32_t{reader.OwnTable.LRO}, 820540800u) << "LRO is carried";

  // The default table of the type; the edits then show what the reader holds.
  t.ChooseWriteAs(TableSource::Default);
  t.Edits.setText("TLIM", "305");
  EXPECT_EQ(t.Write().kind, ParamOutcome::kDone);
  EXPECT_EQ(int{reader.DefaultTables['A'].TLIM}, 30);
  EXPECT_EQ(t.Edits.text("TLIM"), "300");
  EXPECT_EQ(t.Source, TableSource::Default);

  // Into the look-up table for a serial number asked for; Cancel writes nothing.
  const size_t entries = reader.LookupTable.size();
  t.ChooseWriteAs(TableSource::LookUp);
  EXPECT_EQ(t.Write().kind, ParamOutcome::kNothing);
  EXPECT_EQ(reader.LookupTable.size(), entries);
  EXPECT_EQ(t.Source, TableSource::LookUp);
  t.ChooseSource(TableSource::Default);
  t.ChooseWriteAs(TableSource::LookUp);
  serialAnswer = "0777";
  rig.model.Requests.clear();
  EXPECT_EQ(t.Write().kind, ParamOutcome::kDone);
  EXPECT_EQ(rig.letters(), "XZX") << "checked, added, read back";
  ASSERT_NE(rig.lookupEntry("A0777"), nullptr);
  EXPECT_EQ(int{rig.lookupEntry("A0777")->TLIM}, 30);
  EXPECT_EQ(enabled(), "111101") << "read back in the look-up layout";

  // Below the service level nothing is asked or sent.
  setServiceLevel(false);
  DosimeterTableJob plain;
  EXPECT_FALSE(plain.Controls().write || plain.Controls().writeAs || plain.Controls().lookUp);
  EXPECT_EQ(plain.Write().kind, ParamOutcome::kNothing);
}

TEST_F(DosimeterFlowTest, LoadAndSaveGoByTheSourceAndNeverTalkToTheReader) {
  t.ChooseSource(TableSource::LookUp);
  t.Table.Record = sim::ParameterState::MakeTable('B', "0010");
  t.DataRefresh();
  EXPECT_EQ(t.Save().kind, ParamOutcome::kNothing) << "no file chosen";
  file = path("t.dpt");
  EXPECT_EQ(t.Save().kind, ParamOutcome::kDone);
  EXPECT_EQ(IniFile(*file).ReadString(kLookupKeySection, "KSN", "<none>"), "0010");
  t.ChooseSource(TableSource::Default);
  EXPECT_EQ(t.Save().kind, ParamOutcome::kDone);
  EXPECT_FALSE(IniFile(*file).ValueExists(kDefaultKeySection, "KSN"));
  EXPECT_EQ(QByteArray(t.Table.Record.KSN, 4), QByteArray(4, '\0'));

  t.Edits.setText("HUS", "5x");
  file = path("x.dpt");
  const ParamOutcome o = t.Save();
  EXPECT_EQ(o.kind, ParamOutcome::kNotConverted);
  EXPECT_EQ(o.conversion.message, "'5x' is not a valid integer value");
  EXPECT_FALSE(QFile::exists(*file));

  // The own section into the own table and the edits.
  WriteFile(path("own.dpt"),
            "[Individual Key Parameter Table]\r\nKTYPE=D\r\nKSN=0099\r\nEVANORM=2.5\r\nLRO=4294967295\r\n");
  t.ChooseSource(TableSource::Dosimeter);
  file = path("own.dpt");
  EXPECT_EQ(t.Load().kind, ParamOutcome::kDone);
  EXPECT_EQ(t.Identifier(), "D0099");
  EXPECT_EQ(t.Edits.text("EVANORM"), "2.5");
  EXPECT_EQ(t.LastReadoutText(), "4294967295");
  EXPECT_TRUE(rig.commands().empty());
}

}  // namespace
