#include "shell/AboutForm.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/ButtonBox.h"
#include "base/Config.h"
#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "base/Prompter.h"
#include "base/WindowOwner.h"
#include "shell/PgcForm.h"


namespace quelm {
namespace {
PortNumberProvider& provider() {
  static PortNumberProvider p;
  return p;
}
}  // namespace

void setPortNumberProvider(PortNumberProvider p) { provider() = std::move(p); }

int currentPortNumber() {
  if (provider()) return provider()();
  const TPgcForm* main = quelm::BuiltWindow<TPgcForm>();
  return main ? main->PortNumber : 0;
}

}  // namespace quelm

namespace {
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QLatin1String(name));
  return l;
}
}  // namespace

TAboutForm::TAboutForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      VersionText(QStringLiteral("0.0.0.0 Beta")) {
  setObjectName(QStringLiteral("AboutForm"));
  setWindowTitle(QStringLiteral("About"));

  ProductName = makeLabel(this, "ProductName", QStringLiteral("Quelm Controller"));
  QFont big = ProductName->font();
  big.setPointSizeF(big.pointSizeF() * 1.6);
  big.setBold(true);
  ProductName->setFont(big);
  Version = makeLabel(this, "Version", QString());

  InfoGroupBox = new QGroupBox(QStringLiteral("General information:"), this);
  InfoGroupBox->setObjectName(QStringLiteral("InfoGroupBox"));
  CfgFileLabel = makeLabel(InfoGroupBox, "CfgFileLabel", QStringLiteral("Cfg/Ini file:"));
  CfgFileDatLabel = makeLabel(InfoGroupBox, "CfgFileDatLabel", QString());
  StoragePathLabel = makeLabel(InfoGroupBox, "StoragePathLabel", QStringLiteral("Storage path:"));
  StoragePathDatLabel = makeLabel(InfoGroupBox, "StoragePathDatLabel", QString());
  COMPortLabel = makeLabel(InfoGroupBox, "COMPortLabel", QStringLiteral("COM port:"));
  COMPortDatLabel = makeLabel(InfoGroupBox, "COMPortDatLabel", QString());
  for (QLabel* l : {CfgFileDatLabel, StoragePathDatLabel})
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* grid = quelm::gridRows({{CfgFileLabel, CfgFileDatLabel},
                                {StoragePathLabel, StoragePathDatLabel},
                                {COMPortLabel, COMPortDatLabel}},
                               InfoGroupBox);
  grid->setColumnStretch(1, 1);

  OKButton = new QPushButton(QStringLiteral("&OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, [this] { done(quelm::mrOk); });

  auto* column = new QVBoxLayout(this);
  column->addWidget(ProductName);
  column->addWidget(Version);
  column->addWidget(InfoGroupBox);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKButton);
  buttons->addStretch();
  column->addLayout(buttons);
  column->setSizeConstraint(QLayout::SetFixedSize);

  ReadVersion();
  Version->setText(QStringLiteral("Version ") + VersionText);
  FormPaint();
  move(kLeft, kTop);
}

TAboutForm::~TAboutForm() = default;

int TAboutForm::ReadVersion() {
  quelm::TraceLine trace(QStringLiteral("TAboutForm::ReadVersion(): "));
  const QString version = quelm::programVersion();
  if (version.isEmpty()) {
    trace.fail(QStringLiteral("ERR_VINFOSIZE"));
    return ReportError(quelm::kErrNoVersionInfo, trace.text());
  }
  VersionText = version;
  trace.ok();
  return 0;
}

void TAboutForm::FormPaint() {
  const auto set = [](QLabel* l, const QString& text) {
    if (l->text() != text) l->setText(text);  // no repaint loop from paintEvent
  };
  set(CfgFileDatLabel, QDir::toNativeSeparators(QFileInfo(quelm::configFilePath()).absoluteFilePath()));
  set(StoragePathDatLabel, QDir::toNativeSeparators(quelm::storagePath()));
  set(COMPortDatLabel, QStringLiteral("COM") + QString::number(quelm::currentPortNumber()));
}

void TAboutForm::showEvent(QShowEvent* event) {
  FormPaint();
  QDialog::showEvent(event);
}

void TAboutForm::paintEvent(QPaintEvent* event) {
  FormPaint();
  QDialog::paintEvent(event);
}
