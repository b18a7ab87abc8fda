#pragma once
// Wiring of the program's link (owned by the log window) to the two link
// windows and to the data classes. The windows are asked of the program's
// window owner when they are needed (and built then), so the order in which
// the windows are taken down at the end does not matter.

class TFrameLink;

// The link becomes the program's command channel; an exchange without a
// port shows OptionsForm modally (through the dialog seam), and diagnostic
// bit 0x10 fills and shows RSDebugForm.
void ConnectLinkWindows(TFrameLink& link);
// Undoes ConnectLinkWindows (the link is going away).
void DisconnectLinkWindows(TFrameLink& link);
