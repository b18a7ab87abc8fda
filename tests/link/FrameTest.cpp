// The frame format as plain functions: check sum, builder, receive assembly,
// reply classification and the frame dump.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/Frame.h"
#include "link/FrameDump.h"

using namespace quelm;

namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> v;
  for (int b : list) v.push_back(static_cast<uint8_t>(b));
  return v;
}

std::vector<uint8_t> frame(uint8_t control, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> f(payload.size() + 8);
  BuildFrame(f.data(), control, payload.data(), static_cast<int>(payload.size()));
  return f;
}

struct Assembly {
  uint8_t buffer[kRcvFrameSize] = {};
  uint16_t count = 0;
  AssemblyResult feed(const std::vector<uint8_t>& b) {
    return AssembleFrameBatch(buffer, count, b.data(), static_cast<uint32_t>(b.size()));
  }
  AssemblyResult feedLoader(const std::vector<uint8_t>& b) {
    return AssembleLoaderBatch(buffer, count, b.data(), static_cast<uint32_t>(b.size()));
  }
  std::vector<uint8_t> held() const { return {buffer, buffer + count}; }
};

}  // namespace

TEST(FrameCRC16, MatchesThePublishedCheckValueAndTheExampleFrames) {
  const char* digits = "123456789";
  EXPECT_EQ(FrameCRC16(reinterpret_cast<const uint8_t*>(digits), 9), 0xB4C8);
  EXPECT_EQ(FrameCRC16(nullptr, 0), 0x0000);  // 0xFFFF ^ 0xFFFF

  EXPECT_EQ(frame(0x00, {}), bytes({0xA1, 0x16, 0xFC, 0x08, 0x00, 0x00, 0xC4, 0x1E}));
  EXPECT_EQ(frame(0x80, {'.', 'G', '#'}),
            bytes({0xA1, 0x16, 0xFC, 0x0B, 0x00, 0x80, 0x2E, 0x47, 0x23, 0x2A, 0x87}));
}

TEST(BuildFrame, WritesLengthLittleEndianAndTheLongestPayload) {
  std::vector<uint8_t> payload(kMaxPayload, 'x');
  std::vector<uint8_t> out(kTrmFrameSize + 4, 0xEE);
  EXPECT_EQ(BuildFrame(out.data(), 0x8F, payload.data(), kMaxPayload), kTrmFrameSize);
  EXPECT_EQ(frameLengthField(out.data()), 151);
  EXPECT_EQ(out[5], 0x8F);
  const uint16_t crc = FrameCRC16(out.data(), kTrmFrameSize - 2);
  EXPECT_EQ(out[149], crc >> 8);
  EXPECT_EQ(out[150], crc & 0xFF);
  EXPECT_EQ(out[151], 0xEE) << "nothing written past the frame";
}

TEST(AssembleFrameBatch, SkipsLeadingBytesOnlyInTheFirstBatchOfAReply) {
  Assembly a;
  AssemblyResult r = a.feed(bytes({0x00, 0x55, 0xA1, 0x16}));
  EXPECT_TRUE(r.restarted);
  EXPECT_EQ(a.held(), bytes({0xA1, 0x16}));
  // Later batches are taken whole, A1 or not.
  r = a.feed(bytes({0x33, 0xA1, 0x44}));
  EXPECT_FALSE(r.restarted);
  EXPECT_EQ(a.held(), bytes({0xA1, 0x16, 0x33, 0xA1, 0x44}));
}

TEST(AssembleFrameBatch, ABatchWithoutSyncNeitherRestartsTheTimeOutNorKeepsAnything) {
  Assembly a;
  // Noise on the line (a wrong port) must not hold a reply's wait for ever.
  const AssemblyResult r = a.feed(bytes({0x01, 0x02, 0x03}));
  EXPECT_FALSE(r.restarted);
  EXPECT_EQ(a.count, 0);
  // An empty batch is no arrival at all (and has no bytes to look at).
  EXPECT_FALSE(a.feed({}).restarted);
  EXPECT_FALSE(a.feedLoader({}).restarted);
}

TEST(AssembleFrameBatch, DropsOversizeBatchesAndBatchesThatWouldFillTheBuffer) {
  Assembly a;
  std::vector<uint8_t> big(1025, 0xA1);
  AssemblyResult r = a.feed(big);
  EXPECT_TRUE(r.oversize);
  EXPECT_EQ(a.count, 0);

  std::vector<uint8_t> first(1000, 0x11);
  first[0] = 0xA1;
  a.feed(first);
  ASSERT_EQ(a.count, 1000);
  a.feed(std::vector<uint8_t>(24, 0x22));  // 1024: would fill the buffer
  EXPECT_EQ(a.count, 1000);
  a.feed(std::vector<uint8_t>(23, 0x22));  // 1023 fits
  EXPECT_EQ(a.count, 1023);
}

TEST(AssembleLoaderBatch, TakesTheReplyFromTheByteBeforeTheU) {
  Assembly a;
  a.feedLoader(bytes({0x10, 0x82, 0x55, 0x01, 0x00}));
  EXPECT_EQ(a.held(), bytes({0x82, 0x55, 0x01, 0x00}));
  a.feedLoader(bytes({0x00}));
  EXPECT_EQ(a.count, 5);

  Assembly b;  // 'U' before any 0x82 does not count; no 'U' after 0x82 drops the batch
  EXPECT_TRUE(b.feedLoader(bytes({0x55, 0x82, 0x01})).restarted);
  EXPECT_EQ(b.count, 0);
  b.feedLoader(bytes({0x82, 0x07, 0x55, 0x02}));
  EXPECT_EQ(b.held(), bytes({0x07, 0x55, 0x02}));

  // The line splits a reply just after its lead: the reply goes on in the
  // next batch if that begins with its 'U', else it is looked for afresh.
  const struct {
    std::vector<uint8_t> first, second, held;
  } splits[] = {
      {{0x10, 0x82}, {0x55, 0x01, 0x00, 0x00}, {0x82, 0x55, 0x01, 0x00, 0x00}},
      {{0x82}, {0x07, 0x82, 0x55, 0x03, 0x00}, {0x82, 0x55, 0x03, 0x00}},
      {{0x82}, {0x07}, {}},
      {{0x82, 0x10}, {0x55, 0x01}, {}},
  };
  for (const auto& c : splits) {
    Assembly s;
    s.feedLoader(c.first);
    s.feedLoader(c.second);
    EXPECT_EQ(s.held(), c.held) << c.first.size() << " + " << c.second.size();
  }
}

namespace {

struct Classified {
  ReplyVerdict verdict;
  std::vector<uint8_t> payload;
};

Classified classify(const std::vector<uint8_t>& reply, bool information = true, bool checkCrc = true) {
  Classified c;
  c.payload = bytes({'.', 'G', '#'});
  c.verdict = ClassifyReply(reply.data(), static_cast<int>(reply.size()), frameLengthField(reply.data()),
                            information, c.payload.data(), static_cast<int>(c.payload.size()), checkCrc);
  return c;
}

}  // namespace

TEST(ClassifyReply, SupervisoryRepliesAcknowledgeOrReportBusyAndReject) {
  EXPECT_EQ(classify(frame(0x00, {})).verdict.code, 0);
  EXPECT_EQ(classify(frame(0x10, {})).verdict.code, 0);
  const Classified busy = classify(frame(0x20, {}));
  EXPECT_EQ(busy.verdict.code, -207);
  EXPECT_EQ(busy.verdict.token, "ERR_BUSY");
  const Classified reject = classify(frame(0x70, {}));
  EXPECT_EQ(reject.verdict.code, -208);
  EXPECT_EQ(reject.verdict.token, "ERR_FRAMEREJECT");
}

TEST(ClassifyReply, CommandRepliesNeedTheEchoedLetter) {
  EXPECT_EQ(classify(frame(0x80, {'G', 5, 0})).verdict.code, 0);
  EXPECT_EQ(classify(frame(0x90, {'x'})).verdict.code, 0) << "other IDs pass untested";

  const Classified wrong = classify(frame(0x80, {'H', 5, 0}));
  EXPECT_EQ(wrong.verdict.code, -209);
  EXPECT_EQ(wrong.verdict.token, "ERR_UNKNOWNCMD: '72'(d72)");

  // A command reply to the reset frame answers no request.
  const Classified toReset = classify(frame(0x80, {'G'}), false);
  EXPECT_EQ(toReset.verdict.code, -203);
  EXPECT_TRUE(toReset.verdict.token.isEmpty());
}

TEST(ClassifyReply, PIsARefusalThatPassesUnlessItSaysBusy) {
  const Classified refused = classify(frame(0x80, {'P', 'G', '-'}));
  EXPECT_EQ(refused.verdict.code, 0);
  EXPECT_EQ(refused.payload[1], 'P');

  const Classified busy = classify(frame(0x80, {'P', 'G', 'd'}));
  EXPECT_EQ(busy.verdict.code, -207);
  EXPECT_EQ(busy.payload[1], 'G');

  // The busy mark must be a payload byte, not part of the check sum.
  std::vector<uint8_t> shortP = frame(0x80, {'P'});
  EXPECT_EQ(classify(shortP).verdict.code, 0);
}

TEST(ClassifyReply, DamagedOrImpossibleFramesAreCheckSumFailures) {
  std::vector<uint8_t> f = frame(0x80, {'G', 1, 2});
  f[7] ^= 0x01;
  const Classified c = classify(f);
  EXPECT_EQ(c.verdict.code, -206);
  EXPECT_EQ(c.verdict.token, "ERR_CRC");

  // Length fields below 8 cannot hold a control byte and a check sum.
  for (int length : {0, 1, 2, 5, 7}) {
    std::vector<uint8_t> tiny = bytes({0xA1, 0x16, 0xFC, length, 0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(classify(tiny).verdict.code, -206) << "Length " << length;
  }
}

TEST(ClassifyReply, WithoutTheCheckNothingIsReadOutsideTheReceivedBytes) {
  // No port (diagnostic bit 0x80): nothing received, nothing to classify.
  const std::vector<uint8_t> none = bytes({0xA1, 0x16, 0xFC, 0x08, 0x00});
  const ReplyVerdict v = ClassifyReply(none.data(), 0, 530, true, nullptr, 0, false);
  EXPECT_EQ(v.code, 0);
}

TEST(FrameDump, WritesBothByteFormats) {
  const std::vector<uint8_t> reset = frame(0x00, {});
  EXPECT_EQ(DumpFrameBytes(reset.data(), 8, false), " A1 16 FC 08 00 00 C4 1E");
  EXPECT_EQ(DumpFrameBytes(reset.data(), 8, true),
            " (000)A1 (001)16 (002)FC (003)08 (004)00 (005)00 (006)C4 (007)1E");
  EXPECT_EQ(DumpFrameBytes(reset.data(), 0, true), "");
}

TEST(FrameDump, DecodesHeaderFieldsAndStaysInsideTheBuffer) {
  const std::vector<uint8_t> f = frame(0xA5, {'.', 'G', '#'});
  const FrameFields d = DecodeFrameFields(f.data(), static_cast<int>(f.size()), static_cast<int>(f.size()));
  EXPECT_EQ(d.sync, "A116FC");
  EXPECT_EQ(d.length, "11");
  EXPECT_EQ(d.si, "1");
  EXPECT_EQ(d.id, "2");
  EXPECT_EQ(d.seqNum, "5");
  EXPECT_EQ(d.crc, QStringLiteral("%1%2")
                       .arg(f[9], 2, 16, QLatin1Char('0'))
                       .arg(f[10], 2, 16, QLatin1Char('0'))
                       .toUpper());
  EXPECT_TRUE(DecodeFrameFields(f.data(), static_cast<int>(f.size()), 2000).crc.isEmpty());
}
