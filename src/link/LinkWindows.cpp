#include "link/LinkWindows.h"

#include "link/CommandChannel.h"
#include "link/FrameLink.h"
#include "link/OptionsForm.h"
#include "link/RSDebugForm.h"
#include "base/Prompter.h"

void ConnectLinkWindows(TFrameLink& link) {
  link.ShowOptionsModal = [] {
    return OptionsForm ? quelm::prompter().runModal(*OptionsForm) : int{quelm::mrCancel};
  };
  link.ShowFrameMonitor = [](const quelm::FrameMonitorData& d) {
    if (RSDebugForm) RSDebugForm->ShowFrames(d);
  };
  SetCommandChannel(&link.Channel());
}

void DisconnectLinkWindows(TFrameLink& link) {
  link.ShowOptionsModal = nullptr;
  link.ShowFrameMonitor = nullptr;
  if (CommandChannel() == &link.Channel()) SetCommandChannel(nullptr);
}
