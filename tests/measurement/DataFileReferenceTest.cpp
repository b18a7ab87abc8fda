// The data file operations answer from one pass over the file. Here a
// straightforward port of the seek-and-read algorithm (stdio, every lookup
// scanning from the first record) runs beside them over many generated and
// random files and requests; both must agree on every result, count and
// byte.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <array>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "measurement/DataFileReader.h"
#include "measurement/NurvoDataBlock.h"
#include "sample-data/SampleData.h"

namespace {

// --- Reference ----------------------------------------------------------------

struct Reference {
  BlockRecord record;
  BlockSummary summaries[kPageRows];
  uint32_t blockIndex = 0;
  uint32_t validBlocks = 0;
  uint32_t lastBlock = 0;
  std::FILE* f = nullptr;

  void close() {
    if (f) std::fclose(f);
    f = nullptr;
  }

  // A failed read leaves the record as it was.
  int readRecord() {
    BlockRecord scratch;
    if (std::fread(&scratch, sizeof scratch, 1, f) != 1) {
      close();
      return -109;
    }
    record = scratch;
    return 0;
  }

  int find(uint32_t number) {
    if (std::fseek(f, 0, SEEK_SET) != 0) {
      close();
      return -1;
    }
    for (long k = 0;; ++k) {
      uint16_t w;
      if (std::fseek(f, 512 * k + 1, SEEK_SET) != 0 || std::fread(&w, 2, 1, f) != 1) {
        close();
        return -1;
      }
      if (uint32_t{w} == number) {
        if (std::fseek(f, 512 * k, SEEK_SET) != 0) {
          close();
          return -109;
        }
        return readRecord();
      }
    }
  }

  int next() {
    if (std::ftell(f) >= 1048576) std::fseek(f, 0, SEEK_SET);
    return readRecord();
  }

  int prev() {
    if (std::ftell(f) < 1024)
      std::fseek(f, 2047 * 512, SEEK_SET);  // record 2047
    else
      std::fseek(f, -1024, SEEK_CUR);
    return readRecord();
  }

  int skim(const char* name) {
    std::memset(&record, 0, sizeof record);
    validBlocks = 0;
    blockIndex = 0;
    f = std::fopen(name, "rb");
    if (!f) return -107;
    std::fseek(f, 0, SEEK_SET);
    char c;
    while (std::fread(&c, 1, 1, f) == 1) {
      ++validBlocks;
      std::fseek(f, 512L * validBlocks, SEEK_SET);
    }
    if (validBlocks > 0) blockIndex = validBlocks - 1;
    lastBlock = 0;
    uint16_t w;
    std::fseek(f, 512L * blockIndex + 1, SEEK_SET);
    if (std::fread(&w, 2, 1, f) == 1) lastBlock = w;
    close();
    return 0;
  }

  int read(const char* name, uint32_t number) {
    std::memset(&record, 0, sizeof record);
    blockIndex = number;
    f = std::fopen(name, "rb");
    if (!f) return -107;
    if (find(number) != 0) {
      close();
      return -214;
    }
    close();
    return 0;
  }

  bool matches(const SearchRequest& r) const {
    if ((r.Flags & kSearchByDosimeter) && std::memcmp(record.BulbID, r.Dosimeter, 5) != 0) return false;
    if (r.Flags & kSearchByDate) {
      auto cmp = [](const uint8_t* a, const uint8_t* b) {
        for (int i = 0; i < 5; ++i)
          if (a[i] != b[i]) return a[i] > b[i] ? 1 : -1;
        return 0;
      };
      if (cmp(record.DateTime, r.DateFrom) != 1 || cmp(record.DateTime, r.DateTo) != -1) return false;
    }
    return true;
  }

  void store(int slot) {
    const auto* r = reinterpret_cast<const uint8_t*>(&record);
    auto* s = reinterpret_cast<uint8_t*>(&summaries[slot]);
    for (int i = 0; i < 22; ++i)
      if (i != 8) s[i] = r[i];
    std::memcpy(s + 22, r + 498, 4);
    std::memcpy(s + 26, r + 478, 2);
  }

  int search(const char* name, const SearchRequest& r, int pageSize, uint32_t upper, uint32_t lower,
             int* count) {
    pageSize = std::min(pageSize, kPageRows);
    blockIndex = r.StartBlock;
    int n = 0;
    *count = 0;
    f = std::fopen(name, "rb");
    if (!f) return -107;
    auto done = [&](int result) {
      close();
      *count = n;
      return result;
    };
    const bool forward = r.Flags & kSearchForward;
    if (r.Flags & 0x07) {
      for (int steps = 0;;) {
        if (find(blockIndex) != 0) return done(-1);
        if (n >= pageSize) return done(0);
        if (matches(r)) store(n++);
        if ((r.Flags & kSearchByNumber) && blockIndex == (forward ? upper : lower)) return done(0);
        if (forward)
          blockIndex = blockIndex >= 2047 ? 0 : blockIndex + 1;
        else
          blockIndex = blockIndex == 0 ? 2047 : blockIndex - 1;
        if (++steps >= 2048) return done(0);
      }
    }
    for (;;) {
      const int rc = n == 0 ? find(blockIndex) : forward ? next() : prev();
      if (rc != 0) return done(-1);
      if (n >= pageSize) return done(0);
      store(n++);
    }
  }
};

// --- Generated files ------------------------------------------------------------

using Stamp = std::array<uint8_t, 5>;
using Bulb = std::array<char, 5>;

struct Corpus {
  std::vector<uint8_t> bytes;
  std::vector<uint16_t> numbers;
  std::vector<uint16_t> edges;  // numbers of the records next to the ends of the reader memory
  std::vector<Stamp> dates;
  std::vector<Bulb> bulbs;
};

class Generator {
 public:
  explicit Generator(uint64_t seed) : rng_(seed) {}
  uint64_t next() { return rng_(); }
  int below(int n) { return n <= 0 ? 0 : static_cast<int>(rng_() % static_cast<uint64_t>(n)); }
  bool chance(int percent) { return below(100) < percent; }

  template <typename T>
  const T& pick(const std::vector<T>& v) {
    return v[static_cast<size_t>(below(static_cast<int>(v.size())))];
  }

  Corpus file(int kind) {
    Corpus c;
    for (int i = 0; i < 6; ++i)
      c.dates.push_back({106, 1, static_cast<uint8_t>(1 + below(3)), 10, uint8_t(below(4))});
    for (const char* id : {"A0001", "A0002", "SENS1"}) {
      Bulb b;
      std::memcpy(b.data(), id, 5);
      c.bulbs.push_back(b);
    }
    std::vector<BlockRecord> blocks;
    switch (kind) {
      case 0: {  // realistic blocks
        SampleDataOptions o;
        o.blocks = below(300);
        o.seed = next();
        o.firstNumber = below(2048);
        blocks = MakeSampleBlocks(o);
        break;
      }
      case 1:
      case 2: {  // few numbers, many duplicates and gaps, few dates and dosimeters
        const int count = below(120);
        const int range = 1 + below(60);
        for (int i = 0; i < count; ++i) blocks.push_back(synthetic(c, static_cast<uint16_t>(below(range))));
        break;
      }
      case 3: {  // a reader image and a little more, numbers beyond 2047 at the end
        const int count = 2040 + below(70);
        const int first = below(2048);
        const int modulus = chance(50) ? 2048 : 4096;
        for (int i = 0; i < count; ++i)
          blocks.push_back(synthetic(c, static_cast<uint16_t>((first + i) % modulus)));
        break;
      }
      case 4: {  // the same download appended twice
        SampleDataOptions o;
        o.blocks = 1 + below(200);
        o.seed = next();
        o.firstNumber = below(2048);
        blocks = MakeSampleBlocks(o);
        const auto again = blocks;
        blocks.insert(blocks.end(), again.begin(), again.end());
        break;
      }
      default: {  // noise
        c.bytes.resize(static_cast<size_t>(below(5000)));
        for (auto& b : c.bytes) b = static_cast<uint8_t>(next());
        break;
      }
    }
    if (!blocks.empty()) {
      c.bytes.resize(blocks.size() * 512);
      std::memcpy(c.bytes.data(), blocks.data(), c.bytes.size());
    }
    if (kind == 2 || chance(15)) {  // a cut-off record at the end
      const size_t tail = 1 + static_cast<size_t>(below(511));
      for (size_t i = 0; i < tail; ++i)
        c.bytes.push_back(static_cast<uint8_t>(i == 1 || i == 2 ? below(4) : next()));
    }
    for (size_t off = 0; off + 3 <= c.bytes.size(); off += 512) {
      c.numbers.push_back(static_cast<uint16_t>(c.bytes[off + 1] | c.bytes[off + 2] << 8));
      if (off < 24 * 512 || (off >= 2024 * 512 && off < 2072 * 512)) c.edges.push_back(c.numbers.back());
      // The wraps happen at records 0 and 2047: start there often.
      if (off == 0 || off == 2047 * 512) c.edges.insert(c.edges.end(), 20, c.numbers.back());
      if (off + 512 <= c.bytes.size()) {
        Stamp s;
        std::memcpy(s.data(), &c.bytes[off + 3], 5);
        c.dates.push_back(s);
        Bulb b;
        std::memcpy(b.data(), &c.bytes[off + 14], 5);
        c.bulbs.push_back(b);
      }
    }
    return c;
  }

  uint32_t number(const Corpus& c) {
    const int k = below(100);
    if (k < 20 && !c.edges.empty()) return pick(c.edges);
    if (k < 55 && !c.numbers.empty()) return pick(c.numbers);
    if (k < 80) return static_cast<uint32_t>(below(2048));
    if (k < 90) return chance(50) ? 2047u - below(3) : static_cast<uint32_t>(below(3));
    return static_cast<uint32_t>(below(0x10000));
  }

  SearchRequest request(const Corpus& c) {
    SearchRequest r;
    std::memset(&r, 0, sizeof r);
    // Unfiltered pages (flags 0 or 8) step record by record; give them a
    // fair share.
    r.Flags = static_cast<uint8_t>(chance(30) ? below(2) * kSearchForward : below(16));
    r.StartBlock = static_cast<uint16_t>(number(c));
    r.FromBlock = static_cast<uint16_t>(number(c));
    Stamp from = pick(c.dates), to = pick(c.dates);
    if (chance(30)) from[4] = static_cast<uint8_t>(from[4] - 1);
    if (chance(30)) to[4] = static_cast<uint8_t>(to[4] + 1);
    if (chance(20)) from = {0, 0, 0, 0, 0};
    if (chance(20)) to = {255, 255, 255, 255, 255};
    std::memcpy(r.DateFrom, from.data(), 5);
    std::memcpy(r.DateTo, to.data(), 5);
    std::memcpy(r.Dosimeter, pick(c.bulbs).data(), 5);
    return r;
  }

  int pageSize() {
    const int k = below(100);
    if (k < 60) return kPageRows;
    if (k < 95) return 1 + below(kPageRows);
    return k < 97 ? 0 : kPageRows + 1 + below(10);
  }

 private:
  BlockRecord synthetic(const Corpus& c, uint16_t number) {
    BlockRecord r;
    auto* raw = reinterpret_cast<uint8_t*>(&r);
    for (size_t i = 0; i < sizeof r; ++i) raw[i] = static_cast<uint8_t>(next());
    r.BlockNumber = number;
    std::memcpy(r.DateTime, pick(c.dates).data(), 5);
    std::memcpy(r.BulbID, pick(c.bulbs).data(), 5);
    return r;
  }

  std::mt19937_64 rng_;
};

void randomise(void* p, size_t n, Generator& g) {
  auto* b = static_cast<uint8_t*>(p);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(g.next());
}

class DataFileReference : public ::testing::Test {
 protected:
  QString store(const Corpus& c) {
    const QString p = dir.filePath(QStringLiteral("f%1.dat").arg(files++));
    QFile f(p);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(c.bytes.data()), static_cast<qint64>(c.bytes.size()));
    return p;
  }

  // Runs requests on one file through both implementations.
  void compare(Generator& g, const Corpus& c, int requests) {
    const QString p = store(c);
    const QByteArray name = QFile::encodeName(p);
    SCOPED_TRACE(::testing::Message() << "file of " << c.bytes.size() << " bytes");

    Reference ref;
    TNurvoDataBlock block(nullptr);
    ASSERT_EQ(block.SkimFile(p), ref.skim(name.constData()));
    EXPECT_EQ(block.ValidBlocks, ref.validBlocks);
    EXPECT_EQ(block.LastBlock, ref.lastBlock);
    EXPECT_EQ(block.BlockIndex, ref.blockIndex);

    for (int q = 0; q < requests; ++q) {
      if (g.chance(25)) {
        const uint32_t number = g.chance(5) ? 0x10000u + g.number(c) : g.number(c);
        randomise(&block.Record, sizeof block.Record, g);
        const int got = block.ReadFileBlock(number);
        ASSERT_EQ(got, ref.read(name.constData(), number)) << "read " << number;
        ASSERT_EQ(std::memcmp(&block.Record, &ref.record, 512), 0) << "read " << number;
        ASSERT_EQ(block.IsLoaded(), got == 0);
        ASSERT_EQ(block.BlockIndex, ref.blockIndex);
        ASSERT_EQ(block.FileHandle, nullptr);
        continue;
      }
      const SearchRequest r = g.request(c);
      const uint32_t upper = g.number(c), lower = g.number(c);
      search(g, block, ref, name, r, g.pageSize(), upper, lower);
      if (HasFatalFailure()) return;
    }

    // Unfiltered pages through the wrap points, both ways.
    for (const size_t record : {size_t{0}, size_t{1}, size_t{2046}, size_t{2047}, size_t{2048}}) {
      if (record >= c.numbers.size()) continue;
      for (const uint8_t flags : {uint8_t{0}, uint8_t{kSearchForward}}) {
        SearchRequest r;
        std::memset(&r, 0, sizeof r);
        r.Flags = flags;
        r.StartBlock = c.numbers[record];
        search(g, block, ref, name, r, kPageRows, 0, 0);
        if (HasFatalFailure()) return;
      }
    }
  }

  void search(Generator& g, TNurvoDataBlock& block, Reference& ref, const QByteArray& name,
              const SearchRequest& r, int pageSize, uint32_t upper, uint32_t lower) {
    randomise(&block.Record, sizeof block.Record, g);
    randomise(block.Summaries, sizeof block.Summaries, g);
    std::memcpy(&ref.record, &block.Record, sizeof ref.record);
    std::memcpy(ref.summaries, block.Summaries, sizeof ref.summaries);

    int count = -7, refCount = -7;
    const int got = block.SearchFileBlocks(r, pageSize, upper, lower, &count);
    const int want = ref.search(name.constData(), r, pageSize, upper, lower, &refCount);
    const auto what = ::testing::Message()
                      << "flags " << int{r.Flags} << " start " << int{r.StartBlock} << " page " << pageSize
                      << " upper " << upper << " lower " << lower;
    ASSERT_EQ(got, want) << what;
    ASSERT_EQ(count, refCount) << what;
    ASSERT_EQ(std::memcmp(block.Summaries, ref.summaries, sizeof ref.summaries), 0) << what;
    ASSERT_EQ(std::memcmp(&block.Record, &ref.record, 512), 0) << what;
    ASSERT_EQ(block.BlockIndex, ref.blockIndex) << what;
    ASSERT_EQ(block.Source, SourceFile);
    ASSERT_EQ(block.FileHandle, nullptr);
    ++searches;
  }

  QTemporaryDir dir;
  int files = 0;
  int searches = 0;
};

TEST_F(DataFileReference, SmallAndOddFilesAgreeWithTheSeekAndReadAlgorithm) {
  Generator g(20060624);
  for (int i = 0; i < 300; ++i) {
    const int kind = i % 6 == 3 ? 1 : i % 6;  // the big kind runs in its own test
    compare(g, g.file(kind), 25);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(searches, 4000);
}

TEST_F(DataFileReference, ReadsStraightFromTheFileAgreeToo) {
  // Large files are not kept in memory; lower the limit so that these files
  // are read directly, or partly from memory.
  for (const uint64_t limit : {uint64_t{0}, uint64_t{3000}, uint64_t{1} << 20}) {
    const uint64_t old = quelm::DataFileReader::setKeepLimit(limit);
    Generator g(limit + 7);
    for (int i = 0; i < 60; ++i) compare(g, g.file(i % 6 == 3 ? 4 : i % 6), 15);
    Generator big(limit + 8);
    compare(big, big.file(3), 6);
    quelm::DataFileReader::setKeepLimit(old);
    if (HasFatalFailure()) return;
  }
}

TEST_F(DataFileReference, FullReaderImagesAgreeWithTheSeekAndReadAlgorithm) {
  Generator g(1047040);
  for (int i = 0; i < 8; ++i) {
    compare(g, g.file(3), 12);
    if (HasFatalFailure()) return;
  }
  // Realistic full images with rare filters: whole rounds of lookups.
  for (int i = 0; i < 2; ++i) {
    SampleDataOptions o;
    o.blocks = 2048;
    o.seed = 40 + i;
    o.firstNumber = 1500;
    Corpus c;
    c.bytes.resize(2048 * 512);
    const auto blocks = MakeSampleBlocks(o);
    std::memcpy(c.bytes.data(), blocks.data(), c.bytes.size());
    for (size_t k = 0; k < blocks.size(); ++k) {
      const BlockRecord& b = blocks[k];
      c.numbers.push_back(uint16_t{b.BlockNumber});
      if (k < 24 || k >= 2024) c.edges.push_back(uint16_t{b.BlockNumber});
      if (k == 0 || k == 2047) c.edges.insert(c.edges.end(), 20, uint16_t{b.BlockNumber});
      Stamp s;
      std::memcpy(s.data(), b.DateTime, 5);
      c.dates.push_back(s);
      Bulb bulb;
      std::memcpy(bulb.data(), b.BulbID, 5);
      c.bulbs.push_back(bulb);
    }
    compare(g, c, 10);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
