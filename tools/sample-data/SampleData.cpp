#include "sample-data/SampleData.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <string>

#include "base/ErrorCodes.h"
#include "evaluation/DoseChain.h"
#include "measurement/RangeCode.h"

namespace {

const QDateTime& readerEpoch() {
  static const QDateTime epoch(QDate(1980, 1, 1), QTime(0, 0), QTimeZone::utc());
  return epoch;
}

// The generator with the draws the blocks need.
class Random : public SplitMix64 {
 public:
  using SplitMix64::SplitMix64;
  using SplitMix64::uniform;
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  int integer(int lo, int hi) { return lo + static_cast<int>(next() % static_cast<uint64_t>(hi - lo + 1)); }
  bool chance(double p) { return uniform() < p; }
  double normal() { return SplitMix64::normal(1e-12); }
};

struct Reader {
  const char* id;
  float normFact;
  uint8_t evaStart;
  uint8_t evaLen;
  float dtfa, dtfb;
};

const std::array<Reader, 3> kReaders = {{
    {"Q0412", 5120.0f, 20, 45, 2.0e-5f, -1.5e-3f},
    {"Q0413", 4870.0f, 18, 48, 1.5e-5f, -1.2e-3f},
    {"Q1187", 5535.0f, 22, 42, 2.5e-5f, -1.8e-3f},
}};

struct Dosimeter {
  std::string id;
  double doseRate;  // typical uSv/h while worn
};

std::vector<Dosimeter> makeDosimeters(Random& rnd) {
  std::vector<Dosimeter> d;
  for (int i = 1; i <= 24; ++i)
    d.push_back(
        {QStringLiteral("A%1").arg(i, 4, 10, QLatin1Char('0')).toStdString(), rnd.uniform(0.05, 0.6)});
  for (int i = 101; i <= 108; ++i)
    d.push_back({QStringLiteral("B%1").arg(i, 4, 10, QLatin1Char('0')).toStdString(), rnd.uniform(0.5, 4.0)});
  d.push_back({"SENS1", 0});  // reference dosimeter, irradiated with a known dose
  d.push_back({"BGND1", 0});  // background dosimeter, read unexposed
  return d;
}

void copyId(char (&dst)[5], const std::string& src) {
  std::memset(dst, ' ', 5);
  std::memcpy(dst, src.data(), std::min<size_t>(5, src.size()));
}

// Glow-curve shape: main peak plus an optional higher-temperature peak.
struct Shape {
  double peak1, sigma1, peak2, sigma2, ratio2;
  double at(int ch) const {
    const double a = (ch - peak1) / sigma1, b = (ch - peak2) / sigma2;
    return std::exp(-0.5 * a * a) + ratio2 * std::exp(-0.5 * b * b);
  }
};

uint8_t pickErrorCodes(Random& rnd) {
  if (!rnd.chance(0.08)) return 0;
  static const uint8_t kChoices[] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0xC0, 0x11, 0xC4, 0x06};
  return kChoices[rnd.integer(0, sizeof kChoices - 1)];
}

}  // namespace

uint32_t ReaderSecondsFromStamp(const uint8_t s[5]) {
  const QDateTime t(QDate(1900 + s[0], s[1], s[2]), QTime(s[3], s[4]), QTimeZone::utc());
  return static_cast<uint32_t>(readerEpoch().secsTo(t));
}

void StampFromReaderSeconds(uint32_t seconds, uint8_t s[5]) {
  const QDateTime t = readerEpoch().addSecs(seconds);
  s[0] = static_cast<uint8_t>(t.date().year() - 1900);
  s[1] = static_cast<uint8_t>(t.date().month());
  s[2] = static_cast<uint8_t>(t.date().day());
  s[3] = static_cast<uint8_t>(t.time().hour());
  s[4] = static_cast<uint8_t>(t.time().minute());
}

std::vector<BlockRecord> MakeSampleBlocks(const SampleDataOptions& options) {
  Random rnd(options.seed);
  const std::vector<Dosimeter> dosimeters = makeDosimeters(rnd);
  std::map<std::string, uint32_t> lastReadOut;
  const uint8_t start[5] = {106, 1, 9, 7, 30};  // 2006-01-09 07:30
  uint32_t now = ReaderSecondsFromStamp(start);

  std::vector<BlockRecord> blocks;
  blocks.reserve(std::max(options.blocks, 0));
  std::string previousBulb;
  for (int i = 0; i < options.blocks; ++i) {
    BlockRecord r;
    std::memset(&r, 0, sizeof r);
    r.BlockNumber = static_cast<uint16_t>(((options.firstNumber + i) % kBlocksInReader + kBlocksInReader) %
                                          kBlocksInReader);

    // A quick re-read of the same dosimeter now and then gives Exposure 0.
    const bool reRead = i > 0 && rnd.chance(0.03);
    now += reRead ? static_cast<uint32_t>(rnd.integer(60, 300))
                  : static_cast<uint32_t>(rnd.integer(20 * 60, 30 * 3600));
    const std::string bulb =
        reRead ? previousBulb : dosimeters[rnd.integer(0, static_cast<int>(dosimeters.size()) - 1)].id;
    previousBulb = bulb;
    const Dosimeter& dos =
        *std::find_if(dosimeters.begin(), dosimeters.end(), [&](const Dosimeter& d) { return d.id == bulb; });
    const Reader& reader = kReaders[rnd.chance(0.7) ? 0 : rnd.integer(1, 2)];

    r.ErrorCodes = pickErrorCodes(rnd);
    if (!(r.ErrorCodes & 0x10)) StampFromReaderSeconds(now, r.DateTime);  // clock fault: no date
    copyId(r.DeviceID, reader.id);
    copyId(r.BulbID, bulb);
    r.ReaderTemp = static_cast<int16_t>(rnd.integer(36, 60));
    r.SamplingSpeed = 5;

    // Time since the dosimeter's previous read-out.
    const auto last = lastReadOut.find(bulb);
    const bool special = bulb == "SENS1" || bulb == "BGND1";
    double hours = 0;
    if (last == lastReadOut.end()) {
      r.LRO = 0;
      r.Exposure = 0xFFFF;
    } else {
      r.LRO = last->second;
      hours = (now - last->second) / 3600.0;
      const long tenths = std::lround(hours * 10);
      r.Exposure = rnd.chance(0.05) ? 0xFFFF : static_cast<uint16_t>(std::min<long>(tenths, 0xFFFE));
      if (hours < 0.1) r.Exposure = 0;
    }
    lastReadOut[bulb] = now;

    // The dose the dosimeter received, in uSv.
    double dose;
    if (bulb == "SENS1")
      dose = 1000 * rnd.uniform(0.97, 1.03);
    else if (bulb == "BGND1")
      dose = rnd.uniform(0, 2);
    else if (rnd.chance(0.01))
      dose = rnd.uniform(5e3, 5e5);  // an incident
    else
      dose = 5 + std::max(hours, 8.0) * dos.doseRate * rnd.uniform(0.7, 1.3);
    if (r.ErrorCodes & 0x08) dose = std::max(dose, 2e5);

    // Evaluation parameters of the reader at the time.
    r.EVASTART = reader.evaStart;
    r.EVALEN = reader.evaLen;
    r.EVANORM = reader.normFact;
    r.DTFA = reader.dtfa;
    r.DTFB = reader.dtfb;
    r.DLFA = 1.0f;
    r.DLFB = 0.08f;
    r.DLFN = 20000.0f;

    // Glow curve: background per channel plus peaks scaled to the dose.
    const double background = rnd.uniform(150, 320);
    const Shape shape{rnd.uniform(35, 42), rnd.uniform(5.5, 8), rnd.uniform(58, 66), rnd.uniform(5, 7),
                      rnd.chance(0.6) ? rnd.uniform(0.15, 0.45) : 0.0};
    double windowShape = 0;
    for (int ch = r.EVASTART; ch < r.EVASTART + r.EVALEN; ++ch) windowShape += shape.at(ch);
    const double amplitude = dose * r.EVANORM / 10 / windowShape;
    for (int ch = 0; ch < kChannelCount; ++ch) {
      const double counts = background * (1 + 0.05 * rnd.normal()) + amplitude * shape.at(ch);
      r.RawValues[kAuxValueCount + ch] = EncodeRangeValue(static_cast<uint32_t>(std::max(counts, 0.0)));
      const double temp = 45 + 2.6 * ch + rnd.uniform(-0.4, 0.4);
      r.ChannelTemps[ch] = static_cast<int16_t>(std::lround(temp * 10));
    }
    // A, B, C: background per channel; D: tube voltage; E: reference light; F: dark count.
    for (int k = 0; k < 3; ++k)
      r.RawValues[k] = EncodeRangeValue(static_cast<uint32_t>(background * (1 + 0.03 * rnd.normal())));
    r.RawValues[3] = EncodeRangeValue(static_cast<uint32_t>(rnd.integer(840, 860)));
    r.RawValues[4] = EncodeRangeValue(static_cast<uint32_t>(rnd.integer(31000, 33000)));
    r.RawValues[5] = EncodeRangeValue(static_cast<uint32_t>(rnd.integer(20, 60)));

    const double normFact = std::min(static_cast<double>(r.EVANORM), 100000.0);
    r.MeasuredDose = static_cast<float>(EvaluateDose(r, r.EVASTART, r.EVALEN, normFact).measDose);
    const bool rateKnown = r.Exposure != 0 && r.Exposure != 0xFFFF && !special;
    r.DoseRate =
        rateKnown ? static_cast<float>(std::max(float{r.MeasuredDose}, 0.0f) / (r.Exposure * 0.1)) : 0.0f;
    blocks.push_back(r);
  }
  return blocks;
}

int WriteSampleDataFile(const QString& path, const SampleDataOptions& options) {
  const std::vector<BlockRecord> blocks = MakeSampleBlocks(options);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return quelm::kErrFileOpen;
  const qint64 size = static_cast<qint64>(blocks.size() * sizeof(BlockRecord));
  if (size > 0 && f.write(reinterpret_cast<const char*>(blocks.data()), size) != size)
    return quelm::kErrFileWrite;
  f.close();
  return f.error() == QFileDevice::NoError ? 0 : -110;
}
