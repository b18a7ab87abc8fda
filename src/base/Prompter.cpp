#include "base/Prompter.h"

#include <cstdio>

namespace quelm {
namespace {

class ConsolePrompter final : public Prompter {
 public:
  StandardButton message(const MessageRequest& r) override {
    std::fprintf(stderr, "[%s] %s\n", qPrintable(r.title), qPrintable(r.text));
    if (!r.note.isEmpty()) std::fprintf(stderr, "%s\n", qPrintable(r.note));
    if (r.defaultButton != NoButton) return r.defaultButton;
    for (unsigned bit = 1; bit <= Ignore; bit <<= 1)
      if (r.buttons & bit) return static_cast<StandardButton>(bit);
    return Ok;
  }
  std::optional<QString> openFile(const FileRequest&) override { return std::nullopt; }
  std::optional<QString> saveFile(const FileRequest&) override { return std::nullopt; }
  int runModal(QObject&) override { return mrCancel; }
};

ConsolePrompter g_console;
Prompter* g_installed = nullptr;

}  // namespace

Prompter& prompter() { return g_installed ? *g_installed : g_console; }

void setPrompter(Prompter* p) { g_installed = p; }

StandardButton showMessage(MessageKind kind, const QString& title, const QString& text, unsigned buttons,
                           StandardButton defaultButton) {
  return prompter().message(MessageRequest{kind, title, text, buttons, defaultButton});
}

}  // namespace quelm
