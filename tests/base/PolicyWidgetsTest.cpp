#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QVBoxLayout>

#include "base/BusyCursor.h"
#include "base/ButtonBox.h"
#include "base/EnterMovesOn.h"
#include "base/StringGrid.h"
#include "base/WindowOwner.h"

using namespace quelm;

namespace {

Qt::CursorShape overrideShape() {
  const QCursor* c = QApplication::overrideCursor();
  return c ? c->shape() : Qt::BlankCursor;
}

TEST(BusyCursor, PutsBackOnlyItsOwnPointer) {
  // Someone else's override (a caller's busy pointer) stays in force.
  QApplication::setOverrideCursor(Qt::CrossCursor);
  {
    BusyCursor busy;
    EXPECT_EQ(overrideShape(), Qt::WaitCursor);
    busy.release();  // before a message box
    EXPECT_EQ(overrideShape(), Qt::CrossCursor);
    busy.release();
  }
  EXPECT_EQ(overrideShape(), Qt::CrossCursor);
  QApplication::restoreOverrideCursor();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(EnterMovesOn, EnterTakesTheWindowsFocusOrderOnlyInTheControlsGiven) {
  QDialog window;
  auto* layout = new QVBoxLayout(&window);
  // A spin box takes its keys in itself, not in the edit inside it.
  QWidget* edits[] = {new QLineEdit, new QLineEdit, new QSpinBox, new QLineEdit};
  for (QWidget* e : edits) layout->addWidget(e);
  edits[1]->setEnabled(false);
  enterMovesOn({edits[0], edits[2]});
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

  struct Case {
    int from;
    Qt::Key key;
    int to;
  };
  for (const Case c : {Case{0, Qt::Key_Return, 2}, Case{0, Qt::Key_Enter, 2}, Case{2, Qt::Key_Return, 3},
                       Case{3, Qt::Key_Return, 3}, Case{0, Qt::Key_A, 0}}) {
    edits[c.from]->setFocus();
    QTest::keyClick(edits[c.from], c.key);
    EXPECT_EQ(QApplication::focusWidget(), edits[c.to]) << c.from << " " << c.key;
  }
  EXPECT_EQ(static_cast<QLineEdit*>(edits[0])->text(), QStringLiteral("a"))
      << "other keys still reach the edit";
}

}  // namespace

// --- The window owner ----------------------------------------------------------------------------------

namespace {
struct PlainWindow : QWidget {};
struct ClickWindow : QWidget {
  QString clicked;
  void first() { clicked += QLatin1Char('1'); }
  void second() { clicked += QLatin1Char('2'); }
};
struct WindowWithArguments : QWidget {
  explicit WindowWithArguments(int n) : number(n) {}
  int number;
};
}  // namespace

TEST(WindowOwner, BuildsEachWindowOnceWhenAskedAndTakesThemDownLastBuiltFirst) {
  EXPECT_EQ(quelm::OpenWindow<PlainWindow>(), nullptr) << "no owner, no window";
  QStringList gone;
  {
    quelm::WindowOwner owner;
    EXPECT_EQ(quelm::WindowOwner::current(), &owner);
    int recipes = 0;
    owner.provide<WindowWithArguments>([&] {
      ++recipes;
      return std::make_unique<WindowWithArguments>(7);
    });
    EXPECT_EQ(owner.built<PlainWindow>(), nullptr);
    PlainWindow* plain = quelm::OpenWindow<PlainWindow>();
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(owner.open<PlainWindow>(), plain);
    EXPECT_EQ(owner.first(), plain);
    WindowWithArguments* made = owner.open<WindowWithArguments>();
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->number, 7);
    EXPECT_EQ(owner.open<WindowWithArguments>(), made);
    EXPECT_EQ(recipes, 1);
    QObject::connect(plain, &QObject::destroyed, [&] { gone << "plain"; });
    QObject::connect(made, &QObject::destroyed, [&] {
      gone << "made";
      // A window going can still reach the ones built before it.
      EXPECT_NE(quelm::BuiltWindow<PlainWindow>(), nullptr);
    });
  }
  EXPECT_EQ(gone, (QStringList{"made", "plain"}));
  EXPECT_EQ(quelm::WindowOwner::current(), nullptr);
}

TEST(WindowOwner, ALentWindowIsHandedOutUntilItGoesAndIsNeverTakenDownByTheOwner) {
  quelm::WindowOwner owner;
  {
    WindowWithArguments lent(3);
    EXPECT_FALSE(owner.canOpen<WindowWithArguments>()) << "no recipe and no default constructor";
    EXPECT_EQ(owner.open<WindowWithArguments>(), nullptr);
    owner.lend(lent);
    EXPECT_EQ(owner.open<WindowWithArguments>(), &lent);
  }
  EXPECT_EQ(owner.built<WindowWithArguments>(), nullptr) << "gone by itself, no longer handed out";
  auto outliving = std::make_unique<PlainWindow>();
  {
    quelm::WindowOwner inner;
    inner.lend(*outliving);
    EXPECT_EQ(quelm::BuiltWindow<PlainWindow>(), outliving.get());
  }
  EXPECT_EQ(quelm::WindowOwner::current(), &owner) << "the outer owner again";
  EXPECT_EQ(owner.built<PlainWindow>(), nullptr);
  outliving.reset();  // after its owner went: nothing reports to a dead owner
}

TEST(WindowOwner, WorkForAfterTheFirstPaintRunsOnceInOrderFromTheEventLoopAfterIt) {
  QStringList ran;
  // Rounds of the event loop, never a wait for time: a zero timer fires
  // within a round or two of being started.
  const auto rounds = [&](qsizetype until) {
    for (int i = 0; i < 10 && ran.size() < until; ++i) QApplication::processEvents();
  };
  quelm::WindowOwner owner;
  owner.afterFirstPaint([&] { ran << "icon"; });
  auto* main = owner.open<PlainWindow>();
  owner.provide<WindowWithArguments>([] { return std::make_unique<WindowWithArguments>(2); });
  QWidget* later = owner.open<WindowWithArguments>();
  later->show();
  later->repaint();  // a later window's paint counts for nothing
  owner.afterFirstPaint([&] {
    ran << "database";
    owner.afterFirstPaint([&] { ran << "asked by work"; });
  });
  rounds(1);
  EXPECT_TRUE(ran.isEmpty()) << "not before the first window was painted";
  main->show();
  main->repaint();
  EXPECT_TRUE(ran.isEmpty()) << "not within the paint";
  rounds(3);
  EXPECT_EQ(ran, (QStringList{"icon", "database", "asked by work"}));
  main->repaint();
  owner.afterFirstPaint([&] { ran << "late"; });
  EXPECT_EQ(ran.size(), 3) << "work given afterwards waits for the event loop too";
  rounds(5);
  EXPECT_EQ(ran, (QStringList{"icon", "database", "asked by work", "late"})) << "each once";
}

TEST(ButtonBox, RowsAndColumnsHoldTheirPartsInOrderAndEachClickRunsItsOwnHandler) {
  ClickWindow w;
  auto* a = new QPushButton(&w);
  auto* b = new QPushButton(&w);
  QHBoxLayout* row = boxRow({a, kStretch, b});
  QVBoxLayout* column = boxColumn({row, kStretch}, &w);
  EXPECT_EQ(w.layout(), column);
  ASSERT_EQ(row->count(), 3);
  EXPECT_EQ(row->itemAt(0)->widget(), a);
  EXPECT_NE(row->itemAt(1)->spacerItem(), nullptr);
  EXPECT_EQ(row->itemAt(2)->widget(), b);
  ASSERT_EQ(column->count(), 2);
  EXPECT_EQ(column->itemAt(0)->layout(), row);
  EXPECT_NE(column->itemAt(1)->spacerItem(), nullptr);

  QWidget fixed;
  auto* label = new QLineEdit(&fixed);
  EXPECT_EQ(fixedColumn({label, boxRow({kStretch})}, &fixed)->sizeConstraint(), QLayout::SetFixedSize);
  fixed.show();
  EXPECT_EQ(fixed.minimumSize(), fixed.maximumSize()) << "the window takes the column's size only";

  QWidget gridded;
  auto* c = new QLineEdit(&gridded);
  auto* d = new QLineEdit(&gridded);
  QGridLayout* grid = gridRows({{c}, {nullptr, d}}, &gridded);
  EXPECT_EQ(gridded.layout(), grid);
  EXPECT_EQ(grid->itemAtPosition(0, 0)->widget(), c);
  EXPECT_EQ(grid->itemAtPosition(1, 0), nullptr) << "an empty cell";
  EXPECT_EQ(grid->itemAtPosition(1, 1)->widget(), d);

  connectClicks<ClickWindow>(&w, {{a, &ClickWindow::first}, {b, &ClickWindow::second}});
  b->click();
  a->click();
  EXPECT_EQ(w.clicked, QStringLiteral("21"));
}

TEST(StringGrid, TitlesAreMeasuredInTheFaceTheyAreDrawnIn) {
  // Two titles differ in one word: their columns differ by that word's width
  // in the title row's own font, not in a bolder one.
  quelm::StringGrid grid(2, 3, 1);
  grid.setCell(0, 0, QStringLiteral("Dose"));
  grid.setCell(1, 0, QStringLiteral("Dose rate"));
  const QFontMetrics title(grid.horizontalHeader()->font());
  EXPECT_EQ(grid.horizontalHeader()->sectionSizeHint(1) - grid.horizontalHeader()->sectionSizeHint(0),
            title.size(0, QStringLiteral("Dose rate")).width() - title.size(0, QStringLiteral("Dose")).width());
}
