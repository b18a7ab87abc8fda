#pragma once
// The main window: tool bar, block header, the pages Content/Chart/Table,
// evaluation panel, status bar and the main menu. This file and
// PgcForm.cpp build the frame, the menu and the configuration round trip;
// the detail view with its chart interaction (PgcFormDetail.cpp) and the
// content list with paging and search (PgcFormContent.cpp) add their
// handlers to this class and connect them from their own set-up functions,
// which FormCreate calls (see the marked spot there).
//
// Components are public members named as the screens and the code that
// fills them know them.

#include <QMainWindow>
#include <cstdint>
#include <memory>

#include "evaluation/ContentList.h"
#include "evaluation/ContentSource.h"
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
class QToolButton;
class QValueAxis;
class TNavForm;
class TSearchForm;
namespace quelm {
class ContentBusyPointer;
class TraceLine;
class StringGrid;
class GlowChart;
enum class ChartAction;
}  // namespace quelm
struct EvalMembers;
class QPainter;

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
  uint32_t PagingEnabled = 0;
  int32_t ChartDownX = 0;
  int32_t ChartDownY = 0;

  // --- Main menu --------------------------------------------------------
  QMenuBar* PgcMainMenu;
  QMenu* File1;
  QMenu* Import1;
  QAction* FromFile1;
  QAction* FromQuelm1;
  QMenu* Export1;
  QAction* DataBlocktoTextFile1;
  QAction* Print1;
  QAction* Download1;
  QMenu* Options1;
  QAction* ComPort1;
  QAction* ReaderParameterTable1;
  QAction* DosimeterparameterTable1;
  QAction* Softwareupdate1;
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
  QAction* ChartNFDecrease10Item;  // A
  QAction* ChartNFDecrease1Item;   // S
  QAction* ChartNFDecrease01Item;  // D
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

  // Chart page. The area series is drawn from AreaUpperSeries (its points);
  // PointSeries holds the channel temperatures on the right axis.
  QChartView* PChart;
  QAreaSeries* AreaSeries;
  QLineSeries* AreaUpperSeries;
  QScatterSeries* PointSeries;
  QValueAxis* ChartBottomAxis;
  QValueAxis* ChartLeftAxis;
  QValueAxis* ChartRightAxis;

  // Table page: 16 columns (4 groups of label, value, temperature, spare),
  // 27 rows, no title row.
  quelm::StringGrid* ValueListGrid;

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
  static constexpr bool kServiceWindowBuilt = false;
  static constexpr bool kBlockExportBuilt = true;
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

  // --- Content list (PgcFormContent.cpp) ---------------------------------
  // Connects the import, paging, navigation and search commands and the grid.
  void SetUpContentList();
  void FileOpenSpeedButtonClick();
  void FileOpenItemClick();
  // "Import from Quelm": the reader becomes the source, its newest page is
  // listed and its newest block shown.
  void RSSpeedButtonClick();
  // Asks the reader (the source) for the page that ends at its newest block;
  // count gets the blocks it holds. 0 or the link's code.
  int RequestFirstReaderPage(int* count = nullptr);
  void FilterButtonClick();
  void NextPageButtonClick();
  void PrevPageButtonClick();
  void NavigationNextClick();
  void NavigationPrevClick();
  void NavigationEvent(QAction* item);  // "&First Block" or "&Last Block"
  void BlockStringGridClick();
  void BlockStringGridDblClick();
  // While PagingEnabled is set, a row without a block cannot be selected.
  bool BlockStringGridSelectCell(int col, int row);
  void ClearContentGrid();
  // Summaries[i] into the first empty row; -1 when every row is filled.
  int FillRow(int i);
  // Summaries[r-1] into the first empty row r; -1 when every row is filled.
  int FillNextRow();
  void LoadSelectedBlock();
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

  // --- Detail view and chart interaction (PgcFormDetail.cpp) ------------
  // Connects the chart, the chart menu items and the evaluation edits.
  void SetUpDetailView();
  // Shows the data object's block: everything after a block read, only the
  // evaluation while EvalEdited is set. 0, -150 without a block, -102
  // without a data object (both reported).
  int DataRefresh();
  void ClearValueTable();
  void PChartMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int X, int Y);
  void PChartMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, int X, int Y);
  void PChartMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int X, int Y);
  void PChartClick();
  void AreaSeriesAfterDrawValues(QPainter& painter);  // in view pixels
  void ChartCursorLeftItemClick();
  void ChartCursorRightItemClick();
  void ChartEvalStartLeftItemClick();
  void ChartEvalStartRightItemClick();
  void ChartEvalLengthLeftItemClick();
  void ChartEvalLengthRightItemClick();
  void ChartNFInrease10ItemClick();
  void ChartNFInrease1ItemClick();
  void ChartNFInrease01ItemClick();
  void ChartNFDecrease10ItemClick();
  void ChartNFDecrease1ItemClick();
  void ChartNFDecrease01ItemClick();
  void EvalSEditExit();
  void EvalLEditExit();
  void NormFact20DatEditExit();
  void EvalSEditKeyPress(int key);
  void EvalLEditKeyPress(int key);
  void NormFact20DatEditKeyPress(int key);
  quelm::GlowChart* ChartHelper = nullptr;  // mouse, strokes and window colour of PChart

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
  void buildLowerPanel();
  void layoutCaptionColumns();
  static void setMenuEnabled(QMenu* menu, bool enabled);

  // Content list.
  int filledContentRows() const;
  void writeContentRow(int row, const BlockSummary& summary);
  void selectContentRow(int row);  // 0: none; never loads
  void contentCellChanged(int row, int previousRow);
  void applyNavigation(const quelm::NavDecision& decision);
  // A page of the source; a failure is reported, *failed set and 0 returned.
  int searchContentPage(const SearchRequest& request, bool* failed = nullptr);
  void showContentSource();
  // An import whose source could not be counted: paging and menus back on,
  // the failure reported (unless the operator cancelled the port choice).
  void endFailedImport(const quelm::ContentSource& source, int rc, quelm::TraceLine& trace);
  // The end of an import: the newest block of the new source in the view.
  void showNewestImportedBlock(quelm::ContentBusyPointer& busy, quelm::TraceLine& trace);
  std::unique_ptr<quelm::ContentSource> contentSource_;  // nothing before the first import
  TSearchForm* searchForm_ = nullptr;
  TNavForm* navForm_ = nullptr;
  int contentBusy_ = 0;  // list operations running (busy pointer shown)
  bool selectingRow_ = false;

  bool destroyed_ = false;
  int wheelRemainder_ = 0;  // wheel travel not yet turned into a key press

  // Detail view.
  EvalMembers evalMembers() const;
  void setEvalMembers(const EvalMembers& m);
  bool blockShown() const;
  int evalEdited(const EvalMembers& m);
  int chartItemClick(quelm::ChartAction action, const char* handler);
  void dragMarkers(int X);
  // The block on display: the data object's record may be cleared or
  // replaced before the next block is shown (a search re-counts the source).
  BlockRecord shownRecord_{};
  uint32_t shownValues_[kRawValueCount] = {};
  bool shownValid_ = false;
};

// The program's main window; nullptr until it exists.
extern TPgcForm* PgcForm;
