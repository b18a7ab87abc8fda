#pragma once
// Working the content page as an operator does, shared by the tests with a
// data file and with the reader as source.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <vector>

#include "ScriptedPrompter.h"
#include "evaluation/SearchForm.h"
#include "shell/PgcForm.h"
#include "base/StringGrid.h"

namespace quelm::test {

// Runs the search; `fill` works the search window before "Ok".
inline void RunSearch(ScriptedPrompter& prompter, TPgcForm& form,
                      const std::function<void(TSearchForm&)>& fill) {
  prompter.modalHandlers[QStringLiteral("SearchForm")] = [fill](QObject& w) {
    auto& f = static_cast<TSearchForm&>(w);
    fill(f);
    f.OkButton->click();
    return f.Accepted ? int{mrOk} : int{mrCancel};
  };
  form.FilterButton->click();
}

// Replaces an edit's text by typing.
inline void TypeInto(QLineEdit* edit, const QString& text) {
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, text);
}

// Block numbers of the filled list rows, top to bottom.
inline std::vector<int> ListedBlocks(const StringGrid* grid) {
  std::vector<int> v;
  for (int r = 1; r <= 20 && !grid->cell(0, r).isEmpty(); ++r) v.push_back(grid->cell(0, r).toInt());
  return v;
}

inline void ActivateWindow(QWidget* window) {
  window->show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
}

}  // namespace quelm::test
