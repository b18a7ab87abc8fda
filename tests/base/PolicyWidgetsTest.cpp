#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <QVBoxLayout>

#include "base/BusyCursor.h"
#include "base/EnterMovesOn.h"

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
