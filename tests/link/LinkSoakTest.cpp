// Fault soak: the block commands a download and the content list make, over
// and over, against a simulated reader (in a thread of its own) that
// misbehaves in one way or in all ways at once. Every command either gives
// exactly what it gives without faults or fails with a code: a wrong result
// returned as success is never allowed. The reply time-out is shortened so
// that a soak takes seconds; late replies are late against it.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <vector>

#include "LinkTestSupport.h"
#include "ScriptedPrompter.h"
#include "SimServer.h"
#include "link/FrameLink.h"
#include "measurement/NurvoDataBlock.h"
#include "sample-data/SampleData.h"

using namespace quelm;
using namespace quelm::sim;

namespace {

constexpr int kTickMs = 50;  // a time-out of 4 ticks: 200 ms

enum class Op { Skim, Page, Read };
struct Step {
  Op op;
  uint16_t arg;
};

// Pages and blocks all over the reader's memory (blocks 1900..2047, 0..151),
// a few of them asked for twice in a row as a retrying caller would.
std::vector<Step> steps() {
  std::vector<Step> s;
  for (int i = 0; i < 12; ++i) {
    const auto block = static_cast<uint16_t>((1900 + i * 37) % 2048);
    s.push_back({Op::Read, block});
    s.push_back({Op::Read, static_cast<uint16_t>((block + 1) % 2048)});
    s.push_back({Op::Page, static_cast<uint16_t>((1920 + i * 23) % 2048)});
    if (i % 4 == 0) s.push_back({Op::Skim, 0});
  }
  return s;
}

struct Outcome {
  int code = 0;
  std::vector<uint8_t> result;  // what the command stored
};

Outcome run(TNurvoDataBlock& data, const Step& step) {
  Outcome o;
  const auto keep = [&](const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    o.result.insert(o.result.end(), b, b + n);
  };
  switch (step.op) {
    case Op::Skim:
      o.code = data.SkimCOM();
      keep(&data.ValidBlocks, sizeof data.ValidBlocks);
      keep(&data.LastBlock, sizeof data.LastBlock);
      break;
    case Op::Page: {
      SearchRequest q;
      std::memset(&q, 0, sizeof q);
      q.StartBlock = step.arg;
      q.FromBlock = static_cast<uint16_t>(step.arg + 1);
      int n = 0;
      o.code = data.SearchCOMBlocks(q, sizeof q, &n);
      keep(&n, sizeof n);
      keep(data.Summaries, sizeof(BlockSummary) * static_cast<size_t>(std::clamp(n, 0, 20)));
      break;
    }
    case Op::Read:
      o.code = data.ReadCOMBlock(step.arg);
      keep(&data.Record, sizeof data.Record);
      break;
  }
  return o;
}

// The link of the program against a reader with the given faults.
std::vector<Outcome> soak(const FaultOptions& faults) {
  test::ScriptedPrompter prompter;  // the port's messages when the reader vanishes
  TReaderSimThread reader(faults, [](TReaderModel& m) { m.LoadBlocks(MakeSampleBlocks({300, 2, 1900})); });
  EXPECT_EQ(reader.Open(), 0);
  test::TestIni ini;
  ini.map(1, reader.SlavePath());
  TFrameLink link;
  link.COMPortDrv.IniFileName = ini.path();
  link.COMPortDrv.SetPortNumber(pnCOM1);
  link.Timer.setInterval(kTickMs);
  SetCommandChannel(&link.Channel());
  TNurvoDataBlock data(nullptr);
  std::vector<Outcome> outcomes;
  for (const Step& s : steps()) outcomes.push_back(run(data, s));
  SetCommandChannel(nullptr);
  EXPECT_FALSE(link.COMPortDrv.Connected());
  return outcomes;
}

const std::vector<Outcome>& faultFree() {
  static const std::vector<Outcome> outcomes = soak(FaultOptions{});
  return outcomes;
}

struct Kind {
  const char* name;
  void (*set)(FaultOptions&);
  bool someSucceed;  // the faults leave room for right answers
};

const Kind kKinds[] = {
    {"CheckSum", [](FaultOptions& f) { f.crc.probability = 0.3; }, true},
    {"Busy", [](FaultOptions& f) { f.busy.probability = 0.3; }, true},
    {"Reject", [](FaultOptions& f) { f.reject.probability = 0.3; }, true},
    {"Refuse", [](FaultOptions& f) { f.refuse.probability = 0.3; }, true},
    {"RefuseBusy", [](FaultOptions& f) { f.refuseBusy.probability = 0.3; }, true},
    {"Drop", [](FaultOptions& f) { f.drop.probability = 0.2; }, true},
    {"WrongLetter", [](FaultOptions& f) { f.wrongLetter.probability = 0.3; }, true},
    {"Garbage", [](FaultOptions& f) { f.garbage = 9; }, true},
    {"Chunked", [](FaultOptions& f) { f.chunkSize = 16, f.chunkDelayMs = 2; }, true},
    {"SlowLine", [](FaultOptions& f) { f.lineBaud = 57600; }, true},
    // Late into the retry's reset frame, and late beyond it into the next
    // command's exchange.
    {"LateIntoTheRetry", [](FaultOptions& f) { f.late.probability = 0.25, f.lateMs = 4 * kTickMs + 60; },
     true},
    {"LateIntoTheNextCommand", [](FaultOptions& f) { f.late.probability = 0.25, f.lateMs = 9 * kTickMs; },
     true},
    // Every reply just beyond the time-out, and half as late again: the
    // line runs behind the program for good.
    {"EveryReplyLate", [](FaultOptions& f) { f.delayMs = 4 * kTickMs + 10; }, false},
    {"EveryReplyVeryLate", [](FaultOptions& f) { f.delayMs = 6 * kTickMs; }, false},
    {"Vanishing", [](FaultOptions& f) { f.vanishAfter = 20; }, true},
    {"AllCombined",
     [](FaultOptions& f) {
       f.crc.probability = f.busy.probability = f.reject.probability = f.refuse.probability = 0.05;
       f.refuseBusy.probability = f.drop.probability = f.wrongLetter.probability = f.late.probability = 0.05;
       f.lateMs = 6 * kTickMs;
       f.garbage = 5;
       f.chunkSize = 64;
       f.chunkDelayMs = 1;
       f.lineBaud = 115200;
       f.vanishAfter = 45;
     },
     true},
};

void PrintTo(const Kind& kind, std::ostream* os) { *os << kind.name; }

class LinkSoak : public ::testing::TestWithParam<Kind> {};

TEST_P(LinkSoak, EveryResultIsTheFaultFreeOneOrAFailure) {
  const std::vector<Outcome>& expected = faultFree();
  for (const Outcome& o : expected) ASSERT_EQ(o.code, 0) << "the fault-free run fails";

  FaultOptions faults;
  faults.seed = 7;
  GetParam().set(faults);
  const std::vector<Outcome> got = soak(faults);
  ASSERT_EQ(got.size(), expected.size());
  int right = 0, failed = 0, wrong = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    if (got[i].code == 0)
      (got[i].result == expected[i].result ? right : wrong)++;
    else
      (got[i].code < 0 ? failed : wrong)++;
  }
  EXPECT_EQ(wrong, 0) << right << " right, " << failed << " failed";
  if (GetParam().someSucceed) {
    EXPECT_GT(right, 0);
  }
  std::printf("%s: %d right, %d failed, %d wrong\n", GetParam().name, right, failed, wrong);
}

INSTANTIATE_TEST_SUITE_P(Faults, LinkSoak, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& i) { return std::string(i.param.name); });

}  // namespace
