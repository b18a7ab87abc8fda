#pragma once
// A data file opened for reading during one operation of TNurvoDataBlock.
//
// The block operations are defined in terms of seeks and reads on the file,
// and a lookup by block number scans from the first record. Done literally, a
// filtered page over a full file rereads the file once per block number it
// steps over. This reader gives the same answers from a single pass: the
// record numbers are indexed as the file is read (first occurrence wins), and
// record reads are served from the bytes already read when the file is small
// enough to keep them. Memory stays bounded for files of any size.

#include <QString>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace quelm {

class DataFileReader {
 public:
  DataFileReader() = default;
  ~DataFileReader();
  DataFileReader(const DataFileReader&) = delete;
  DataFileReader& operator=(const DataFileReader&) = delete;

  // 0 on success; -107 when the name cannot be opened or is not a plain file
  // (a directory, a pipe, a device; the failure is noted with its reason);
  // the positive errno when the file cannot be positioned at its start.
  // Nothing stays open on failure.
  int open(const QString& name);
  // 0, or -111 when closing reports an error. Closing a closed reader is 0.
  int close();
  bool isOpen() const { return stream_ != nullptr; }
  std::FILE* stream() const { return stream_; }

  // Copies len bytes from offset into dst when all of them are in the file;
  // otherwise returns false and leaves dst untouched.
  bool readAt(uint64_t offset, void* dst, size_t len);

  // Size of the file in bytes as far as it can be read.
  uint64_t size();
  // The system's error number of the first read that failed since the
  // open (the file then reads as ending there), 0 when none: a caller that
  // counts or copies the file's blocks must not take the shorter file for
  // the whole one.
  int readError() const { return readError_; }

  // Index of the first record whose 16-bit block number equals number,
  // counting only records long enough to hold that number (3 bytes), or -1.
  // Numbers above 0xFFFF never match.
  int64_t findFirst(uint32_t number);

  // Files up to this many bytes are kept in memory while open (default
  // 16 MiB); tests lower it to run the direct reads. Returns the old limit.
  static uint64_t setKeepLimit(uint64_t bytes);

  // The emulated file position of the block stepping (end of the record last
  // read).
  uint64_t position = 0;

 private:
  void scanNextChunk();
  bool readFully(uint64_t offset, uint8_t* dst, size_t len, size_t* got);

  std::FILE* stream_ = nullptr;
  int fd_ = -1;
  std::vector<uint8_t> head_;  // the file's first bytes, as far as scanned and kept
  // Block number -> first record index, -1 = not seen; made by the first
  // lookup (counting alone needs none).
  std::unique_ptr<int32_t[]> first_;
  std::vector<uint8_t> chunk_;
  uint64_t scanned_ = 0;  // bytes passed by the index scan
  bool atEnd_ = false;    // the scan reached the end of the file
  int readError_ = 0;
};

// Why a data file's end holds no block: the cut-off record of `bytes` after
// its `wholeRecords` whole ones. The note under a source file error, for
// the download that refuses to copy such a file and the list that leaves
// the cut-off record out.
QString CutOffRecordText(uint64_t bytes, uint64_t wholeRecords);
// The same, named after the file: what a command that read the whole
// records of `fileName` says before it fails.
QString CutOffRecordNote(const QString& fileName, uint64_t bytes, uint64_t wholeRecords);

}  // namespace quelm
