#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "ScriptedPrompter.h"
#include "base/Config.h"
#include "base/Prompter.h"
#include "shell/AboutForm.h"

using quelm::test::ScriptedPrompter;

namespace {

TEST(AboutForm, ShowsProductVersionAndItsPlaces) {
  ScriptedPrompter p;
  quelm::setConfigFilePath(QStringLiteral("/opt/quelm/quelm.INI"));
  quelm::setPortNumberProvider([] { return 7; });
  {
    TAboutForm f;
    EXPECT_EQ(f.windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(f.pos(), QPoint(50, 50));
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(f.ProductName->text(), QStringLiteral("Quelm Controller"));
    EXPECT_EQ(f.Version->text(), QStringLiteral("Version ") + QStringLiteral(QUELM_VERSION));
    EXPECT_EQ(f.VersionText, quelm::programVersion());
    EXPECT_EQ(f.InfoGroupBox->title(), QStringLiteral("General information:"));
    EXPECT_EQ(f.CfgFileLabel->text(), QStringLiteral("Cfg/Ini file:"));
    EXPECT_EQ(f.StoragePathLabel->text(), QStringLiteral("Storage path:"));
    EXPECT_EQ(f.COMPortLabel->text(), QStringLiteral("COM port:"));
    EXPECT_EQ(f.OKButton->text(), QStringLiteral("&OK"));

    EXPECT_EQ(f.CfgFileDatLabel->text(), QStringLiteral("/opt/quelm/quelm.INI"));
    EXPECT_EQ(f.StoragePathDatLabel->text(), QCoreApplication::applicationDirPath() + QStringLiteral("/"));
    EXPECT_EQ(f.COMPortDatLabel->text(), QStringLiteral("COM7"));

    // Every repaint shows the state of the moment.
    quelm::setPortNumberProvider([] { return 12; });
    f.FormPaint();
    EXPECT_EQ(f.COMPortDatLabel->text(), QStringLiteral("COM12"));

    f.OKButton->click();
    EXPECT_EQ(f.result(), quelm::mrOk);
  }
  EXPECT_TRUE(p.messages.empty());
  quelm::setPortNumberProvider(nullptr);
  quelm::setConfigFilePath(QString());
}

TEST(AboutForm, VersionIsTheFourPartBuildVersion) {
  const QStringList parts = quelm::programVersion().split(QLatin1Char('.'));
  ASSERT_EQ(parts.size(), 4);
  for (const QString& p : parts) {
    bool ok = false;
    p.toInt(&ok);
    EXPECT_TRUE(ok) << p.toStdString();
  }
}

}  // namespace
