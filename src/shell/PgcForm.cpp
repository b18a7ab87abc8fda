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
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTabWidget>
#include <QTableWidget>
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

#include "base/Config.h"
#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "base/FitText.h"
#include "base/IniFile.h"
#include "base/Prompter.h"
#include "base/ServiceLevel.h"
#include "base/SharedFileDialogs.h"
#include "base/StringGrid.h"
#include "evaluation/BlockView.h"
#include "evaluation/ChartInteraction.h"
#include "evaluation/ContentList.h"
#include "evaluation/ContentModel.h"
#include "evaluation/ContentView.h"
#include "evaluation/DetailModel.h"
#include "evaluation/DetailView.h"
#include "evaluation/NavForm.h"
#include "evaluation/SearchForm.h"
#include "shell/DrawnIcons.h"


namespace {

constexpr int kHeaderRowHeight = 18;
constexpr int kEvalRowHeight = 21;
constexpr int kColumnMargin = 8;
constexpr int kWheelStep = 120;  // one notch of a standard wheel
constexpr int kBlockColumns = quelm::kContentColumnCount;
constexpr int kBlockRows = quelm::kContentRows + 1;  // the title row and one page
constexpr int kValueColumns = quelm::kValueTableColumns;
constexpr int kValueRows = quelm::kValueTableRows;
constexpr int kValueRowHeight = 14;
constexpr int kDeconvolutionPanelWidth = 230;
constexpr int kValueGroupWidths[4] = {50, 90, 50, 1};

// The widgets of a caption/value pair; captions, hints and columns come from
// the core field tables, in their order.
struct PairWidgets {
  QLabel* TPgcForm::*caption;
  const char* captionName;
  QLabel* TPgcForm::*value;  // or
  QLineEdit* TPgcForm::*edit;
  const char* valueName;
};

const PairWidgets kHeaderWidgets[quelm::kHeaderFieldCount] = {
    {&TPgcForm::DeviceIDLabel, "DeviceIDLabel", &TPgcForm::DeviceIDDatLabel, nullptr, "DeviceIDDatLabel"},
    {&TPgcForm::DosimeterLabel, "DosimeterLabel", &TPgcForm::DosimeterDatLabel, nullptr, "DosimeterDatLabel"},
    {&TPgcForm::DateTimeLabel, "DateTimeLabel", &TPgcForm::DateTimeDatLabel, nullptr, "DateTimeDatLabel"},
    {&TPgcForm::ErrorCodesLabel, "ErrorCodesLabel", &TPgcForm::ErrorCodesDatLabel, nullptr,
     "ErrorCodesDatLabel"},
    {&TPgcForm::BlockNumberLabel, "BlockNumberLabel", &TPgcForm::BlockNumberDatLabel, nullptr,
     "BlockNumberDatLabel"},
    {&TPgcForm::MeasPointsLabel, "MeasPointsLabel", &TPgcForm::MeasPointsDatLabel, nullptr,
     "MeasPointsDatLabel"},
    {&TPgcForm::SamplingSpeedLabel, "SamplingSpeedLabel", &TPgcForm::SamplingSpeedDatLabel, nullptr,
     "SamplingSpeedDatLabel"},
    {&TPgcForm::ReaderTempLabel, "ReaderTempLabel", &TPgcForm::ReaderTempDatLabel, nullptr,
     "ReaderTempDatLabel"},
    {&TPgcForm::MeasuredDoseLabel, "MeasuredDoseLabel", &TPgcForm::MeasuredDoseDatLabel, nullptr,
     "MeasuredDoseDatLabel"},
    {&TPgcForm::ApprDoseRateLabel, "ApprDoseRateLabel", &TPgcForm::ApprDoseRateDatLabel, nullptr,
     "ApprDoseRateDatLabel"},
    {&TPgcForm::LastReadOutLabel, "LastReadOutLabel", &TPgcForm::LastReadOutDatLabel, nullptr,
     "LastReadOutDatLabel"},
    {&TPgcForm::ExposureLabel, "ExposureLabel", &TPgcForm::ExposureDatLabel, nullptr, "ExposureDatLabel"},
};

const PairWidgets kEvalWidgets[quelm::kEvalFieldCount] = {
    {&TPgcForm::EvalStartLabel, "EvalStartLabel", nullptr, &TPgcForm::EvalSEdit, "EvalSEdit"},
    {&TPgcForm::EvalLengthLabel, "EvalLengthLabel", nullptr, &TPgcForm::EvalLEdit, "EvalLEdit"},
    {&TPgcForm::NormFactLabel, "NormFactLabel", nullptr, &TPgcForm::NormFact20DatEdit, "NormFact20DatEdit"},
    {&TPgcForm::StartPercentLabel, "StartPercentLabel", &TPgcForm::StartPercentDatLabel, nullptr,
     "StartPercentDatLabel"},
    {&TPgcForm::StopPercentLabel, "StopPercentLabel", &TPgcForm::StopPercentDatLabel, nullptr,
     "StopPercentDatLabel"},
    {&TPgcForm::PeakPosLabel, "PeakPosLabel", &TPgcForm::PeakPosDatLabel, nullptr, "PeakPosDatLabel"},
    {&TPgcForm::PeakValueLabel, "PeakValueLabel", &TPgcForm::PeakValueDatLabel, nullptr, "PeakValueDatLabel"},
    {&TPgcForm::PeakTempLabel, "PeakTempLabel", &TPgcForm::PeakTempDatLabel, nullptr, "PeakTempDatLabel"},
    {&TPgcForm::CursorPosLabel, "CursorPosLabel", &TPgcForm::CursorPosDatLabel, nullptr, "CursorPosDatLabel"},
    {&TPgcForm::CursorValueLabel, "CursorValueLabel", &TPgcForm::CursorValueDatLabel, nullptr,
     "CursorValueDatLabel"},
    {&TPgcForm::CursorTempLabel, "CursorTempLabel", &TPgcForm::CursorTempDatLabel, nullptr,
     "CursorTempDatLabel"},
    {&TPgcForm::ROILabel, "ROILabel", &TPgcForm::ROIDatLabel, nullptr, "ROIDatLabel"},
    {&TPgcForm::ROIDoseLabel, "ROIDoseLabel", &TPgcForm::ROIDoseDatLabel, nullptr, "ROIDoseDatLabel"},
    {&TPgcForm::BgDoseLabel, "BgDoseLabel", &TPgcForm::BgDoseDatLabel, nullptr, "BgDoseDatLabel"},
    {&TPgcForm::BgCorrDoseLabel, "BgCorrDoseLabel", &TPgcForm::BgCorrDoseDatLabel, nullptr,
     "BgCorrDoseDatLabel"},
    {&TPgcForm::TCorrDoseLabel, "TCorrDoseLabel", &TPgcForm::TCorrDoseDatLabel, nullptr, "TCorrDoseDatLabel"},
    {&TPgcForm::MeasDoseLabel, "MeasDoseLabel", &TPgcForm::MeasDoseDatLabel, nullptr, "MeasDoseDatLabel"},
};

// A pair placed in its panel: the header or the evaluation panel, the
// column (sub-panel) and the row within it.
struct PlacedPair {
  const quelm::FieldDescriptor& field;
  const PairWidgets& widgets;
  bool header;
  int row;
};

template <typename Visit>
void forEachPair(Visit visit) {
  const auto place = [&](const quelm::FieldDescriptor* fields, const PairWidgets* widgets, int count,
                         bool header) {
    int rows[3] = {};
    for (int i = 0; i < count; ++i)
      visit(PlacedPair{fields[i], widgets[i], header, rows[fields[i].column]++});
  };
  place(quelm::kHeaderFields, kHeaderWidgets, quelm::kHeaderFieldCount, true);
  place(quelm::kEvalFields, kEvalWidgets, quelm::kEvalFieldCount, false);
}

// The menu items of the navigation and chart commands, in the order of the
// core command tables.
QAction* TPgcForm::*const kNavItems[quelm::kNavCommandCount] = {
    &TPgcForm::NavigationFirstItem, &TPgcForm::NavigationNextItem, &TPgcForm::NavigationPreviousItem,
    &TPgcForm::NavigationLastItem,  &TPgcForm::NavigationNext,     &TPgcForm::NavigationPrev,
    &TPgcForm::GoToInsert1,
};
QAction* TPgcForm::*const kChartItems[quelm::kChartActionCount] = {
    &TPgcForm::ChartCursorLeftItem,     &TPgcForm::ChartCursorRightItem,
    &TPgcForm::ChartEvalStartLeftItem,  &TPgcForm::ChartEvalStartRightItem,
    &TPgcForm::ChartEvalLengthLeftItem, &TPgcForm::ChartEvalLengthRightItem,
    &TPgcForm::ChartNFInrease10Item,    &TPgcForm::ChartNFInrease1Item,
    &TPgcForm::ChartNFInrease01Item,    &TPgcForm::ChartNFDecrease10Item,
    &TPgcForm::ChartNFDecrease1Item,    &TPgcForm::ChartNFDecrease01Item,
    &TPgcForm::ChartDeconvolutionItem,  &TPgcForm::ChartAdoptDoseItem,
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

// Values are read whole: a long one (all six error codes, a ten-digit count
// with its percentage) is drawn narrower rather than cut off.
QLabel* makeValueLabel(QWidget* parent, const char* name) {
  auto* l = new quelm::FitLabel(parent);
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

// A window saved on a screen that is gone would open out of reach.
bool isOnSomeScreen(const QRect& bounds) {
  const QList<QScreen*> screens = QGuiApplication::screens();
  if (screens.isEmpty()) return true;
  for (const QScreen* s : screens)
    if (s->availableGeometry().intersects(bounds)) return true;
  return false;
}

// Delivers a key the way the window system does: the focus widget may claim
// it (an edit keeps its cursor keys); otherwise an enabled command of its
// window that has the key fires; otherwise the widget gets the key.
void pressKey(QWidget* target, int key) {
  QKeyEvent claim(QEvent::ShortcutOverride, key, Qt::NoModifier);
  claim.ignore();
  QCoreApplication::sendEvent(target, &claim);
  if (!claim.isAccepted()) {
    const QKeySequence sequence(key);
    // Only a command that is on a menu or a control has a live shortcut.
    for (QAction* a : target->window()->findChildren<QAction*>())
      if (a->isEnabled() && !a->associatedObjects().isEmpty() && a->shortcuts().contains(sequence)) {
        a->trigger();
        return;
      }
  }
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

  // The formula hints of the evaluation captions are long: drawn narrower, not cut.
  StatusBar = new quelm::FitStatusBar(this);
  StatusBar->setObjectName(QStringLiteral("StatusBar"));
  StatusBar->setSizeGripEnabled(true);
  setStatusBar(StatusBar);

  detail_ = std::make_unique<quelm::DetailModel>(DataBlock);
  content_ = std::make_unique<quelm::ContentModel>(DataBlock, *detail_);
  quelm::DetailView::Widgets detail;
  for (int f = 0; f < quelm::kHeaderFieldCount; ++f) {
    detail.headerCaptions[f] = this->*kHeaderWidgets[f].caption;
    detail.headerValues[f] = this->*kHeaderWidgets[f].value;
  }
  for (int f = 0; f < quelm::kEvalFieldCount; ++f)
    detail.evalValues[f] = kEvalWidgets[f].value ? this->*kEvalWidgets[f].value : nullptr;
  detail.evalStart = EvalSEdit;
  detail.evalLength = EvalLEdit;
  detail.normFact = NormFact20DatEdit;
  detailView_ = new quelm::DetailView(*detail_, detail, PageControl);
  detailView_->pagesWanted = [this] { BuildDetailPages(); };
  contentView_ =
      new quelm::ContentView(*content_, {BlockStringGrid, SourceDatLabel, AvailableBlocksDatLabel});

  ContentTabSheet->installEventFilter(this);
  FormCreate();
}

TPgcForm::~TPgcForm() {
  FormDestroy();
  // The pages' widgets and their views go while the models they paint still exist.
  delete takeCentralWidget();
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
  DoseArchive1 = addItem(File1, "DoseArchive1", QStringLiteral("Dose &archive"));
  Print1 = addItem(File1, "Print1", QStringLiteral("Print"));

  Download1 = addItem(PgcMainMenu, "Download1", QStringLiteral("Download"));

  Options1 = addMenu(PgcMainMenu, "Options1", QStringLiteral("Options"));
  ComPort1 = addItem(Options1, "ComPort1", QStringLiteral("Com Port"));
  ReaderParameterTable1 =
      addItem(Options1, "ReaderParameterTable1", QStringLiteral("Reader Parameter Table"));
  DosimeterparameterTable1 =
      addItem(Options1, "DosimeterparameterTable1", QStringLiteral("Dosimeter Parameter Table"));
  Softwareupdate1 = addItem(Options1, "Softwareupdate1", QStringLiteral("Software Update"));

  Tools1 = addMenu(PgcMainMenu, "Tools1", QStringLiteral("&Tools"));
  Calibration1 = addItem(Tools1, "Calibration1", QStringLiteral("&Calibration"));

  Help1 = addMenu(PgcMainMenu, "Help1", QStringLiteral("&Help"));
  HelpAboutItem = addItem(Help1, "HelpAboutItem", QStringLiteral("&About"));
  Navigation = addMenu(Help1, "Navigation", QStringLiteral("&Navigation"));
  Chart = addMenu(Help1, "Chart", QStringLiteral("&Chart"));
  for (int i = 0; i < quelm::kNavCommandCount; ++i) {
    const quelm::NavCommandDescriptor& d = quelm::kNavCommands[i];
    QAction* a = addItem(Navigation, d.objectName, QString::fromLatin1(d.caption));
    a->setShortcut(QKeySequence(d.key));
    this->*kNavItems[i] = a;
  }
  NFincrease1 = nullptr;
  NFdecrease1 = nullptr;
  for (int i = 0; i < quelm::kChartActionCount; ++i) {
    const quelm::ChartActionDescriptor& d = quelm::kChartActions[i];
    QMenu* menu = Chart;
    switch (d.action) {
      case quelm::ChartAction::NFIncrease10:
      case quelm::ChartAction::NFIncrease1:
      case quelm::ChartAction::NFIncrease01:
        if (!NFincrease1) NFincrease1 = addMenu(Chart, "NFincrease1", QStringLiteral("NF increase"));
        menu = NFincrease1;
        break;
      case quelm::ChartAction::NFDecrease10:
      case quelm::ChartAction::NFDecrease1:
      case quelm::ChartAction::NFDecrease01:
        if (!NFdecrease1) NFdecrease1 = addMenu(Chart, "NFdecrease1", QStringLiteral("NF decrease"));
        menu = NFdecrease1;
        break;
      default:
        break;
    }
    if (d.action == quelm::ChartAction::Deconvolution || d.action == quelm::ChartAction::AdoptDose)
      menu->addSeparator();
    QAction* a = addItem(menu, d.objectName, QString::fromUtf8(d.caption));
    a->setShortcut(QKeySequence(d.key));
    this->*kChartItems[i] = a;
  }
  ChartDeconvolutionItem->setCheckable(true);

  Service1 = addItem(PgcMainMenu, "Service1", QStringLiteral("Service"));

  // Each window's item is switched on where the window is made
  // (quelm::OpenFromMenu); the imports come with the content list.
  for (QAction* a : {FromFile1, FromQuelm1, Download1, ComPort1, ReaderParameterTable1,
                     DosimeterparameterTable1, DoseArchive1, HelpAboutItem, Softwareupdate1, Calibration1})
    a->setEnabled(false);
}

void TPgcForm::buildToolBar() {
  ToolBarPanel = new QFrame(this);
  ToolBarPanel->setObjectName(QStringLiteral("ToolBarPanel"));
  ToolBarPanel->setFrameShape(QFrame::StyledPanel);
  auto* row = new QHBoxLayout(ToolBarPanel);
  row->setContentsMargins(2, 2, 2, 2);
  row->setSpacing(2);
  const auto button = [this, row](const char* name, quelm::ToolBarIcon icon, const QString& hint) {
    auto* b = new QToolButton(ToolBarPanel);
    b->setObjectName(QLatin1String(name));
    b->setAutoRaise(true);
    b->setIconSize(QSize(20, 20));
    b->setIcon(quelm::toolBarIcon(icon));
    b->setToolTip(hint);
    b->setStatusTip(hint);
    row->addWidget(b);
    return b;
  };
  FileOpenSpeedButton = button("FileOpenSpeedButton", quelm::ToolBarIcon::Open, QStringLiteral("Import from file"));
  RSSpeedButton = button("RSSpeedButton", quelm::ToolBarIcon::Reader, QStringLiteral("Import from Quelm"));
  FileSaveTextSpeedButton =
      button("FileSaveTextSpeedButton", quelm::ToolBarIcon::SaveAs, QStringLiteral("Export data block to text"));
  PrintSpeedButton = button("PrintSpeedButton", quelm::ToolBarIcon::Print, QString());
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
  forEachPair([&](const PlacedPair& p) {
    QWidget* parent = p.header ? static_cast<QWidget*>(UpperPanel) : panels[p.field.column];
    QLabel* caption = makeLabel(parent, p.widgets.captionName, QString::fromUtf8(p.field.caption));
    const QString hint = QString::fromUtf8(p.field.captionHint);
    if (!hint.isEmpty()) {
      caption->setToolTip(hint);
      caption->setStatusTip(hint);
    }
    this->*p.widgets.caption = caption;
    if (p.widgets.value) {
      this->*p.widgets.value = makeValueLabel(parent, p.widgets.valueName);
    } else {
      auto* e = new QLineEdit(parent);
      e->setObjectName(QLatin1String(p.widgets.valueName));
      this->*p.widgets.edit = e;
    }
  });
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
  SourceDatLabel = makeValueLabel(ContentTabSheet, "SourceDatLabel");
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
  // Compact rows, so that more of the page shows at the window's first size.
  BlockStringGrid->setRowHeights(BlockStringGrid->fontMetrics().height() + 2);

  // The chart and table pages are built when first shown (or a block first is).
  connect(PageControl, &QTabWidget::currentChanged, this, [this](int index) {
    if (PageControl->widget(index) != ContentTabSheet) BuildDetailPages();
  });
}

void TPgcForm::BuildDetailPages() {
  if (PChart) return;
  buildChart();
  buildValueTable();
  quelm::DetailView::Pages pages;
  pages.valueTable = ValueListGrid;
  pages.chart = {PChart, AreaSeries, AreaUpperSeries, PointSeries, ChartBottomAxis, ChartLeftAxis, ChartRightAxis};
  pages.deconvolution = {DeconvolutionPanel, DeconvolutionStatusLabel, DeconvolutionGrid};
  detailView_->AttachPages(pages);
}

void TPgcForm::buildValueTable() {
  ValueListGrid = new quelm::StringGrid(kValueColumns, kValueRows, 0, TableTabSheet);
  ValueListGrid->setObjectName(QStringLiteral("ValueListGrid"));
  // Its numbers are right-aligned by leading blanks: they line up only in a
  // fixed-pitch face, and its lines must fit the rows of 14 pixels and its
  // labels such as "(0) 99:" their column of 50.
  ValueListGrid->setFont(quelm::FixedPitchFont(kValueRowHeight - 1, kValueRowHeight - 2,
                                               QStringLiteral("(0) 99:"),
                                               kValueGroupWidths[0] - quelm::kGridCellPadding));
  auto* tableLayout = new QVBoxLayout(TableTabSheet);
  tableLayout->setContentsMargins(0, 0, 0, 0);
  tableLayout->addWidget(ValueListGrid);
  ValueListGrid->setRowHeights(kValueRowHeight);
  for (int group = 0; group < kValueColumns / 4; ++group)
    for (int i = 0; i < 4; ++i) ValueListGrid->setColWidth(4 * group + i, kValueGroupWidths[i]);
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
  ChartBottomAxis->setRange(0, kChannelCount);
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

  DeconvolutionPanel = new QFrame(ChartTabSheet);
  DeconvolutionPanel->setObjectName(QStringLiteral("DeconvolutionPanel"));
  DeconvolutionPanel->setFixedWidth(kDeconvolutionPanelWidth);
  auto* panelLayout = new QVBoxLayout(DeconvolutionPanel);
  panelLayout->setContentsMargins(4, 4, 4, 4);
  panelLayout->addWidget(
      makeLabel(DeconvolutionPanel, "DeconvolutionLabel", QStringLiteral("Deconvolution")));
  DeconvolutionStatusLabel = makeLabel(DeconvolutionPanel, "DeconvolutionStatusLabel", QString());
  panelLayout->addWidget(DeconvolutionStatusLabel);
  DeconvolutionGrid = new QTableWidget(DeconvolutionPanel);
  DeconvolutionGrid->setObjectName(QStringLiteral("DeconvolutionGrid"));
  panelLayout->addWidget(DeconvolutionGrid, 1);
  DeconvolutionPanel->hide();

  auto* chartLayout = new QHBoxLayout(ChartTabSheet);
  chartLayout->setContentsMargins(0, 0, 0, 0);
  chartLayout->setSpacing(0);
  chartLayout->addWidget(PChart, 1);
  chartLayout->addWidget(DeconvolutionPanel);
}

void TPgcForm::FormCreate() {
  quelm::TraceLine trace(QStringLiteral("TPgcForm::FormCreate(): "));
  Professional = 0;
  quelm::setServiceLevel(false);

  // Design values first; the file's values then override them.
  quelm::AppConfig config;
  QPalette lightBlue = Panel1->palette();
  lightBlue.setColor(QPalette::Window, QColor(0xC0, 0xE0, 0xFF));
  Panel1->setPalette(lightBlue);

  const int iniResult = quelm::ReadConfig(quelm::configFilePath(), config);
  QRect bounds(config.Left, config.Top, qMax(config.Width, minimumWidth()), config.Height);
  if (!isOnSomeScreen(bounds)) bounds.moveTo(quelm::AppConfig{}.Left, quelm::AppConfig{}.Top);
  move(bounds.topLeft());
  resize(bounds.size());
  PortNumber = config.PortNumber;
  BaudRate = config.BaudRate;
  Professional = config.Professional ? 1 : 0;
  MaxPostHeating = config.MaxPostHeating;
  quelm::setServiceLevel(Professional != 0);
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
    BlockStringGrid->setCell(c, 0,
                             QString::fromLatin1(quelm::ContentColumns()[static_cast<size_t>(c)].title));
  contentView_->resetColumns();
  qApp->installEventFilter(this);
  if (iniResult == 0) trace.ok();

  // The pages' commands: the content list and the detail view.
  SetUpContentList();
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
    quelm::reportUnableToWrite(quelm::configFilePath());
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
  ChartAdoptDoseItem->setEnabled(loaded && AdoptDoseOfRecord && detail_->ShownBlockKey() != 0);
  FileSaveTextSpeedButton->setEnabled(loaded);
  DataBlocktoTextFile1->setEnabled(loaded);
  PrevPageButton->setEnabled(loaded);
  NextPageButton->setEnabled(loaded);
  FilterButton->setEnabled(loaded);
  trace.ok();
  return 0;
}

void TPgcForm::SetLevel() {
  Service1->setVisible(quelm::serviceLevel());
  Service1->setEnabled(quelm::serviceLevel());
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
  forEachPair([&](const PlacedPair& p) {
    int& cw = captionWidth[p.header ? 0 : 1][p.field.column];
    cw = qMax(cw, (this->*p.widgets.caption)->sizeHint().width());
  });
  forEachPair([&](const PlacedPair& p) {
    QLabel* caption = this->*p.widgets.caption;
    const bool edit = p.widgets.edit != nullptr;
    QWidget* value = edit ? static_cast<QWidget*>(this->*p.widgets.edit) : this->*p.widgets.value;
    const int column = p.field.column;
    const int cw = captionWidth[p.header ? 0 : 1][column];
    const int left = (p.header ? x[column] : 0) + kColumnMargin;
    // A header value may use the margin up to the next column's captions.
    const int right = p.header ? (column < 2 ? x[column + 1] + kColumnMargin / 2 : x[column + 1])
                               : x[column + 1] - x[column];
    const int rowHeight = p.header ? kHeaderRowHeight : kEvalRowHeight;
    const int top = 4 + p.row * rowHeight;
    caption->setGeometry(left, top, cw, rowHeight);
    const int valueWidth = qMax(20, right - (left + cw + 4) - kColumnMargin);
    if (edit)
      value->setGeometry(left + cw + 4, top + 1, qMin(valueWidth, 80), rowHeight - 2);
    else
      value->setGeometry(left + cw + 4, top, valueWidth, rowHeight);
  });
}

void TPgcForm::ShowHint(const QString& hint) {
  if (hint.isEmpty())
    StatusBar->clearMessage();
  else
    StatusBar->showMessage(hint);
}

void TPgcForm::SetChartHint(const QString& hint) {
  if (PChart) PChart->setStatusTip(hint);
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

// --- Content list ----------------------------------------------------------------

void TPgcForm::SetUpContentList() {
  content_->hooks.paging = [this](bool enabled) { enabled ? EnablePaging() : DisablePaging(); };
  content_->hooks.commandsChanged = [this] { UpdateMenuItems(); };
  contentView_->showChart = [this] { PageControl->setCurrentWidget(ChartTabSheet); };

  FileOpenSpeedButton->setEnabled(true);
  FromFile1->setEnabled(true);
  SetReaderAvailable(true);
  connect(FileOpenSpeedButton, &QToolButton::clicked, this, &TPgcForm::FileOpenSpeedButtonClick);
  connect(FromFile1, &QAction::triggered, this, &TPgcForm::FileOpenSpeedButtonClick);
  connect(RSSpeedButton, &QToolButton::clicked, this, &TPgcForm::RSSpeedButtonClick);
  connect(FromQuelm1, &QAction::triggered, this, &TPgcForm::RSSpeedButtonClick);
  connect(FilterButton, &QPushButton::clicked, this, &TPgcForm::FilterButtonClick);
  connect(NextPageButton, &QPushButton::clicked, this, &TPgcForm::NextPageButtonClick);
  connect(PrevPageButton, &QPushButton::clicked, this, &TPgcForm::PrevPageButtonClick);
  connect(NavigationNextItem, &QAction::triggered, this, &TPgcForm::NextPageButtonClick);
  connect(NavigationPreviousItem, &QAction::triggered, this, &TPgcForm::PrevPageButtonClick);
  connect(NavigationNext, &QAction::triggered, this, &TPgcForm::NavigationNextClick);
  connect(NavigationPrev, &QAction::triggered, this, &TPgcForm::NavigationPrevClick);
  connect(NavigationFirstItem, &QAction::triggered, this, [this] { NavigationEvent(NavigationFirstItem); });
  connect(NavigationLastItem, &QAction::triggered, this, [this] { NavigationEvent(NavigationLastItem); });
}

// Both windows live as long as the main window; they are made when first needed.
TSearchForm& TPgcForm::SearchForm() {
  if (!searchForm_) searchForm_ = new TSearchForm(this);
  return *searchForm_;
}

TNavForm& TPgcForm::NavForm() {
  if (!navForm_) navForm_ = new TNavForm(this);
  return *navForm_;
}

void TPgcForm::EnablePaging() {
  for (QPushButton* b : {PrevPageButton, NextPageButton}) b->setEnabled(true);
  for (QAction* a : {NavigationNextItem, NavigationPreviousItem, NavigationNext, NavigationPrev})
    a->setEnabled(true);
}

void TPgcForm::DisablePaging() {
  for (QPushButton* b : {PrevPageButton, NextPageButton}) b->setEnabled(false);
  for (QAction* a : {NavigationNextItem, NavigationPreviousItem, NavigationNext, NavigationPrev})
    a->setEnabled(false);
}

void TPgcForm::FileOpenSpeedButtonClick() {
  PageControl->setCurrentWidget(ContentTabSheet);
  FileOpenItemClick();
}

void TPgcForm::FileOpenItemClick() {
  if (!DataBlock || content_->Busy()) return;
  quelm::SharedFileDialog& dialog = quelm::sharedOpenDialog();
  dialog.Filter =
      quelm::filterFromPipes(QStringLiteral("Quelm data files (*.dat)|*.DAT|All files (*.*)|*.*"));
  if (!dialog.Execute()) {
    content_->FileImportCancelled();
    return;
  }
  ReportFailure(content_->ImportFile(dialog.FileName));
}

void TPgcForm::RSSpeedButtonClick() {
  if (!DataBlock || content_->Busy()) return;
  PageControl->setCurrentWidget(ContentTabSheet);
  // Off while the import runs: the exchanges with the reader let the
  // program's events through, a second click must not start another.
  importing_ = true;
  SetReaderAvailable(readerAvailable_);
  struct Done {
    TPgcForm* form;
    ~Done() {
      form->importing_ = false;
      form->SetReaderAvailable(form->readerAvailable_);
    }
  } done{this};
  ReportFailure(content_->ImportReader());
}

void TPgcForm::SetReaderAvailable(bool available) {
  readerAvailable_ = available;
  RSSpeedButton->setEnabled(available && !importing_);
  FromQuelm1->setEnabled(available && !importing_);
}

void TPgcForm::FilterButtonClick() {
  // The search window edits a copy of the search in force; only its Ok takes it over.
  ReportFailure(content_->Search([this](quelm::SearchState& search) {
    TSearchForm& form = SearchForm();
    form.Request = search.Request;
    form.UpperLimit = search.UpperLimit;
    form.LowerLimit = search.LowerLimit;
    form.Initialised = search.Initialised ? 1 : 0;
    if (!form.Execute()) return false;
    search.Request = form.Request;
    search.UpperLimit = form.UpperLimit;
    search.LowerLimit = form.LowerLimit;
    return true;
  }));
}

void TPgcForm::NextPageButtonClick() { ReportFailure(content_->NextPage().failure); }

void TPgcForm::PrevPageButtonClick() { ReportFailure(content_->PrevPage().failure); }

void TPgcForm::NavigationNextClick() { ReportFailure(content_->NextItem().failure); }

void TPgcForm::NavigationPrevClick() { ReportFailure(content_->PrevItem().failure); }

void TPgcForm::NavigationEvent(QAction* item) {
  if (item == NavigationFirstItem)
    ReportFailure(content_->FirstBlock().failure);
  else if (item == NavigationLastItem)
    ReportFailure(content_->LastBlock().failure);
}

void TPgcForm::FormMouseDown(Qt::MouseButton button, int /*X*/, int /*Y*/) {
  if (button == Qt::RightButton) NavForm().Execute();
}

void TPgcForm::mousePressEvent(QMouseEvent* event) {
  // Presses that no control took reach the window: its background.
  FormMouseDown(event->button(), static_cast<int>(event->position().x()),
                static_cast<int>(event->position().y()));
  QMainWindow::mousePressEvent(event);
}

// --- Detail view -------------------------------------------------------------------

void TPgcForm::SetUpDetailView() {
  detail_->commandsChanged = [this] { UpdateMenuItems(); };
  detailView_->chartHint = [this](const QString& hint) { SetChartHint(hint); };
  detailView_->deconvolutionChanged = [this] {
    ChartDeconvolutionItem->setChecked(detail_->Deconvolution().On());
  };
  for (int i = 0; i < quelm::kChartActionCount; ++i) {
    const quelm::ChartAction action = quelm::kChartActions[i].action;
    connect(this->*kChartItems[i], &QAction::triggered, this, [this, action] { ChartItemClick(action); });
  }
}

int TPgcForm::DataRefresh() { return ReportFailure(detail_->Refresh()); }

int TPgcForm::ChartItemClick(quelm::ChartAction action) {
  if (action == quelm::ChartAction::AdoptDose) {
    const qint64 key = detail_->ShownBlockKey();
    if (PageControl->currentWidget() == ChartTabSheet && key != 0 && AdoptDoseOfRecord)
      AdoptDoseOfRecord(key, detail_->ShownRecord(), detail_->Members());
    return 0;
  }
  const int rc = ReportFailure(detail_->ChartCommand(action, PageControl->currentWidget() == ChartTabSheet));
  // The item checks itself when triggered, also where the command was refused.
  ChartDeconvolutionItem->setChecked(detail_->Deconvolution().On());
  return rc;
}
