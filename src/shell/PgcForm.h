#pragma once
// The main window: tool bar, block header, the pages Content/Chart/Table,
// evaluation panel, status bar and the main menu. It builds its widgets from
// the core tables (captions, hints, column titles, menu items), wires the
// menu, keeps the configuration round trip and routes keys, wheel and hints.
// What the content list and the detail view do lives in their core models
// (evaluation/ContentModel.h, evaluation/DetailModel.h); their views
// (evaluation/ContentView.h, evaluation/DetailView.h) paint them into the
// widgets of this window.
//
// Components are public members named as the screens and the code that
// fills them know them.

#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <memory>

#include "measurement/NurvoDataBlock.h"

class QAction;
class QAreaSeries;
class QChartView;
class QFrame;
class QLabel;
class QLineEdit;
class QLineSeries;
class QMenu;
class QMenuBar;
class QPushButton;
class QScatterSeries;
class QStatusBar;
class QTabWidget;
class QTableWidget;
class QToolButton;
class QValueAxis;
class TNavForm;
class TSearchForm;
namespace quelm {
class ContentModel;
class ContentView;
class DetailModel;
class DetailView;
class StringGrid;
enum class ChartAction;
}  // namespace quelm
struct EvalMembers;

class TPgcForm : public QMainWindow {
  Q_OBJECT

 public:
  explicit TPgcForm(QWidget* parent = nullptr);
  // Runs FormDestroy: the configuration file is written when the window goes.
  ~TPgcForm() override;

  // --- Data -------------------------------------------------------------
  std::unique_ptr<TNurvoDataBlock> DataBlock;  // the display side's data object
  int32_t PortNumber = 1;                      // 0 = none, n = COMn
  uint32_t BaudRate = 9;                       // index into the baud-rate table
  uint8_t Professional = 0;                    // service level
  int32_t MaxPostHeating = 50;                 // bound of POSTH in the reader parameter window

  // --- Main menu --------------------------------------------------------
  QMenuBar* PgcMainMenu;
  QMenu* File1;
  QMenu* Import1;
  QAction* FromFile1;
  QAction* FromQuelm1;
  QMenu* Export1;
  QAction* DataBlocktoTextFile1;
  QAction* DoseArchive1;  // "Dose archive"
  QAction* Print1;
  QAction* Download1;
  QMenu* Options1;
  QAction* ComPort1;
  QAction* ReaderParameterTable1;
  QAction* DosimeterparameterTable1;
  QAction* Softwareupdate1;
  QMenu* Tools1;
  QAction* Calibration1;  // "Calibration"
  QMenu* Help1;
  QAction* HelpAboutItem;
  QMenu* Navigation;
  QAction* NavigationFirstItem;     // Home
  QAction* NavigationNextItem;      // PgUp ("Next Page")
  QAction* NavigationPreviousItem;  // PgDn ("Previous Page")
  QAction* NavigationLastItem;      // End
  QAction* NavigationNext;          // Up ("Next Item")
  QAction* NavigationPrev;          // Down ("Previous Item")
  QAction* GoToInsert1;             // Insert, no action
  QMenu* Chart;
  QAction* ChartCursorLeftItem;       // Left
  QAction* ChartCursorRightItem;      // Right
  QAction* ChartEvalStartLeftItem;    // Z
  QAction* ChartEvalStartRightItem;   // X
  QAction* ChartEvalLengthLeftItem;   // N
  QAction* ChartEvalLengthRightItem;  // M
  QMenu* NFincrease1;
  QAction* ChartNFInrease10Item;  // Q
  QAction* ChartNFInrease1Item;   // W
  QAction* ChartNFInrease01Item;  // E
  QMenu* NFdecrease1;
  QAction* ChartNFDecrease10Item;   // A
  QAction* ChartNFDecrease1Item;    // S
  QAction* ChartNFDecrease01Item;   // D
  QAction* ChartDeconvolutionItem;  // P, checked while the fitted peaks show
  QAction* ChartAdoptDoseItem;      // R, on while the block shown came from the dose archive
  QAction* Service1;

  // --- Tool bar ---------------------------------------------------------
  QFrame* ToolBarPanel;
  QToolButton* FileOpenSpeedButton;
  QToolButton* RSSpeedButton;
  QToolButton* FileSaveTextSpeedButton;
  QToolButton* PrintSpeedButton;

  // --- Block header: three columns of caption/value pairs ----------------
  QFrame* UpperPanel;
  QLabel* DeviceIDLabel;
  QLabel* DeviceIDDatLabel;
  QLabel* DosimeterLabel;
  QLabel* DosimeterDatLabel;
  QLabel* DateTimeLabel;
  QLabel* DateTimeDatLabel;
  QLabel* ErrorCodesLabel;
  QLabel* ErrorCodesDatLabel;
  QLabel* BlockNumberLabel;
  QLabel* BlockNumberDatLabel;
  QLabel* MeasPointsLabel;
  QLabel* MeasPointsDatLabel;
  QLabel* SamplingSpeedLabel;
  QLabel* SamplingSpeedDatLabel;
  QLabel* ReaderTempLabel;
  QLabel* ReaderTempDatLabel;
  QLabel* MeasuredDoseLabel;
  QLabel* MeasuredDoseDatLabel;
  QLabel* ApprDoseRateLabel;
  QLabel* ApprDoseRateDatLabel;
  QLabel* LastReadOutLabel;
  QLabel* LastReadOutDatLabel;
  QLabel* ExposureLabel;
  QLabel* ExposureDatLabel;

  // --- Pages ------------------------------------------------------------
  QTabWidget* PageControl;
  QWidget* ContentTabSheet;
  QWidget* ChartTabSheet;
  QWidget* TableTabSheet;

  // Content page: source strip above the block list.
  QLabel* SourceLabel;
  QLabel* SourceDatLabel;
  QLabel* AvailableBlocksLabel;
  QLabel* AvailableBlocksDatLabel;
  QPushButton* FilterButton;    // "&Search"
  QPushButton* PrevPageButton;  // "Pre&v page"
  QPushButton* NextPageButton;  // "Nex&t page"
  // 9 columns; row 0 is the title row, rows 1..20 one page of blocks.
  quelm::StringGrid* BlockStringGrid;

  // The chart and table pages' widgets are null until BuildDetailPages, which
  // runs when either page is first shown or a block first is.
  void BuildDetailPages();
  // Chart page. The area series is drawn from AreaUpperSeries (its points);
  // PointSeries holds the channel temperatures on the right axis.
  QChartView* PChart = nullptr;
  QAreaSeries* AreaSeries = nullptr;
  QLineSeries* AreaUpperSeries = nullptr;
  QScatterSeries* PointSeries = nullptr;
  QValueAxis* ChartBottomAxis = nullptr;
  QValueAxis* ChartLeftAxis = nullptr;
  QValueAxis* ChartRightAxis = nullptr;
  // Beside the chart while the deconvolution is on: the fit's state and its peaks.
  QFrame* DeconvolutionPanel = nullptr;
  QLabel* DeconvolutionStatusLabel = nullptr;
  QTableWidget* DeconvolutionGrid = nullptr;

  // Table page: 16 columns (4 groups of label, value, temperature, spare),
  // 27 rows, no title row.
  quelm::StringGrid* ValueListGrid = nullptr;

  // --- Evaluation panel -------------------------------------------------
  QFrame* LowerPanel;
  QFrame* Panel1;
  QLabel* EvalStartLabel;
  QLineEdit* EvalSEdit;
  QLabel* EvalLengthLabel;
  QLineEdit* EvalLEdit;
  QLabel* NormFactLabel;
  QLineEdit* NormFact20DatEdit;
  QLabel* StartPercentLabel;
  QLabel* StartPercentDatLabel;
  QLabel* StopPercentLabel;
  QLabel* StopPercentDatLabel;
  QFrame* Panel2;
  QLabel* PeakPosLabel;
  QLabel* PeakPosDatLabel;
  QLabel* PeakValueLabel;
  QLabel* PeakValueDatLabel;
  QLabel* PeakTempLabel;
  QLabel* PeakTempDatLabel;
  QLabel* CursorPosLabel;
  QLabel* CursorPosDatLabel;
  QLabel* CursorValueLabel;
  QLabel* CursorValueDatLabel;
  QLabel* CursorTempLabel;
  QLabel* CursorTempDatLabel;
  QFrame* Panel3;
  QLabel* ROILabel;
  QLabel* ROIDatLabel;
  QLabel* ROIDoseLabel;
  QLabel* ROIDoseDatLabel;
  QLabel* BgDoseLabel;
  QLabel* BgDoseDatLabel;
  QLabel* BgCorrDoseLabel;
  QLabel* BgCorrDoseDatLabel;
  QLabel* TCorrDoseLabel;
  QLabel* TCorrDoseDatLabel;
  QLabel* MeasDoseLabel;
  QLabel* MeasDoseDatLabel;

  QStatusBar* StatusBar;

  // --- Operations -------------------------------------------------------
  void FormCreate();
  void FormDestroy();
  // Enables the block-dependent commands after the Loaded bit of DataBlock.
  int UpdateMenuItems();
  // Shows the Service menu exactly at service level.
  void SetLevel();
  // Commands whose windows are not built yet stay visible but disabled, so
  // that no control silently does nothing.
  // The application-wide filter: turns the mouse wheel into Up/Down key
  // presses that act exactly like the keys. True when the event was consumed.
  bool AppMessage(QObject* receiver, QEvent* event);
  // F1/F2/F3 select the Content/Chart/Table page. True when handled.
  bool FormKeyDown(int key);
  void FormResize();
  // Hint routing: every hint of the program ends in the status bar.
  void ShowHint(const QString& hint);
  // The chart's own hint (the value under the pointer); routed like any hint.
  void SetChartHint(const QString& hint);

  // --- Content list ------------------------------------------------------
  // Connects the import, paging, navigation and search commands.
  void SetUpContentList();
  void FileOpenSpeedButtonClick();
  void FileOpenItemClick();
  // "Import from Quelm": the reader becomes the source, its newest page is
  // listed and its newest block shown.
  void RSSpeedButtonClick();
  // Import from the reader greyed while the reader cannot take commands (a
  // software update holds the line).
  void SetReaderAvailable(bool available);
  void FilterButtonClick();
  void NextPageButtonClick();
  void PrevPageButtonClick();
  void NavigationNextClick();
  void NavigationPrevClick();
  void NavigationEvent(QAction* item);  // "&First Block" or "&Last Block"
  // The paging buttons and items on or off while a page changes.
  void EnablePaging();
  void DisablePaging();
  // Right button on the window's background: the navigation key list.
  void FormMouseDown(Qt::MouseButton button, int X, int Y);
  // The search window with the request of every list operation, and the key list.
  TSearchForm& SearchForm();
  TNavForm& NavForm();

  static constexpr int kContentStripHeight = 50;

  // --- Block export and printing (PgcFormOutput.cpp) ---------------------
  void SetUpOutput();
  // Writes the shown block to a text file the operator chooses.
  void FileSaveTextSpeedButtonClick();
  // Prints the window's image on one page.
  void Print1Click();
  void PrintSpeedButtonClick();

  // --- Detail view ---------------------------------------------------------
  // Connects the chart, the chart menu items and the evaluation edits.
  void SetUpDetailView();
  // Shows the data object's block: everything after a block read, only the
  // evaluation while EvalEdited is set. 0, -150 without a block, -102
  // without a data object (both reported).
  int DataRefresh();
  // A chart menu item (Cursor to left ... NF decrease); it acts only on the
  // Chart page with a block shown.
  int ChartItemClick(quelm::ChartAction action);
  // "Adopt as dose of record…": the shown archived read-out (its id and
  // bytes) and the evaluation window and factor set on the chart go to the
  // dose archive (wired in shell/Application.cpp); the item is on only
  // while it is set and the shown block came from the archive.
  std::function<void(qint64 readoutId, const BlockRecord& record, const EvalMembers& members)>
      AdoptDoseOfRecord;

  // The models behind the pages and the views that paint them.
  quelm::ContentModel& Content() { return *content_; }
  quelm::DetailModel& Detail() { return *detail_; }
  quelm::DetailView& DetailPage() { return *detailView_; }

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void buildMenu();
  void buildToolBar();
  void buildHeader();
  void buildPages();
  void buildChart();
  void buildValueTable();
  void buildLowerPanel();
  void layoutCaptionColumns();
  static void setMenuEnabled(QMenu* menu, bool enabled);

  std::unique_ptr<quelm::DetailModel> detail_;
  std::unique_ptr<quelm::ContentModel> content_;
  quelm::DetailView* detailView_ = nullptr;    // owned by the page control
  quelm::ContentView* contentView_ = nullptr;  // owned by the block grid
  TSearchForm* searchForm_ = nullptr;
  TNavForm* navForm_ = nullptr;

  bool destroyed_ = false;
  bool readerAvailable_ = true;
  bool importing_ = false;
  int wheelRemainder_ = 0;  // wheel travel not yet turned into a key press
};

