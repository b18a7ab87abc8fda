#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "base/QtPrompter.h"

using namespace quelm;

namespace {

// Works the modal window that the next exec() shows, from inside its loop.
void whenModal(std::function<void(QWidget*)> act) {
  QTimer::singleShot(0, [act] {
    QWidget* w = QApplication::activeModalWidget();
    ASSERT_NE(w, nullptr);
    act(w);
  });
}

TEST(QtPrompter, MessageBoxesHaveTheIconButtonsAndDefaultOfTheRequest) {
  QtPrompter p;
  struct Case {
    MessageKind kind;
    QMessageBox::Icon icon;
  };
  for (const Case c :
       {Case{MessageKind::Plain, QMessageBox::NoIcon},
        Case{MessageKind::Information, QMessageBox::Information},
        Case{MessageKind::Warning, QMessageBox::Warning}, Case{MessageKind::Error, QMessageBox::Critical},
        Case{MessageKind::Confirmation, QMessageBox::Question}}) {
    whenModal([c](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->icon(), c.icon);
      EXPECT_EQ(box->text(), QStringLiteral("Text"));
      EXPECT_EQ(box->windowTitle(), QStringLiteral("Title"));
      EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
      box->button(QMessageBox::Yes)->click();
    });
    EXPECT_EQ(p.message({c.kind, QStringLiteral("Title"), QStringLiteral("Text"), Yes | No | Cancel, No}),
              Yes);
  }
}

TEST(QtPrompter, EscapeGivesTheCancellingButton) {
  QtPrompter p;
  whenModal([](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
  EXPECT_EQ(p.message({MessageKind::Confirmation, QString(), QStringLiteral("Sure?"), Ok | Cancel, Ok}),
            Cancel);
  whenModal([](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
  EXPECT_EQ(p.message({MessageKind::Error, QString(), QStringLiteral("Failed"), Ok, Ok}), Ok);
}

TEST(QtPrompter, ModalWindowsReturnTheirResultAndCancelWhenClosed) {
  QtPrompter p;
  QDialog d;
  whenModal([](QWidget* w) { static_cast<QDialog*>(w)->done(mrOk); });
  EXPECT_EQ(p.runModal(d), mrOk);
  whenModal([](QWidget* w) { static_cast<QDialog*>(w)->done(mrNo); });
  EXPECT_EQ(p.runModal(d), mrNo);
  whenModal([](QWidget* w) { w->close(); });
  EXPECT_EQ(p.runModal(d), mrCancel);
  QObject notAWindow;
  EXPECT_EQ(p.runModal(notAWindow), mrCancel);
}

TEST(QtPrompter, SaveDialogCarriesTheRequest) {
  QtPrompter p;
  FileRequest r;
  r.title = QStringLiteral("Save log");
  r.filter = QStringLiteral("Text (*.txt);;All files (*)");
  r.directory = QStringLiteral("/tmp");
  r.defaultSuffix = QStringLiteral("txt");
  r.overwritePrompt = false;
  whenModal([](QWidget* w) {
    auto* d = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Save log"));
    EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(d->nameFilters(), (QStringList{"Text (*.txt)", "All files (*)"}));
    EXPECT_EQ(d->defaultSuffix(), QStringLiteral("txt"));
    EXPECT_TRUE(d->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_FALSE(d->filter() & QDir::CaseSensitive);
    d->reject();
  });
  EXPECT_EQ(p.saveFile(r), std::nullopt);
}

}  // namespace
