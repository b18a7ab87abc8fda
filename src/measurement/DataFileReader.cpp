#include "measurement/DataFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>
#include <cstring>

#include "base/DataFiles.h"
#include "base/ErrorCodes.h"

namespace quelm {
namespace {
constexpr size_t kRecordSize = 512;
constexpr size_t kChunkSize = 256 * kRecordSize;  // 128 KiB per read
// Files up to this size are kept in memory during the operation (a full
// reader image is 1 MiB); record reads beyond it go to the file.
uint64_t keepLimit = 16u << 20;
}  // namespace

uint64_t DataFileReader::setKeepLimit(uint64_t bytes) {
  const uint64_t old = keepLimit;
  keepLimit = bytes;
  return old;
}

DataFileReader::~DataFileReader() { close(); }

int DataFileReader::open(const QString& name) {
  close();
  // Only plain files hold blocks: a pipe or a device would block the open,
  // or be read without end (/dev/zero).
  const int fd = openDataFileForReading(name);
  if (fd < 0) return kErrFileOpen;
  if (::lseek(fd, 0, SEEK_SET) < 0) {
    const int error = errno;
    ::close(fd);
    return error > 0 ? error : EINVAL;
  }
  std::FILE* stream = ::fdopen(fd, "rb");
  if (!stream) {
    ::close(fd);
    return kErrFileOpen;
  }
  stream_ = stream;
  fd_ = fd;
  head_.clear();
  first_.reset();
  scanned_ = 0;
  atEnd_ = false;
  readError_ = 0;
  position = 0;
  return 0;
}

int DataFileReader::close() {
  if (!stream_) return 0;
  const int r = std::fclose(stream_);
  stream_ = nullptr;
  fd_ = -1;
  head_.clear();
  head_.shrink_to_fit();
  first_.reset();
  chunk_.clear();
  chunk_.shrink_to_fit();
  return r == 0 ? 0 : kErrFileClose;
}

bool DataFileReader::readFully(uint64_t offset, uint8_t* dst, size_t len, size_t* got) {
  size_t done = 0;
  while (done < len) {
    const ssize_t n = ::pread(fd_, dst + done, len - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && readError_ == 0) readError_ = errno;
    if (n <= 0) break;  // end of file, or a read error: the file ends here
    done += static_cast<size_t>(n);
  }
  *got = done;
  return done == len;
}

void DataFileReader::scanNextChunk() {
  if (atEnd_ || fd_ < 0) {
    atEnd_ = true;
    return;
  }
  chunk_.resize(kChunkSize);
  size_t got = 0;
  readFully(scanned_, chunk_.data(), kChunkSize, &got);
  // Chunks start on record boundaries, so a record's number never straddles
  // two of them; a record shorter than 3 bytes has no number.
  for (size_t o = 0; first_ && o + 3 <= got; o += kRecordSize) {
    uint16_t number;
    std::memcpy(&number, chunk_.data() + o + 1, 2);
    if (first_[number] < 0) first_[number] = static_cast<int32_t>((scanned_ + o) / kRecordSize);
  }
  if (scanned_ == head_.size() && scanned_ + got <= keepLimit)
    head_.insert(head_.end(), chunk_.begin(), chunk_.begin() + static_cast<std::ptrdiff_t>(got));
  scanned_ += got;
  if (got < kChunkSize) atEnd_ = true;
}

uint64_t DataFileReader::size() {
  while (!atEnd_) scanNextChunk();
  return scanned_;
}

int64_t DataFileReader::findFirst(uint32_t number) {
  if (number > 0xFFFF) {
    size();  // a lookup that never matches still runs to the end of the file
    return -1;
  }
  if (!first_) {
    // Counting needs no index; the first lookup makes it, from the start.
    first_.reset(new int32_t[0x10000]);
    std::memset(first_.get(), 0xFF, 0x10000 * sizeof(int32_t));  // -1: not seen
    scanned_ = 0;
    atEnd_ = false;
    head_.clear();
  }
  for (;;) {
    if (first_[number] >= 0) return first_[number];
    if (atEnd_) return -1;
    scanNextChunk();
  }
}

bool DataFileReader::readAt(uint64_t offset, void* dst, size_t len) {
  if (fd_ < 0) return false;
  if (len == 0) return true;
  if (offset + len <= head_.size()) {
    std::memcpy(dst, head_.data() + offset, len);
    return true;
  }
  if (atEnd_ && offset + len > scanned_) return false;
  std::vector<uint8_t> buffer(len);
  size_t got = 0;
  if (!readFully(offset, buffer.data(), len, &got)) return false;
  std::memcpy(dst, buffer.data(), len);
  return true;
}

QString CutOffRecordText(uint64_t bytes, uint64_t wholeRecords) {
  return QStringLiteral("it ends in a cut-off record of %1 bytes after record %2")
      .arg(bytes)
      .arg(static_cast<long long>(wholeRecords) - 1);
}

QString CutOffRecordNote(const QString& fileName, uint64_t bytes, uint64_t wholeRecords) {
  return fileName + QStringLiteral(": ") + CutOffRecordText(bytes, wholeRecords);
}

}  // namespace quelm
