// The port options window and the frame monitor.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionComboBox>
#include <memory>
#include <vector>

#include "LinkTestSupport.h"
#include "ReaderModel.h"
#include "ScriptedPrompter.h"
#include "SimServer.h"
#include "base/Diag.h"
#include "base/WindowOwner.h"
#include "link/COMPort.h"
#include "link/FrameDump.h"
#include "link/FrameLink.h"
#include "link/LinkWindows.h"
#include "link/OptionsForm.h"
#include "link/RSDebugForm.h"
#include "sample-data/SampleData.h"

using namespace quelm;

namespace {

// Stands in for the main window's saved members.
struct MainWindowChoice {
  int PortNumber = 1;
  int BaudRate = 9;
  TSavedPortChoice choice() {
    return {[this] { return PortNumber; }, [this](int v) { PortNumber = v; }, [this] { return BaudRate; },
            [this](int v) { BaudRate = v; }};
  }
};

void press(QWidget* w, int key) {
  QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(w, &down);
}

}  // namespace

TEST(OptionsForm, HandsTheDefaultConfigurationToThePortAtCreation) {
  TCOMPort port;
  port.SetPortNumber(pnCustom);
  port.SetBaudRate(br9600);
  MainWindowChoice main;
  TOptionsForm form(port, main.choice());
  EXPECT_EQ(port.PortNumber(), pnCOM1);
  EXPECT_EQ(port.BaudRate(), br19200);
  EXPECT_EQ(form.PortNumberComboBox->currentText(), "COM1");
  EXPECT_EQ(form.BaudRateComboBox->currentText(), "19200");
  EXPECT_EQ(form.PortNumberComboBox->count(), 17);
  EXPECT_EQ(form.PortNumberComboBox->itemText(16), "COM16");
  EXPECT_EQ(form.BaudRateComboBox->count(), 16);
  EXPECT_EQ(form.BaudRateComboBox->itemText(0), "-----");
  EXPECT_EQ(form.BaudRateComboBox->itemText(15), "256000");
  EXPECT_EQ(form.windowTitle(), "Options");
  EXPECT_EQ(form.pos(), QPoint(50, 50));
}

TEST(OptionsForm, ThePortListOpensAsAListOfFourLines) {
  TCOMPort port;
  MainWindowChoice main;
  TOptionsForm form(port, main.choice());
  QComboBox& box = *form.PortNumberComboBox;
  QStyleOptionComboBox option;
  option.initFrom(&box);
  // A menu-like popup would ignore the count of visible lines.
  EXPECT_EQ(box.style()->styleHint(QStyle::SH_ComboBox_Popup, &option, &box), 0);
  EXPECT_EQ(box.maxVisibleItems(), 4);
  form.show();
  box.showPopup();
  QApplication::processEvents();
  const int lines = box.view()->viewport()->height() / box.view()->sizeHintForRow(0);
  EXPECT_EQ(lines, 4);
  box.hidePopup();
}

TEST(OptionsForm, OkStoresTheChoiceInPortAndMainWindowAndEnterCancels) {
  TCOMPort port;
  MainWindowChoice main;
  TOptionsForm form(port, main.choice());
  form.show();
  form.PortNumberComboBox->setCurrentIndex(3);
  form.BaudRateComboBox->setCurrentIndex(7);
  press(&form, Qt::Key_Return);
  EXPECT_EQ(form.result(), mrCancel);
  EXPECT_EQ(port.PortNumber(), pnCOM1) << "Enter cancels";
  EXPECT_EQ(main.PortNumber, 1);
  EXPECT_EQ(form.PortNumberComboBox->currentIndex(), 1) << "the next showing starts from the port's choice";

  form.show();
  form.PortNumberComboBox->setCurrentIndex(3);
  form.BaudRateComboBox->setCurrentIndex(7);
  form.OKButton->click();
  EXPECT_EQ(form.result(), mrOk);
  EXPECT_EQ(port.PortNumber(), 3);
  EXPECT_EQ(port.BaudRate(), 7);
  EXPECT_EQ(main.PortNumber, 3);
  EXPECT_EQ(main.BaudRate, 7);

  form.show();
  press(&form, Qt::Key_Escape);
  EXPECT_EQ(form.result(), mrCancel);
  EXPECT_EQ(port.PortNumber(), 3);
}

TEST(OptionsForm, SavedIndicesOutsideTheListsBecomeNoPortAndTheDefaultRate) {
  TCOMPort port;
  MainWindowChoice main{40, -3};
  TOptionsForm form(port, main.choice());
  EXPECT_EQ(port.PortNumber(), pnCustom);
  EXPECT_EQ(port.BaudRate(), br19200);
  EXPECT_EQ(form.PortNumberComboBox->currentText(), "-----");
  EXPECT_EQ(main.PortNumber, 0);
  EXPECT_EQ(main.BaudRate, 9);

  MainWindowChoice high{16, 16};
  TOptionsForm second(port, high.choice());
  EXPECT_EQ(port.PortNumber(), pnCOM16);
  EXPECT_EQ(port.BaudRate(), br19200);
}

TEST(OptionsForm, TheBaudBoxAcceptsOnlyItsEntries) {
  TCOMPort port;
  MainWindowChoice main;
  TOptionsForm form(port, main.choice());
  form.BaudRateComboBox->setEditText(QStringLiteral("12345"));
  form.OKButton->click();
  EXPECT_EQ(port.BaudRate(), br19200) << "unknown text keeps the last valid rate";
  EXPECT_EQ(form.BaudRateComboBox->currentText(), "19200");

  form.BaudRateComboBox->setEditText(QStringLiteral("9600"));
  form.OKButton->click();
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(main.BaudRate, 7);

  form.BaudRateComboBox->setEditText(QString());
  form.OKButton->click();
  EXPECT_EQ(port.BaudRate(), br9600);
}

TEST(OptionsForm, ShowsTheDeviceTheChosenPortNames) {
  test::TestIni ini;
  ini.map(2, QStringLiteral("/dev/serial/by-id/usb-reader-if00"));
  TCOMPort port;
  port.IniFileName = ini.path();
  MainWindowChoice main;
  TOptionsForm form(port, main.choice());
  EXPECT_EQ(form.DevicePathLabel->text(), "/dev/ttyS0");
  form.PortNumberComboBox->setCurrentIndex(2);
  EXPECT_EQ(form.DevicePathLabel->text(), "/dev/serial/by-id/usb-reader-if00");
  form.PortNumberComboBox->setCurrentIndex(0);
  EXPECT_EQ(form.DevicePathLabel->text(), "(no port)");
}

TEST(OptionsForm, AnExchangeWithoutPortShowsItThroughTheDialogSeam) {
  test::ScriptedPrompter prompter;
  TFrameLink link;
  MainWindowChoice main{0, 9};
  TOptionsForm form(link.COMPortDrv, main.choice());
  link.ShowOptionsModal = [&] { return prompter.runModal(form); };
  uint8_t g[] = {'.', 'G', '#'};
  EXPECT_EQ(link.SendCOMCmd(g, 3), -100);
  EXPECT_EQ(prompter.modalWindows, QStringList({"OptionsForm"}));
}

TEST(RSDebugForm, ShowsBothFramesFields) {
  TRSDebugForm monitor;
  FrameMonitorData d;
  const uint8_t reset[] = {0xA1, 0x16, 0xFC, 0x08, 0x00, 0x00, 0xC4, 0x1E};
  d.transmitDump = DumpFrameBytes(reset, 8, true);
  d.transmit = DecodeFrameFields(reset, 8, 8);
  d.receive.length = QStringLiteral("11");
  // A whole block reply is far longer than the field: its start is what is read.
  const std::vector<uint8_t> reply(521, 0x55);
  d.receiveDump = DumpFrameBytes(reply.data(), 521, false);
  monitor.ShowFrames(d);
  EXPECT_EQ(monitor.RecieveEdit->cursorPosition(), 0);
  EXPECT_EQ(monitor.TransmitEdit->cursorPosition(), 0);
  EXPECT_TRUE(monitor.isVisible());
  EXPECT_EQ(monitor.windowTitle(), "RSDebug");
  EXPECT_EQ(monitor.TransmitEdit->text(), " (000)A1 (001)16 (002)FC (003)08 (004)00 (005)00 (006)C4 (007)1E");
  EXPECT_EQ(monitor.TrmSyncDatLabel->text(), "A116FC");
  EXPECT_EQ(monitor.TrmCRCDatLabel->text(), "C41E");
  EXPECT_EQ(monitor.TrmSIDatLabel->text(), "0");
  EXPECT_EQ(monitor.RcvLengthDatLabel->text(), "11");
  EXPECT_EQ(monitor.RecieveLabel->text(), "Recieve:");
  EXPECT_EQ(monitor.findChild<QLabel*>(QStringLiteral("RcvSeqNumDatLabel")), monitor.RcvSeqNumDatLabel);
  monitor.OKButton->click();
  EXPECT_FALSE(monitor.isVisible());
}

TEST(LinkWindows, TheLinkReachesBothWindowsThroughTheWindowOwnerWhichBuildsThemWhenNeeded) {
  test::ScriptedPrompter prompter;
  sim::TReaderModel model;
  model.LoadBlocks(MakeSampleBlocks({7, 1, 0}));
  sim::TReaderSimServer server(model);
  ASSERT_EQ(server.Open(), 0);
  test::TestIni ini;
  ini.map(1, server.SlavePath());
  TFrameLink link;
  link.COMPortDrv.IniFileName = ini.path();
  MainWindowChoice main{0, 9};
  auto windows = std::make_unique<quelm::WindowOwner>();
  windows->provide<TOptionsForm>([&] { return std::make_unique<TOptionsForm>(link.COMPortDrv, main.choice()); });
  ConnectLinkWindows(link);
  EXPECT_EQ(CommandChannel(), &link.Channel());

  // No port yet: the exchange asks for one, the operator picks COM1.
  prompter.modalHandlers[QStringLiteral("OptionsForm")] = [](QObject& w) {
    auto& form = static_cast<TOptionsForm&>(w);
    form.PortNumberComboBox->setCurrentIndex(1);
    form.OKButton->click();
    return form.result();
  };
  const uint32_t saved = DiagFlags;
  DiagFlags = kDiagMonitor;
  uint8_t g[] = {'.', 'G', '#'};
  EXPECT_EQ(link.SendCOMCmd(g, 3), 0);
  DiagFlags = saved;
  EXPECT_EQ(prompter.modalWindows, QStringList({"OptionsForm"}));
  EXPECT_EQ(main.PortNumber, 1);
  const TRSDebugForm* monitor = windows->built<TRSDebugForm>();
  ASSERT_NE(monitor, nullptr) << "the diagnostic bit builds the frame monitor";
  EXPECT_TRUE(monitor->isVisible());
  EXPECT_EQ(monitor->RcvLengthDatLabel->text(), "11");
  EXPECT_EQ(monitor->TrmSeqNumDatLabel->text(), "0");

  // At the end of the program the windows go before the link.
  windows.reset();
  link.COMPortDrv.SetPortNumber(pnCustom);
  EXPECT_EQ(link.SendCOMCmd(g, 3), -100);
  DisconnectLinkWindows(link);
  EXPECT_EQ(CommandChannel(), nullptr);
}
