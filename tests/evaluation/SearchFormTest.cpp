#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <cstring>

#include "ScriptedPrompter.h"
#include "base/DateText.h"
#include "evaluation/NavForm.h"
#include "evaluation/SearchCriteria.h"
#include "evaluation/SearchForm.h"

using namespace quelm;
using quelm::test::ScriptedPrompter;

namespace {

const QString kFromMessage = QStringLiteral("Invalid time. The expected format: 2006.06.24 15:30");
const QString kToMessage = QStringLiteral("Invalid time. The expected format: 2005.06.24 15:30");

class SearchFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form.Request.Flags = kSearchByDate;
    form.Request.StartBlock = 1234;
    form.Request.FromBlock = 17;
    const uint8_t from[5] = {106, 1, 1, 0, 0}, to[5] = {106, 6, 24, 15, 30};
    std::memcpy(form.Request.DateFrom, from, 5);
    std::memcpy(form.Request.DateTo, to, 5);
    form.FormActivate();
  }
  static void retype(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
  }

  ScriptedPrompter prompter;
  TSearchForm form;
};

TEST_F(SearchFormTest, ShowsTheRequestWithoutTickingAnythingElse) {
  EXPECT_FALSE(form.IndexCheckBox->isChecked());
  EXPECT_TRUE(form.TimeCheckBox->isChecked());
  EXPECT_FALSE(form.KeyCheckBox->isChecked());
  EXPECT_EQ(form.FromCSpinEdit->text(), "17");
  EXPECT_EQ(form.UntilCSpinEdit->text(), "1234");
  EXPECT_EQ(form.FromEdit->text(), "2006.01.01 00:00");
  EXPECT_EQ(form.UntilEdit->text(), "2006.06.24 15:30");
  EXPECT_EQ(form.KeyEdit->text(), "A0000");
  EXPECT_EQ(form.FromValue, 17u);
  EXPECT_EQ(form.ToValue, 1234u);
  EXPECT_EQ(form.windowTitle(), "Search");
  EXPECT_EQ(form.EnableGroupBox->title(), "Enable search by");
  EXPECT_EQ(form.ConditionGroupBox->title(), "Condition");
}

TEST_F(SearchFormTest, TypingABlockNumberTicksBlockNoAndOnlyDigitsAndLowerCharactersPass) {
  retype(form.UntilCSpinEdit, QStringLiteral("5a0Z"));
  EXPECT_EQ(form.UntilCSpinEdit->text(), "50");
  EXPECT_TRUE(form.IndexCheckBox->isChecked());
  EXPECT_EQ(form.ToValue, 50u);
  QTest::keyClicks(form.UntilCSpinEdit, QStringLiteral("-"));
  EXPECT_EQ(form.UntilCSpinEdit->text(), "50-");
  EXPECT_EQ(form.ToValue, 0u);  // not a number
  // At most four characters.
  retype(form.FromCSpinEdit, QStringLiteral("123456"));
  EXPECT_EQ(form.FromCSpinEdit->text(), "1234");
  // An emptied field keeps the number it held last.
  retype(form.FromCSpinEdit, QStringLiteral("12"));
  form.FromCSpinEdit->selectAll();
  QTest::keyClick(form.FromCSpinEdit, Qt::Key_Backspace);
  EXPECT_EQ(form.FromCSpinEdit->text(), "");
  EXPECT_EQ(form.FromValue, 12u);
}

TEST_F(SearchFormTest, TheDosimeterKeyIsUpperCasedAndTicksDosimeter) {
  retype(form.KeyEdit, QStringLiteral("a0001"));
  EXPECT_EQ(form.KeyEdit->text(), "A0001");
  EXPECT_TRUE(form.KeyCheckBox->isChecked());
  EXPECT_FALSE(form.IndexCheckBox->isChecked());
  retype(form.KeyEdit, QStringLiteral("bgnd12"));
  EXPECT_EQ(form.KeyEdit->text(), "BGND1");
}

TEST_F(SearchFormTest, OkTakesOverTheWholeRequest) {
  retype(form.FromCSpinEdit, QStringLiteral("10"));
  retype(form.UntilCSpinEdit, QStringLiteral("50"));
  retype(form.KeyEdit, QStringLiteral("b0101"));
  form.UntilEdit->setText(QStringLiteral("2006.06.24 24:00"));
  form.Request.Flags = kSearchByDate | kSearchForward;
  form.OkButton->click();
  EXPECT_EQ(form.Accepted, 1);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(int{form.Request.FromBlock}, 10);
  EXPECT_EQ(int{form.Request.StartBlock}, 50);
  EXPECT_EQ(form.LowerLimit, 10);
  EXPECT_EQ(form.UpperLimit, 50);
  EXPECT_EQ(DateText(FromStamp(form.Request.DateFrom)), "2006.01.01 00:00");
  EXPECT_EQ(DateText(FromStamp(form.Request.DateTo)), "2006.06.24 24:00");
  EXPECT_EQ(std::memcmp(form.Request.Dosimeter, "B0101", 5), 0);
  EXPECT_EQ(int{form.Request.Flags}, kSearchByNumber | kSearchByDate | kSearchByDosimeter);
  EXPECT_EQ(form.RequestLength, 20);
}

TEST_F(SearchFormTest, UntickingEveryCriterionSearchesWithoutFilter) {
  form.TimeCheckBox->setChecked(false);
  form.KeyEdit->setText(QStringLiteral("A1"));
  form.OkButton->click();
  EXPECT_EQ(int{form.Request.Flags}, 0);
  const char key[5] = {'A', '1', 0, 0, 0};
  EXPECT_EQ(std::memcmp(form.Request.Dosimeter, key, 5), 0);
}

TEST_F(SearchFormTest, ABadDateIsRefusedWithItsMessageAndChangesNothing) {
  const SearchRequest before = form.Request;
  retype(form.UntilCSpinEdit, QStringLiteral("99"));
  form.FromEdit->setText(QStringLiteral("2006.02.30 10:00"));
  form.OkButton->click();
  ASSERT_EQ(prompter.texts(), QStringList{kFromMessage});
  EXPECT_EQ(form.Accepted, 0);
  EXPECT_EQ(std::memcmp(&form.Request, &before, sizeof before), 0);
  EXPECT_EQ(form.UpperLimit, 0);

  prompter.clear();
  form.FromEdit->setText(QStringLiteral("1999.06.24 15:30"));  // moved to 2000
  form.UntilEdit->setText(QStringLiteral("2006.06.24 15:3"));  // too short
  form.OkButton->click();
  ASSERT_EQ(prompter.texts(), QStringList{kToMessage});
  EXPECT_EQ(form.Accepted, 0);
  EXPECT_EQ(std::memcmp(&form.Request, &before, sizeof before), 0);

  prompter.clear();
  form.UntilEdit->setText(QStringLiteral("2006.06.24 15:30"));
  form.OkButton->click();
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(form.Accepted, 1);
  EXPECT_EQ(DateText(FromStamp(form.Request.DateFrom)), "2000.06.24 15:30");
  EXPECT_EQ(int{form.Request.StartBlock}, 99);
}

TEST_F(SearchFormTest, ABlockNumberBeyondTheReadersOrNoNumberIsRefusedAndChangesNothing) {
  const SearchRequest before = form.Request;
  for (const char* typed : {"5000", "2048", "1-5", "--"}) {
    prompter.clear();
    retype(form.UntilCSpinEdit, QLatin1String(typed));
    form.OkButton->click();
    EXPECT_EQ(prompter.texts(),
              QStringList{
                  QStringLiteral("A block number is a whole number from 0 to 2047, not \"%1\"").arg(typed)});
    EXPECT_EQ(form.Accepted, 0);
    EXPECT_EQ(std::memcmp(&form.Request, &before, sizeof before), 0) << typed;
  }
  prompter.clear();
  retype(form.UntilCSpinEdit, QStringLiteral("2047"));
  form.OkButton->click();
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(int{form.Request.StartBlock}, 2047);
}

TEST_F(SearchFormTest, EnterInAFieldActsAsOk) {
  for (QLineEdit* edit :
       {form.FromCSpinEdit, form.UntilCSpinEdit, form.KeyEdit, form.FromEdit, form.UntilEdit}) {
    form.Accepted = 0;
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(form.Accepted, 1) << edit->objectName().toStdString();
  }
  form.Accepted = 0;
  form.FromEdit->setText(QStringLiteral("garbage"));
  QTest::keyClick(form.KeyEdit, Qt::Key_Enter);
  EXPECT_EQ(form.Accepted, 0);
  EXPECT_EQ(prompter.texts(), QStringList{kFromMessage});
}

TEST_F(SearchFormTest, ExecuteFillsTheWindowAndReportsOkOnly) {
  form.Request.StartBlock = 77;
  int shown = 0;
  prompter.modalHandlers[QStringLiteral("SearchForm")] = [&](QObject& w) {
    auto& f = static_cast<TSearchForm&>(w);
    ++shown;
    EXPECT_EQ(f.UntilCSpinEdit->text(), "77");
    EXPECT_EQ(f.Accepted, 0);
    return int{mrCancel};
  };
  form.Accepted = 1;
  EXPECT_EQ(form.Execute(), 0);
  EXPECT_EQ(shown, 1);

  prompter.modalHandlers[QStringLiteral("SearchForm")] = [](QObject& w) {
    static_cast<TSearchForm&>(w).OkButton->click();
    return int{mrOk};
  };
  EXPECT_EQ(form.Execute(), 1);
  EXPECT_EQ(int{form.Request.StartBlock}, 77);
  EXPECT_EQ(form.UpperLimit, 77);
}

TEST(NavForm, ListsTheKeysAndAnyClickCloses) {
  ScriptedPrompter prompter;
  TNavForm nav;
  const QStringList expected = {"First Block         Home", "Next Page          PgUp",
                                "Previous Page   PgDown",   "Last Block          End",
                                "Next Item            Up",  "Previous Item    Down"};
  QStringList lines;
  for (int i = 0; i < nav.NavListBox->count(); ++i) lines << nav.NavListBox->item(i)->text();
  EXPECT_EQ(lines, expected);

  prompter.modalHandlers[QStringLiteral("NavForm")] = [](QObject& w) {
    auto& n = static_cast<TNavForm&>(w);
    n.show();
    const QRect r = n.NavListBox->visualItemRect(n.NavListBox->item(4));
    QTest::mouseClick(n.NavListBox->viewport(), Qt::LeftButton, {}, r.center());
    EXPECT_FALSE(n.isVisible());
    return n.result();
  };
  nav.Execute();
  EXPECT_EQ(prompter.modalWindows, QStringList{"NavForm"});
  EXPECT_EQ(nav.result(), QDialog::Accepted);
}

}  // namespace
