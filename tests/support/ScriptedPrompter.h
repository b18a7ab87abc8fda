#pragma once
// A prompter for tests: records every box, file dialog and modal window the
// code under test shows, and answers from prepared scripts. It never blocks.

#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "base/Prompter.h"

namespace quelm::test {

struct ShownMessage {
  MessageKind kind;
  QString title;
  QString text;
  unsigned buttons;
  QString note;
};

class ScriptedPrompter final : public Prompter {
 public:
  // Installs itself for its lifetime and restores the console fallback after.
  ScriptedPrompter();
  ~ScriptedPrompter() override;
  ScriptedPrompter(const ScriptedPrompter&) = delete;
  ScriptedPrompter& operator=(const ScriptedPrompter&) = delete;

  // Answers for message boxes, in order. When exhausted: the box's default
  // button, else its first button.
  std::deque<StandardButton> answers;
  // Answers for open and save dialogs, in order; nullopt cancels. When
  // exhausted, dialogs are cancelled. A dialog for several files takes one
  // answer with a name per line.
  std::deque<std::optional<QString>> fileAnswers;
  // Handlers for modal windows by objectName; they may work the window and
  // return its modal result. A window without handler returns mrCancel.
  std::map<QString, std::function<int(QObject&)>> modalHandlers;
  // Runs while each message box is "open", the way a real box runs its own
  // event loop (e.g. to process events for a while).
  std::function<void()> whileShown;

  std::vector<ShownMessage> messages;
  std::vector<FileRequest> fileRequests;
  QStringList modalWindows;

  QStringList texts() const;
  void clear();

  StandardButton message(const MessageRequest& request) override;
  std::optional<QString> openFile(const FileRequest& request) override;
  std::optional<QString> saveFile(const FileRequest& request) override;
  QStringList openFiles(const FileRequest& request) override;
  int runModal(QObject& window) override;
};

}  // namespace quelm::test
