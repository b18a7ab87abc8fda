#pragma once
// The program's prompter: message boxes, file dialogs and modal windows of
// the widgets toolkit. main() installs it; tests use a scripted one.

#include "base/Prompter.h"

namespace quelm {

class QtPrompter final : public Prompter {
 public:
  StandardButton message(const MessageRequest& request) override;
  std::optional<QString> openFile(const FileRequest& request) override;
  QStringList openFiles(const FileRequest& request) override;
  std::optional<QString> saveFile(const FileRequest& request) override;
  // A QDialog runs with exec(); closing it without a result (close box,
  // Escape) counts as mrCancel, as callers of modal windows expect.
  int runModal(QObject& window) override;
};

}  // namespace quelm
