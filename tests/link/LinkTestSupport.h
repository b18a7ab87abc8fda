#pragma once
// Pseudo-terminals and configuration files for the link tests.

#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <vector>

namespace quelm::test {

// A pseudo-terminal whose master side the test holds; the slave path is what
// the port opens. A second slave descriptor stays open so that the port's
// closes never hang the line up.
class TestPty {
 public:
  TestPty();
  ~TestPty();
  TestPty(const TestPty&) = delete;
  TestPty& operator=(const TestPty&) = delete;

  bool ok() const { return master_ >= 0; }
  int master() const { return master_; }
  const QString& slavePath() const { return slave_; }
  void write(const std::vector<uint8_t>& bytes) const;
  // Everything the port wrote, waiting up to ms for at least `atLeast` bytes.
  std::vector<uint8_t> read(size_t atLeast, int ms) const;
  // Closes both ends the test holds: the line hangs up on the port, as when
  // an adapter is pulled out, and the device disappears.
  void hangUp();

 private:
  int master_ = -1;
  int keeper_ = -1;
  QString slave_;
};

// A configuration file in its own temporary folder with
// [Serial port settings] COMn=<device> lines.
class TestIni {
 public:
  TestIni();
  void map(int port, const QString& device);
  const QString& path() const { return path_; }

 private:
  QTemporaryDir dir_;
  QString path_;
};

}  // namespace quelm::test
