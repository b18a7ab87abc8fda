#include "shell/PgcForm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <new>

#include "shell/AboutForm.h"
#include "base/Config.h"
#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "base/Prompter.h"
#include "base/StringGrid.h"

// Delivers a key the way the window system does: the focus widget may claim
// it (an edit keeps its cursor keys), otherwise a matching shortcut fires.
// Exported by QtGui for exactly this purpose; it has no public header.
Q_GUI_EXPORT bool qt_sendShortcutOverrideEvent(QObject* o, ulong timestamp, int k, Qt::KeyboardModifiers mods,
                                               const QString& text = QString(), bool autorep = false,
                                               ushort count = 1);

TPgcForm* PgcForm = nullptr;

namespace {

constexpr int kHeaderRowHeight = 18;
constexpr int kEvalRowHeight = 21;
constexpr int kColumnMargin = 8;
constexpr int kWheelStep = 120;  // one notch of a standard wheel
constexpr int kBlockColumns = 9;
constexpr int kBlockRows = 21;
constexpr int kValueColumns = 16;
constexpr int kValueRows = 27;
constexpr int kValueRowHeight = 14;
constexpr int kValueGroupWidths[4] = {50, 90, 50, 1};
const char* const kBlockTitles[kBlockColumns] = {"BlockNo",   "DateTime",    "Dosimeter",
                                                 "Dose",      "Exposure",    "Appr. Dose rate",
                                                 "Device ID", "Temperature", "ErrorCodes"};

// One caption/value pair of the header or the evaluation panel. Column 0..2
// is the caption column; in the evaluation panel it also names the
// sub-panel (Panel1..Panel3) that holds the pair.
struct CaptionPair {
  enum Area { Header, Eval } area;
  int column;
  int row;
  QLabel* TPgcForm::*caption;
  const char* captionName;
  const char* text;
  QLabel* TPgcForm::*value;  // or
  QLineEdit* TPgcForm::*edit;
  const char* valueName;
  const char* hint;  // fixed hint of the caption
};

const CaptionPair kPairs[] = {
    {CaptionPair::Header, 0, 0, &TPgcForm::DeviceIDLabel, "DeviceIDLabel",
     "DeviceID:", &TPgcForm::DeviceIDDatLabel, nullptr, "DeviceIDDatLabel", nullptr},
    {CaptionPair::Header, 0, 1, &TPgcForm::DosimeterLabel, "DosimeterLabel",
     "Dosimeter:", &TPgcForm::DosimeterDatLabel, nullptr, "DosimeterDatLabel", nullptr},
    {CaptionPair::Header, 0, 2, &TPgcForm::DateTimeLabel, "DateTimeLabel",
     "DateTime:", &TPgcForm::DateTimeDatLabel, nullptr, "DateTimeDatLabel", nullptr},
    {CaptionPair::Header, 0, 3, &TPgcForm::ErrorCodesLabel, "ErrorCodesLabel",
     "ErrorCodes:", &TPgcForm::ErrorCodesDatLabel, nullptr, "ErrorCodesDatLabel", nullptr},
    {CaptionPair::Header, 1, 0, &TPgcForm::BlockNumberLabel, "BlockNumberLabel",
     "BlockNumber:", &TPgcForm::BlockNumberDatLabel, nullptr, "BlockNumberDatLabel", nullptr},
    {CaptionPair::Header, 1, 1, &TPgcForm::MeasPointsLabel, "MeasPointsLabel",
     "MeasPoints:", &TPgcForm::MeasPointsDatLabel, nullptr, "MeasPointsDatLabel", nullptr},
    {CaptionPair::Header, 1, 2, &TPgcForm::SamplingSpeedLabel, "SamplingSpeedLabel",
     "SamplingSpeed:", &TPgcForm::SamplingSpeedDatLabel, nullptr, "SamplingSpeedDatLabel", nullptr},
    {CaptionPair::Header, 1, 3, &TPgcForm::ReaderTempLabel, "ReaderTempLabel",
     "ReaderTemp:", &TPgcForm::ReaderTempDatLabel, nullptr, "ReaderTempDatLabel", nullptr},
    {CaptionPair::Header, 2, 0, &TPgcForm::MeasuredDoseLabel, "MeasuredDoseLabel",
     "MeasuredDose:", &TPgcForm::MeasuredDoseDatLabel, nullptr, "MeasuredDoseDatLabel", nullptr},
    {CaptionPair::Header, 2, 1, &TPgcForm::ApprDoseRateLabel, "ApprDoseRateLabel",
     "Appr.DoseRate:", &TPgcForm::ApprDoseRateDatLabel, nullptr, "ApprDoseRateDatLabel", nullptr},
    {CaptionPair::Header, 2, 2, &TPgcForm::LastReadOutLabel, "LastReadOutLabel",
     "LastReadOut:", &TPgcForm::LastReadOutDatLabel, nullptr, "LastReadOutDatLabel", nullptr},
    {CaptionPair::Header, 2, 3, &TPgcForm::ExposureLabel, "ExposureLabel",
     "Exposure:", &TPgcForm::ExposureDatLabel, nullptr, "ExposureDatLabel", nullptr},

    {CaptionPair::Eval, 0, 0, &TPgcForm::EvalStartLabel, "EvalStartLabel", "EvalStart [ch]:", nullptr,
     &TPgcForm::EvalSEdit, "EvalSEdit", nullptr},
    {CaptionPair::Eval, 0, 1, &TPgcForm::EvalLengthLabel, "EvalLengthLabel", "EvalLength [ch]:", nullptr,
     &TPgcForm::EvalLEdit, "EvalLEdit", nullptr},
    {CaptionPair::Eval, 0, 2, &TPgcForm::NormFactLabel, "NormFactLabel", "NormFact:", nullptr,
     &TPgcForm::NormFact20DatEdit, "NormFact20DatEdit", nullptr},
    {CaptionPair::Eval, 0, 3, &TPgcForm::StartPercentLabel, "StartPercentLabel",
     "StartPercent:", &TPgcForm::StartPercentDatLabel, nullptr, "StartPercentDatLabel", nullptr},
    {CaptionPair::Eval, 0, 4, &TPgcForm::StopPercentLabel, "StopPercentLabel",
     "StopPercent:", &TPgcForm::StopPercentDatLabel, nullptr, "StopPercentDatLabel", nullptr},
    {CaptionPair::Eval, 1, 0, &TPgcForm::PeakPosLabel, "PeakPosLabel",
     "PeakPos [ch]:", &TPgcForm::PeakPosDatLabel, nullptr, "PeakPosDatLabel", nullptr},
    {CaptionPair::Eval, 1, 1, &TPgcForm::PeakValueLabel, "PeakValueLabel",
     "PeakValue [cnt]:", &TPgcForm::PeakValueDatLabel, nullptr, "PeakValueDatLabel", nullptr},
    {CaptionPair::Eval, 1, 2, &TPgcForm::PeakTempLabel, "PeakTempLabel",
     "PeakTemp:", &TPgcForm::PeakTempDatLabel, nullptr, "PeakTempDatLabel", nullptr},
    {CaptionPair::Eval, 1, 3, &TPgcForm::CursorPosLabel, "CursorPosLabel",
     "CursorPos[ch]:", &TPgcForm::CursorPosDatLabel, nullptr, "CursorPosDatLabel", nullptr},
    {CaptionPair::Eval, 1, 4, &TPgcForm::CursorValueLabel, "CursorValueLabel",
     "CursorValue [cnt]:", &TPgcForm::CursorValueDatLabel, nullptr, "CursorValueDatLabel", nullptr},
    {CaptionPair::Eval, 1, 5, &TPgcForm::CursorTempLabel, "CursorTempLabel",
     "CursorTemp:", &TPgcForm::CursorTempDatLabel, nullptr, "CursorTempDatLabel", nullptr},
    {CaptionPair::Eval, 2, 0, &TPgcForm::ROILabel, "ROILabel", "ROI:", &TPgcForm::ROIDatLabel, nullptr,
     "ROIDatLabel", nullptr},
    {CaptionPair::Eval, 2, 1, &TPgcForm::ROIDoseLabel, "ROIDoseLabel",
     "ROI_Dose:", &TPgcForm::ROIDoseDatLabel, nullptr, "ROIDoseDatLabel", "(ROI * 10) / NormFact"},
    {CaptionPair::Eval, 2, 2, &TPgcForm::BgDoseLabel, "BgDoseLabel", "Bg_Dose:", &TPgcForm::BgDoseDatLabel,
     nullptr, "BgDoseDatLabel", nullptr},
    {CaptionPair::Eval, 2, 3, &TPgcForm::BgCorrDoseLabel, "BgCorrDoseLabel",
     "BgCorr_Dose:", &TPgcForm::BgCorrDoseDatLabel, nullptr, "BgCorrDoseDatLabel", "ROI_Dose - Bg_Dose"},
    {CaptionPair::Eval, 2, 4, &TPgcForm::TCorrDoseLabel, "TCorrDoseLabel",
     "TCorr_Dose:", &TPgcForm::TCorrDoseDatLabel, nullptr, "TCorrDoseDatLabel",
     "BgCorr_Dose / ((DTFA*(T-20)^2 + DTFB*(T-20) + 1) "},
    {CaptionPair::Eval, 2, 5, &TPgcForm::MeasDoseLabel, "MeasDoseLabel",
     "Meas_Dose:", &TPgcForm::MeasDoseDatLabel, nullptr, "MeasDoseDatLabel",
     "if (TCorr_Dose > DLFN)  Meas_Dose=TCorr_Dose*DLFA*x^DLFB else  Meas_Dose=TCorr_Dose ; "
     "\"x = TCorr_Dose / DLFN\""},
};

// The menu items that carry a plain-key shortcut.
struct KeyedItem {
  QAction* TPgcForm::*action;
  const char* name;
  const char* caption;
  Qt::Key key;
  enum Menu { Nav, ChartMenu, NFInc, NFDec } menu;
};

const KeyedItem kKeyedItems[] = {
    {&TPgcForm::NavigationFirstItem, "NavigationFirstItem", "&First Block", Qt::Key_Home, KeyedItem::Nav},
    {&TPgcForm::NavigationNextItem, "NavigationNextItem", "&Next Page", Qt::Key_PageUp, KeyedItem::Nav},
    {&TPgcForm::NavigationPreviousItem, "NavigationPreviousItem", "&Previous Page", Qt::Key_PageDown,
     KeyedItem::Nav},
    {&TPgcForm::NavigationLastItem, "NavigationLastItem", "&Last Block", Qt::Key_End, KeyedItem::Nav},
    {&TPgcForm::NavigationNext, "NavigationNext", "Next Item", Qt::Key_Up, KeyedItem::Nav},
    {&TPgcForm::NavigationPrev, "NavigationPrev", "Previous Item", Qt::Key_Down, KeyedItem::Nav},
    {&TPgcForm::GoToInsert1, "GoToInsert1", "Go To ", Qt::Key_Insert, KeyedItem::Nav},
    {&TPgcForm::ChartCursorLeftItem, "ChartCursorLeftItem", "Cursor to left", Qt::Key_Left,
     KeyedItem::ChartMenu},
    {&TPgcForm::ChartCursorRightItem, "ChartCursorRightItem", "Cursor to right", Qt::Key_Right,
     KeyedItem::ChartMenu},
    {&TPgcForm::ChartEvalStartLeftItem, "ChartEvalStartLeftItem", "Left marker to left", Qt::Key_Z,
     KeyedItem::ChartMenu},
    {&TPgcForm::ChartEvalStartRightItem, "ChartEvalStartRightItem", "Left marker to right", Qt::Key_X,
     KeyedItem::ChartMenu},
    {&TPgcForm::ChartEvalLengthLeftItem, "ChartEvalLengthLeftItem", "Right marker to left", Qt::Key_N,
     KeyedItem::ChartMenu},
    {&TPgcForm::ChartEvalLengthRightItem, "ChartEvalLengthRightItem", "Right marker to right", Qt::Key_M,
     KeyedItem::ChartMenu},
    {&TPgcForm::ChartNFInrease10Item, "ChartNFInrease10Item", "+10   %", Qt::Key_Q, KeyedItem::NFInc},
    {&TPgcForm::ChartNFInrease1Item, "ChartNFInrease1Item", "+  1   %", Qt::Key_W, KeyedItem::NFInc},
    {&TPgcForm::ChartNFInrease01Item, "ChartNFInrease01Item", "+  0.1%", Qt::Key_E, KeyedItem::NFInc},
    {&TPgcForm::ChartNFDecrease10Item, "ChartNFDecrease10Item", "-10   %", Qt::Key_A, KeyedItem::NFDec},
    {&TPgcForm::ChartNFDecrease1Item, "ChartNFDecrease1Item", "-  1   %", Qt::Key_S, KeyedItem::NFDec},
    {&TPgcForm::ChartNFDecrease01Item, "ChartNFDecrease01Item", "-  0.1%", Qt::Key_D, KeyedItem::NFDec},
};

QMenu* addMenu(QWidget* parentMenu, const char* name, const QString& title) {
  auto* m = new QMenu(title, parentMenu);
  m->setObjectName(QLatin1String(name));
  m->menuAction()->setObjectName(QLatin1String(name));
  if (auto* bar = qobject_cast<QMenuBar*>(parentMenu)) bar->addMenu(m);
  if (auto* menu = qobject_cast<QMenu*>(parentMenu)) menu->addMenu(m);
  return m;
}

QAction* addItem(QWidget* menu, const char* name, const QString& caption) {
  auto* a = new QAction(caption, menu);
  a->setObjectName(QLatin1String(name));
  menu->addAction(a);
  return a;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QLatin1String(name));
  return l;
}

// The top-level widget an event belongs to; wheel events reach the window
// system's window before the widget.
QWidget* topLevelOf(QObject* receiver) {
  if (auto* w = qobject_cast<QWidget*>(receiver)) return w->window();
  if (auto* win = qobject_cast<QWindow*>(receiver)) {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->windowHandle() == win) return top;
  }
  return nullptr;
}

// The style has no printer among its standard icons.
QIcon printerIcon() {
  QPixmap pm(20, 20);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(60, 60, 60), 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(5.5, 1.5, 9, 6));
  p.setBrush(QColor(170, 170, 170));
  p.drawRoundedRect(QRectF(1.5, 6.5, 17, 8), 2, 2);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(5.5, 11.5, 9, 7));
  p.drawLine(QPointF(7, 14.5), QPointF(13, 14.5));
  p.drawLine(QPointF(7, 16.5), QPointF(11, 16.5));
  return QIcon(pm);
}

// A window saved on a screen that is gone would open out of reach.
bool isOnSomeScreen(const QRect& bounds) {
  const QList<QScreen*> screens = QGuiApplication::screens();
  if (screens.isEmpty()) return true;
  for (const QScreen* s : screens)
    if (s->availableGeometry().intersects(bounds)) return true;
  return false;
}

void pressKey(QWidget* target, int key) {
  if (qt_sendShortcutOverrideEvent(target, 0, key, Qt::NoModifier)) return;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &release);
}

}  // namespace

TPgcForm::TPgcForm(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("PgcForm"));
  setWindowTitle(QStringLiteral("Quelm"));
  setMinimumWidth(500);
  PgcForm = this;

  buildMenu();
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  buildToolBar();
  buildHeader();
  buildPages();
  buildLowerPanel();
  for (QWidget* w : std::initializer_list<QWidget*>{ToolBarPanel, UpperPanel, PageControl, LowerPanel}) {
    w->setParent(central);
    column->addWidget(w);
  }
  column->setStretchFactor(PageControl, 1);
  setCentralWidget(central);

  StatusBar = new QStatusBar(this);
  StatusBar->setObjectName(QStringLiteral("StatusBar"));
  StatusBar->setSizeGripEnabled(true);
  setStatusBar(StatusBar);

  ContentTabSheet->installEventFilter(this);
  FormCreate();
}

TPgcForm::~TPgcForm() {
  FormDestroy();
  if (PgcForm == this) PgcForm = nullptr;
}

void TPgcForm::buildMenu() {
  PgcMainMenu = new QMenuBar(this);
  PgcMainMenu->setObjectName(QStringLiteral("PgcMainMenu"));
  setMenuBar(PgcMainMenu);

  File1 = addMenu(PgcMainMenu, "File1", QStringLiteral("&File"));
  Import1 = addMenu(File1, "Import1", QStringLiteral("Import..."));
  FromFile1 = addItem(Import1, "FromFile1", QStringLiteral("From File"));
  FromQuelm1 = addItem(Import1, "FromQuelm1", QStringLiteral("From Quelm"));
  Export1 = addMenu(File1, "Export1", QStringLiteral("Export..."));
  DataBlocktoTextFile1 = addItem(Export1, "DataBlocktoTextFile1", QStringLiteral("Data Block to Text File"));
  Print1 = addItem(File1, "Print1", QStringLiteral("Print"));

  Download1 = addItem(PgcMainMenu, "Download1", QStringLiteral("Download"));

  Options1 = addMenu(PgcMainMenu, "Options1", QStringLiteral("Options"));
  ComPort1 = addItem(Options1, "ComPort1", QStringLiteral("Com Port"));
  ReaderParameterTable1 =
      addItem(Options1, "ReaderParameterTable1", QStringLiteral("Reader Parameter Table"));
  DosimeterparameterTable1 =
      addItem(Options1, "DosimeterparameterTable1", QStringLiteral("Dosimeter Parameter Table"));
  Softwareupdate1 = addItem(Options1, "Softwareupdate1", QStringLiteral("Software Update"));

  Help1 = addMenu(PgcMainMenu, "Help1", QStringLiteral("&Help"));
  HelpAboutItem = addItem(Help1, "HelpAboutItem", QStringLiteral("&About"));
  Navigation = addMenu(Help1, "Navigation", QStringLiteral("&Navigation"));
  Chart = addMenu(Help1, "Chart", QStringLiteral("&Chart"));
  NFincrease1 = nullptr;
  NFdecrease1 = nullptr;
  for (const KeyedItem& k : kKeyedItems) {
    QMenu* menu = Navigation;
    if (k.menu == KeyedItem::ChartMenu) menu = Chart;
    if (k.menu == KeyedItem::NFInc) {
      if (!NFincrease1) NFincrease1 = addMenu(Chart, "NFincrease1", QStringLiteral("NF increase"));
      menu = NFincrease1;
    }
    if (k.menu == KeyedItem::NFDec) {
      if (!NFdecrease1) NFdecrease1 = addMenu(Chart, "NFdecrease1", QStringLiteral("NF decrease"));
      menu = NFdecrease1;
    }
    QAction* a = addItem(menu, k.name, QString::fromLatin1(k.caption));
    a->setShortcut(QKeySequence(k.key));
    this->*k.action = a;
  }

  Service1 = addItem(PgcMainMenu, "Service1", QStringLiteral("Service"));

  connect(HelpAboutItem, &QAction::triggered, this, [] {
    if (AboutForm) quelm::prompter().runModal(*AboutForm);
  });

  // Their windows and handlers come with the link, download, parameter,
  // service and print work; until then the commands are offered disabled.
  for (QAction* a : {FromFile1, FromQuelm1, Download1, ComPort1, ReaderParameterTable1,
                     DosimeterparameterTable1, Softwareupdate1})
    a->setEnabled(false);
}

void TPgcForm::buildToolBar() {
  ToolBarPanel = new QFrame(this);
  ToolBarPanel->setObjectName(QStringLiteral("ToolBarPanel"));
  ToolBarPanel->setFrameShape(QFrame::StyledPanel);
  auto* row = new QHBoxLayout(ToolBarPanel);
  row->setContentsMargins(2, 2, 2, 2);
  row->setSpacing(2);
  const auto button = [this, row](const char* name, const QIcon& fallback, const QString& themeIcon,
                                  const QString& hint) {
    auto* b = new QToolButton(ToolBarPanel);
    b->setObjectName(QLatin1String(name));
    b->setAutoRaise(true);
    b->setIconSize(QSize(20, 20));
    b->setIcon(QIcon::fromTheme(themeIcon, fallback));
    b->setToolTip(hint);
    b->setStatusTip(hint);
    row->addWidget(b);
    return b;
  };
  FileOpenSpeedButton = button("FileOpenSpeedButton", style()->standardIcon(QStyle::SP_DialogOpenButton),
                               QStringLiteral("document-open"), QStringLiteral("Import from file"));
  RSSpeedButton = button("RSSpeedButton", style()->standardIcon(QStyle::SP_DriveNetIcon),
                         QStringLiteral("network-wired"), QStringLiteral("Import from Quelm"));
  FileSaveTextSpeedButton =
      button("FileSaveTextSpeedButton", style()->standardIcon(QStyle::SP_DialogSaveButton),
             QStringLiteral("document-save-as"), QStringLiteral("Export data block to text"));
  PrintSpeedButton = button("PrintSpeedButton", printerIcon(), QStringLiteral("document-print"), QString());
  row->addStretch();
  // Import arrives with the content list.
  FileOpenSpeedButton->setEnabled(false);
  RSSpeedButton->setEnabled(false);
}

void TPgcForm::buildHeader() {
  UpperPanel = new QFrame(this);
  UpperPanel->setObjectName(QStringLiteral("UpperPanel"));
  UpperPanel->setFrameShape(QFrame::StyledPanel);
  UpperPanel->setFixedHeight(4 * kHeaderRowHeight + 10);
}

void TPgcForm::buildLowerPanel() {
  LowerPanel = new QFrame(this);
  LowerPanel->setObjectName(QStringLiteral("LowerPanel"));
  LowerPanel->setFixedHeight(6 * kEvalRowHeight + 10);
  Panel1 = new QFrame(LowerPanel);
  Panel2 = new QFrame(LowerPanel);
  Panel3 = new QFrame(LowerPanel);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel3->setObjectName(QStringLiteral("Panel3"));
  for (QFrame* p : {Panel1, Panel2, Panel3}) {
    p->setFrameShape(QFrame::StyledPanel);
    p->setAutoFillBackground(true);
  }

  QFrame* const panels[3] = {Panel1, Panel2, Panel3};
  for (const CaptionPair& d : kPairs) {
    QWidget* parent = d.area == CaptionPair::Header ? static_cast<QWidget*>(UpperPanel) : panels[d.column];
    QLabel* caption = makeLabel(parent, d.captionName, QString::fromUtf8(d.text));
    if (d.hint) {
      caption->setToolTip(QString::fromUtf8(d.hint));
      caption->setStatusTip(QString::fromUtf8(d.hint));
    }
    this->*d.caption = caption;
    if (d.value) {
      this->*d.value = makeLabel(parent, d.valueName, QString());
    } else {
      auto* e = new QLineEdit(parent);
      e->setObjectName(QLatin1String(d.valueName));
      this->*d.edit = e;
    }
  }
}

void TPgcForm::buildPages() {
  PageControl = new QTabWidget(this);
  PageControl->setObjectName(QStringLiteral("PageControl"));
  ContentTabSheet = new QWidget;
  ChartTabSheet = new QWidget;
  TableTabSheet = new QWidget;
  ContentTabSheet->setObjectName(QStringLiteral("ContentTabSheet"));
  ChartTabSheet->setObjectName(QStringLiteral("ChartTabSheet"));
  TableTabSheet->setObjectName(QStringLiteral("TableTabSheet"));
  PageControl->addTab(ContentTabSheet, QStringLiteral("Content"));
  PageControl->addTab(ChartTabSheet, QStringLiteral("Chart"));
  PageControl->addTab(TableTabSheet, QStringLiteral("Table"));

  // Content page: the source strip, then the block list below it.
  SourceLabel = makeLabel(ContentTabSheet, "SourceLabel", QStringLiteral("Source:"));
  SourceDatLabel = makeLabel(ContentTabSheet, "SourceDatLabel", QString());
  AvailableBlocksLabel =
      makeLabel(ContentTabSheet, "AvailableBlocksLabel", QStringLiteral("AvailableBlocks:"));
  AvailableBlocksDatLabel = makeLabel(ContentTabSheet, "AvailableBlocksDatLabel", QString());
  SourceLabel->setGeometry(8, 6, 110, 17);
  SourceDatLabel->setGeometry(120, 6, 250, 17);
  AvailableBlocksLabel->setGeometry(8, 26, 110, 17);
  AvailableBlocksDatLabel->setGeometry(120, 26, 120, 17);
  const auto pageButton = [this](const char* name, const QString& caption, int x) {
    auto* b = new QPushButton(caption, ContentTabSheet);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(x, 12, 84, 26);
    b->setFocusPolicy(Qt::NoFocus);  // the list keeps the keyboard
    return b;
  };
  FilterButton = pageButton("FilterButton", QStringLiteral("&Search"), 380);
  PrevPageButton = pageButton("PrevPageButton", QStringLiteral("Pre&v page"), 470);
  NextPageButton = pageButton("NextPageButton", QStringLiteral("Nex&t page"), 560);

  BlockStringGrid = new quelm::StringGrid(kBlockColumns, kBlockRows, 1, ContentTabSheet);
  BlockStringGrid->setObjectName(QStringLiteral("BlockStringGrid"));
  BlockStringGrid->setRowHeights(18);

  buildChart();

  ValueListGrid = new quelm::StringGrid(kValueColumns, kValueRows, 0, TableTabSheet);
  ValueListGrid->setObjectName(QStringLiteral("ValueListGrid"));
  QFont small = ValueListGrid->font();
  small.setPixelSize(11);
  ValueListGrid->setFont(small);
  auto* tableLayout = new QVBoxLayout(TableTabSheet);
  tableLayout->setContentsMargins(0, 0, 0, 0);
  tableLayout->addWidget(ValueListGrid);
}

void TPgcForm::buildChart() {
  auto* chart = new QChart;
  chart->legend()->hide();
  chart->setTitle(QString());

  AreaUpperSeries = new QLineSeries(chart);
  AreaUpperSeries->setObjectName(QStringLiteral("AreaUpperSeries"));
  AreaSeries = new QAreaSeries(AreaUpperSeries);
  AreaSeries->setObjectName(QStringLiteral("AreaSeries"));
  const QColor darkGreen(0x00, 0x59, 0x00);
  AreaSeries->setColor(darkGreen);
  AreaSeries->setBorderColor(darkGreen);
  PointSeries = new QScatterSeries;
  PointSeries->setObjectName(QStringLiteral("PointSeries"));
  PointSeries->setMarkerSize(5);
  chart->addSeries(AreaSeries);
  chart->addSeries(PointSeries);

  ChartBottomAxis = new QValueAxis;
  ChartBottomAxis->setObjectName(QStringLiteral("ChartBottomAxis"));
  ChartBottomAxis->setTitleText(QStringLiteral("Channel"));
  ChartBottomAxis->setRange(0, 99);
  ChartBottomAxis->setLabelFormat(QStringLiteral("%d"));
  ChartLeftAxis = new QValueAxis;
  ChartLeftAxis->setObjectName(QStringLiteral("ChartLeftAxis"));
  ChartLeftAxis->setLabelFormat(QStringLiteral("%d"));
  ChartRightAxis = new QValueAxis;
  ChartRightAxis->setObjectName(QStringLiteral("ChartRightAxis"));
  ChartRightAxis->setTitleText(QStringLiteral("'C"));
  ChartRightAxis->setLabelFormat(QStringLiteral("%d"));
  chart->addAxis(ChartBottomAxis, Qt::AlignBottom);
  chart->addAxis(ChartLeftAxis, Qt::AlignLeft);
  chart->addAxis(ChartRightAxis, Qt::AlignRight);
  AreaSeries->attachAxis(ChartBottomAxis);
  AreaSeries->attachAxis(ChartLeftAxis);
  PointSeries->attachAxis(ChartBottomAxis);
  PointSeries->attachAxis(ChartRightAxis);

  PChart = new QChartView(chart, ChartTabSheet);
  PChart->setObjectName(QStringLiteral("PChart"));
  PChart->setRenderHint(QPainter::Antialiasing);
  auto* chartLayout = new QVBoxLayout(ChartTabSheet);
  chartLayout->setContentsMargins(0, 0, 0, 0);
  chartLayout->addWidget(PChart);
}

void TPgcForm::FormCreate() {
  quelm::TraceLine trace(QStringLiteral("TPgcForm::FormCreate(): "));
  Professional = 0;
  DiagFlags &= ~quelm::kServiceLevelBits;

  // Design values first; the file's values then override them.
  quelm::AppConfig config;
  QPalette lightBlue = Panel1->palette();
  lightBlue.setColor(QPalette::Window, QColor(0xC0, 0xE0, 0xFF));
  Panel1->setPalette(lightBlue);
  ValueListGrid->setRowHeights(kValueRowHeight);
  for (int group = 0; group < kValueColumns / 4; ++group)
    for (int i = 0; i < 4; ++i) ValueListGrid->setColWidth(4 * group + i, kValueGroupWidths[i]);

  const int iniResult = quelm::ReadConfig(quelm::configFilePath(), config);
  QRect bounds(config.Left, config.Top, qMax(config.Width, minimumWidth()), config.Height);
  if (!isOnSomeScreen(bounds)) bounds.moveTo(quelm::AppConfig{}.Left, quelm::AppConfig{}.Top);
  move(bounds.topLeft());
  resize(bounds.size());
  PortNumber = config.PortNumber;
  BaudRate = config.BaudRate;
  Professional = config.Professional ? 1 : 0;
  MaxPostHeating = config.MaxPostHeating;
  if (Professional) DiagFlags |= quelm::kServiceLevelBits;
  SetLevel();

  DataBlock.reset(new (std::nothrow) TNurvoDataBlock(this));
  if (!DataBlock) {
    trace.fail(QStringLiteral("ERR_NEW"));
    ReportError(quelm::kErrNew, trace.text());
    return;
  }
  BlockStringGrid->setGridRowCount(kBlockRows);
  PageControl->setCurrentWidget(ContentTabSheet);
  UpdateMenuItems();
  if (iniResult != 0) {
    // The window still gets its titles, chart lock and wheel filter: an
    // unreadable configuration file costs the user only the saved values.
    trace.fail(QStringLiteral("ERR_INIFILE"));
    ReportError(iniResult, trace.text());
  }
  for (int c = 0; c < kBlockColumns; ++c)
    BlockStringGrid->setCell(c, 0, QString::fromLatin1(kBlockTitles[c]));
  PChart->setEnabled(false);
  qApp->installEventFilter(this);
  SetUpContentList();
  if (iniResult == 0) trace.ok();

  // Later set-up of the detail view and the content list goes here.
  SetUpDetailView();
  SetUpOutput();
}

void TPgcForm::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  quelm::TraceLine trace(QStringLiteral("TPgcForm::FormDestroy(): "));
  qApp->removeEventFilter(this);
  DataBlock.reset();

  quelm::AppConfig config;
  config.PortNumber = PortNumber;
  config.BaudRate = BaudRate;
  config.Left = pos().x();
  config.Top = pos().y();
  config.Height = height();
  config.Width = width();
  config.Professional = Professional != 0;
  config.MaxPostHeating = MaxPostHeating;
  if (!quelm::WriteConfig(quelm::configFilePath(), config)) {
    trace.fail(QStringLiteral("ERR_INIFILE"));
    return;
  }
  trace.ok();
}

void TPgcForm::setMenuEnabled(QMenu* menu, bool enabled) {
  // The items follow their menu, so that their plain-key shortcuts are off
  // exactly while the menu is.
  menu->menuAction()->setEnabled(enabled);
  for (QAction* a : menu->actions()) {
    if (QMenu* sub = a->menu())
      setMenuEnabled(sub, enabled);
    else
      a->setEnabled(enabled);
  }
}

int TPgcForm::UpdateMenuItems() {
  quelm::TraceLine trace(QStringLiteral("TPgcForm::UpdateMenuItems(): "));
  if (!DataBlock) {
    trace.fail(QStringLiteral("ERR_NULLPTR"));
    return ReportError(quelm::kErrNullptr, trace.text());
  }
  const bool loaded = DataBlock->State & Loaded;
  setMenuEnabled(Navigation, loaded);
  setMenuEnabled(Chart, loaded);
  FileSaveTextSpeedButton->setEnabled(loaded && kBlockExportBuilt);
  DataBlocktoTextFile1->setEnabled(loaded && kBlockExportBuilt);
  PrevPageButton->setEnabled(loaded);
  NextPageButton->setEnabled(loaded);
  FilterButton->setEnabled(loaded);
  trace.ok();
  return 0;
}

void TPgcForm::SetLevel() {
  Service1->setVisible(Professional != 0);
  Service1->setEnabled(Professional != 0 && kServiceWindowBuilt);
}

bool TPgcForm::AppMessage(QObject* receiver, QEvent* event) {
  if (event->type() != QEvent::Wheel) return false;
  QWidget* top = topLevelOf(receiver);
  if (!top) return false;
  // The key goes where a key press would go: to the keyboard focus.
  QWidget* target = QApplication::focusWidget();
  if (!target) target = top;
  // The toolkit's own dialogs and pop-up lists keep their wheel.
  const auto toolkitOwned = [](const QWidget* w) {
    return (w->windowFlags() & Qt::Popup) == Qt::Popup || qobject_cast<const QFileDialog*>(w) ||
           qobject_cast<const QMessageBox*>(w);
  };
  if (toolkitOwned(top) || toolkitOwned(target->window())) return false;
  const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
  if (delta == 0) return false;  // a horizontal wheel is no key
  // Fine-grained wheels and touch pads deliver a notch in parts: one key
  // press per notch's worth of travel, never one per fragment.
  if ((delta > 0) != (wheelRemainder_ > 0)) wheelRemainder_ = 0;
  wheelRemainder_ += delta;
  while (wheelRemainder_ >= kWheelStep || wheelRemainder_ <= -kWheelStep) {
    const bool up = wheelRemainder_ > 0;
    wheelRemainder_ += up ? -kWheelStep : kWheelStep;
    pressKey(target, up ? Qt::Key_Up : Qt::Key_Down);
  }
  return true;
}

bool TPgcForm::FormKeyDown(int key) {
  switch (key) {
    case Qt::Key_F1:
      PageControl->setCurrentWidget(ContentTabSheet);
      return true;
    case Qt::Key_F2:
      PageControl->setCurrentWidget(ChartTabSheet);
      return true;
    case Qt::Key_F3:
      PageControl->setCurrentWidget(TableTabSheet);
      return true;
    default:
      return false;
  }
}

void TPgcForm::FormResize() {
  BlockStringGrid->setGeometry(0, kContentStripHeight, ContentTabSheet->width(),
                               qMax(0, ContentTabSheet->height() - kContentStripHeight));
  layoutCaptionColumns();
}

void TPgcForm::layoutCaptionColumns() {
  const int w = width();
  const int x[4] = {0, w * 8 / 25, w * 16 / 25, w};
  Panel1->setGeometry(x[0], 0, x[1] - x[0], LowerPanel->height());
  Panel2->setGeometry(x[1], 0, x[2] - x[1], LowerPanel->height());
  Panel3->setGeometry(x[2], 0, x[3] - x[2], LowerPanel->height());

  int captionWidth[2][3] = {};
  for (const CaptionPair& d : kPairs) {
    int& cw = captionWidth[d.area][d.column];
    cw = qMax(cw, (this->*d.caption)->sizeHint().width());
  }
  for (const CaptionPair& d : kPairs) {
    QLabel* caption = this->*d.caption;
    QWidget* value = d.value ? static_cast<QWidget*>(this->*d.value) : this->*d.edit;
    const int cw = captionWidth[d.area][d.column];
    const bool header = d.area == CaptionPair::Header;
    const int left = (header ? x[d.column] : 0) + kColumnMargin;
    const int right = header ? x[d.column + 1] : x[d.column + 1] - x[d.column];
    const int rowHeight = header ? kHeaderRowHeight : kEvalRowHeight;
    const int top = 4 + d.row * rowHeight;
    caption->setGeometry(left, top, cw, rowHeight);
    const int valueWidth = qMax(20, right - (left + cw + 4) - kColumnMargin);
    if (d.edit)
      value->setGeometry(left + cw + 4, top + 1, qMin(valueWidth, 80), rowHeight - 2);
    else
      value->setGeometry(left + cw + 4, top, valueWidth, rowHeight);
  }
}

void TPgcForm::ShowHint(const QString& hint) {
  if (hint.isEmpty())
    StatusBar->clearMessage();
  else
    StatusBar->showMessage(hint);
}

void TPgcForm::SetChartHint(const QString& hint) {
  PChart->setStatusTip(hint);
  ShowHint(hint);
}

bool TPgcForm::event(QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    ShowHint(static_cast<QStatusTipEvent*>(event)->tip());
    return true;
  }
  return QMainWindow::event(event);
}

bool TPgcForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ContentTabSheet && event->type() == QEvent::Resize) {
    FormResize();
    return false;
  }
  if (event->type() == QEvent::KeyPress) {
    // The window sees its key presses before its controls do.
    auto* w = qobject_cast<QWidget*>(watched);
    if (w && w->window() == this && FormKeyDown(static_cast<QKeyEvent*>(event)->key())) return true;
    return false;
  }
  return AppMessage(watched, event);
}

void TPgcForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}

void TPgcForm::closeEvent(QCloseEvent* event) {
  event->accept();
  // Closing the main window ends the program, whatever else is open.
  QCoreApplication::quit();
}
