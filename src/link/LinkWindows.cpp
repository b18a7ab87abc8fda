#include "link/LinkWindows.h"

#include "link/CommandChannel.h"
#include "link/FrameLink.h"
#include "link/OptionsForm.h"
#include "link/RSDebugForm.h"
#include "base/Prompter.h"
#include "base/WindowOwner.h"

void ConnectLinkWindows(TFrameLink& link) {
  link.ShowOptionsModal = [] {
    TOptionsForm* options = quelm::OpenWindow<TOptionsForm>();
    return options ? quelm::prompter().runModal(*options) : int{quelm::mrCancel};
  };
  link.ShowFrameMonitor = [](const quelm::FrameMonitorData& d) {
    if (auto* monitor = quelm::OpenWindow<TRSDebugForm>()) monitor->ShowFrames(d);
  };
  SetCommandChannel(&link.Channel());
}

void DisconnectLinkWindows(TFrameLink& link) {
  link.ShowOptionsModal = nullptr;
  link.ShowFrameMonitor = nullptr;
  if (CommandChannel() == &link.Channel()) SetCommandChannel(nullptr);
}
