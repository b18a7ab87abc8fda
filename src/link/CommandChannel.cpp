#include "link/CommandChannel.h"

namespace {
TCommandChannel* g_channel = nullptr;
}

TCommandChannel* CommandChannel() { return g_channel; }

void SetCommandChannel(TCommandChannel* channel) { g_channel = channel; }
