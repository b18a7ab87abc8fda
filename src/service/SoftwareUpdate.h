#pragma once
// The reader software update: a program file goes to the reader's loader in
// blocks of 1024 bytes over the program's serial link. The loader has a
// protocol of its own beside the command frames:
//   request  AA 88 | command | address u16 LE | data (1024 bytes for a block)
//   reply    82 55 | status | two bytes not interpreted
// command 1 start, 2 write block, 3 finish; status 1 ready (also the
// announcement when the reader is switched on), 2 block written, 5 finished.
//
// SoftwareUpdate is the one workflow the update window and the command line
// drive: the file name goes in, status texts and progress come out, and
// Abort() (or the service window's Exit, through the link's LoaderWaiting)
// ends a wait. While it runs it holds the link, so no command exchange and
// no second update can start.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/AbortToken.h"

class QFile;
class TFrameLink;

namespace quelm {

inline constexpr int kLoaderBlockSize = 1024;
inline constexpr int kLoaderMaxBlocks = 64;
inline constexpr int64_t kLoaderMaxImage = int64_t{kLoaderBlockSize} * kLoaderMaxBlocks;

enum LoaderCommand : uint8_t { kLoaderStart = 1, kLoaderWriteBlock = 2, kLoaderFinish = 3 };
enum LoaderStatus : uint8_t { kLoaderReady = 1, kLoaderBlockWritten = 2, kLoaderFinished = 5 };

std::vector<uint8_t> BuildLoaderRequest(uint8_t command, uint16_t address, const uint8_t* data, int length);

class SoftwareUpdate {
 public:
  explicit SoftwareUpdate(TFrameLink& link);
  SoftwareUpdate(const SoftwareUpdate&) = delete;
  SoftwareUpdate& operator=(const SoftwareUpdate&) = delete;

  static inline const QString kWaitingText = QStringLiteral("Waiting for reader switch on.");
  static inline const QString kDownloadingText = QStringLiteral("Program downloading...");

  // The whole update: loader mode on, file checked, port opened, the
  // loader's announcement awaited (as long as it takes), start, blocks,
  // finish, port closed, loader mode off. Returns 0 once the loader has
  // confirmed the finish, else the code of the first failure; nothing is
  // sent to the loader after a failure. Nothing is shown: the front end
  // reports the code. A line that is taken (an exchange, another update, a
  // job holding it between its commands) refuses it with -215 before the
  // file or the port is touched.
  int Download(const QString& fileName);
  // After a Download that returned 0: kErrComDisconnect when the port could
  // not be closed afterwards, else 0. The reader has its program then; the
  // front end tells the operator about the line.
  int CloseFailure() const { return closeFailure_; }
  // Ends the wait in progress, or the next one, with -213.
  void Abort() { abort_.request(); }
  bool Running() const { return running_; }

  // Status text of the update (empty after a failure).
  std::function<void(const QString&)> onStatus;
  // Progress position of maximum (64), one step as each block goes out;
  // position 0 when the update ends.
  std::function<void(int position, int maximum)> onProgress;
  // The blocks the file fills (known once the file has been checked).
  int Blocks() const { return blocks_; }

  // The loader routines. A request is written whole; 0 or the port's code.
  int SendLoaderRequest(uint8_t command, uint16_t address, const uint8_t* data, int length);
  // Waits until a reply is in, "Abort" or the service window's Exit; 0 or a
  // code. The wait lets user input through and sleeps between events.
  int WaitLoaderReply();
  // Status byte of the reply the last wait took.
  uint8_t ReplyStatus() const;

 private:
  int Transfer(const QString& fileName);
  int Step(uint8_t command, uint16_t address, const uint8_t* data, int length, uint8_t expected);
  int SendImage(const QByteArray& image);
  void Status(const QString& text);
  void Progress(int position);

  TFrameLink& link_;
  AbortToken abort_;
  bool running_ = false;
  int closeFailure_ = 0;
  int blocks_ = 0;
  int position_ = 0;
  static constexpr int kProgressMax = kLoaderMaxBlocks;
};

}  // namespace quelm
