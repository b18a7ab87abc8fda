#include "ScriptedPrompter.h"

namespace quelm::test {

ScriptedPrompter::ScriptedPrompter() { setPrompter(this); }

ScriptedPrompter::~ScriptedPrompter() { setPrompter(nullptr); }

QStringList ScriptedPrompter::texts() const {
  QStringList t;
  for (const ShownMessage& m : messages) t << m.text;
  return t;
}

void ScriptedPrompter::clear() {
  messages.clear();
  fileRequests.clear();
  modalWindows.clear();
}

StandardButton ScriptedPrompter::message(const MessageRequest& r) {
  messages.push_back({r.kind, r.title, r.text, r.buttons, r.note});
  if (whileShown) whileShown();
  if (!answers.empty()) {
    const StandardButton a = answers.front();
    answers.pop_front();
    return a;
  }
  if (r.defaultButton != NoButton) return r.defaultButton;
  for (unsigned bit = 1; bit <= Ignore; bit <<= 1)
    if (r.buttons & bit) return static_cast<StandardButton>(bit);
  return Ok;
}

std::optional<QString> ScriptedPrompter::openFile(const FileRequest& r) { return saveFile(r); }

QStringList ScriptedPrompter::openFiles(const FileRequest& r) {
  const std::optional<QString> answer = saveFile(r);
  return answer ? answer->split(QLatin1Char('\n')) : QStringList{};
}

std::optional<QString> ScriptedPrompter::saveFile(const FileRequest& r) {
  fileRequests.push_back(r);
  if (fileAnswers.empty()) return std::nullopt;
  const bool chosen = fileAnswers.front().has_value();
  const QString path = fileAnswers.front().value_or(QString());
  fileAnswers.pop_front();
  if (!chosen) return std::nullopt;
  return path;
}

int ScriptedPrompter::runModal(QObject& window) {
  modalWindows << window.objectName();
  const auto it = modalHandlers.find(window.objectName());
  return it == modalHandlers.end() ? mrCancel : it->second(window);
}

}  // namespace quelm::test
