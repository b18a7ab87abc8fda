#pragma once
// The dose archive window's dialogs and its part of the options window.
// Each dialog checks what can be checked as typed (dates in the window's
// form) before it closes, and one that is shown again after the archive
// refused its entries keeps them and says why on its refusal line, with
// dates named as the window names them.
//
// TWearPeriodForm asks for a wear period (assigning) or its last day
// (ending one); TPersonForm for a new person or a new name;
// TArchivePasswordForm for the password of a server; TResolutionForm how a
// read-out on the review list is resolved and why; TNotionalForm for a
// notional dose; TSignoffForm who signs a period; and
// TArchiveOptionsGroupBox is the options window's "Dose archive" group:
// which database is in use, and another one to use, its password never
// shown or stored with it.

#include <QDialog>
#include <QGroupBox>
#include <functional>
#include <optional>
#include <vector>

#include "archive/ArchiveModel.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quelm {
// A line of a dialog that says why its entries were not taken: the
// archive's refusal with its stored times written as the window writes
// dates. Empty hides it.
void ShowRefusal(QLabel* label, const QString& refusal);
// A core failure as a message box of the archive window.
void ShowArchiveFailure(const ArchiveOutcome& outcome);
}  // namespace quelm

class TWearPeriodForm : public QDialog {
  Q_OBJECT
 public:
  explicit TWearPeriodForm(QWidget* parent = nullptr);
  QLineEdit* DosimeterEdit;
  QComboBox* PersonComboBox;
  QLineEdit* FromEdit;
  QLineEdit* ToEdit;  // empty: open to the end (assigning only)
  QLabel* ToLabel;
  QLabel* RefusalLabel;
  QPushButton* OKButton;
  QPushButton* CancelButton;
  // The dialog for the model's decisions: asked again with the refusal, it
  // keeps what was typed. Dates that are no dates keep it open.
  std::optional<quelm::WearPeriod> AskAssign(const quelm::WearPeriod& proposal,
                                             const std::vector<quelm::Person>& persons,
                                             const QString& refusal);
  std::optional<QDateTime> AskEnd(const quelm::WearPeriod& period, const QString& refusal);

 private:
  void showAssign(const quelm::WearPeriod& proposal, const std::vector<quelm::Person>& persons);
  void showEnd(const quelm::WearPeriod& period);
};

class TPersonForm : public QDialog {
  Q_OBJECT
 public:
  explicit TPersonForm(QWidget* parent = nullptr);
  QLineEdit* IdEdit;
  QLineEdit* NameEdit;
  QLabel* RefusalLabel;
  QPushButton* OKButton;
  QPushButton* CancelButton;
  std::optional<quelm::Person> AskNew(const QString& refusal);
  std::optional<QString> AskName(const quelm::Person& person, const QString& refusal);
};

class TArchivePasswordForm : public QDialog {
  Q_OBJECT
 public:
  explicit TArchivePasswordForm(QWidget* parent = nullptr);
  QLabel* ServerDatLabel;
  QLineEdit* PasswordEdit;
  QCheckBox* KeepCheckBox;  // into the password file; else for this session only
  QLabel* RefusalLabel;
  QPushButton* OKButton;
  QPushButton* CancelButton;
  std::optional<quelm::ArchivePassword> Ask(const QString& server, const QString& refusal);
};

// Accept, re-evaluate or exclude a read-out, with the reason (none: the
// dialog stays open). A re-evaluation's window and factor are typed here,
// or shown as the main window's chart set them; the dose they give is
// shown before OK stores it.
class TResolutionForm : public QDialog {
  Q_OBJECT
 public:
  explicit TResolutionForm(QWidget* parent = nullptr);
  QLabel* ReadoutDatLabel;  // which read-out, whose, its dose of record and why it is listed
  QLineEdit* StartEdit;
  QLineEdit* LengthEdit;
  QLineEdit* NormFactEdit;
  QLabel* NewDoseDatLabel;  // what the dose of record becomes
  QLineEdit* ReasonEdit;
  QLabel* RefusalLabel;
  QPushButton* OKButton;
  QPushButton* CancelButton;
  std::optional<quelm::ResolutionRequest> Ask(const quelm::ResolutionRequest& request,
                                              const QString& refusal);

 private:
  QFormLayout* form_;
  QWidget* windowRow_;
};

// A notional dose for a person and a quarter or year: a lost or damaged
// dosimeter's dose entered by hand, with the reason.
class TNotionalForm : public QDialog {
  Q_OBJECT
 public:
  explicit TNotionalForm(QWidget* parent = nullptr);
  QComboBox* PersonComboBox;  // "ID NAME" listed; an id or a name may be typed
  QComboBox* PeriodComboBox;
  QLineEdit* DoseEdit;  // µSv
  QLineEdit* ReasonEdit;
  QLabel* RefusalLabel;
  QPushButton* OKButton;
  QPushButton* CancelButton;
  std::optional<quelm::NotionalRequest> Ask(const quelm::NotionalRequest& proposal,
                                            const std::vector<quelm::Person>& persons,
                                            const QStringList& periods, const QString& refusal);
};

// Who signs a quarter or year; while its read-outs await review, signing
// with them open is a choice of its own.
class TSignoffForm : public QDialog {
  Q_OBJECT
 public:
  explicit TSignoffForm(QWidget* parent = nullptr);
  QLabel* PeriodDatLabel;
  QLabel* OpenItemsDatLabel;
  QCheckBox* WithOpenItemsCheckBox;
  QLineEdit* SignedByEdit;
  QLabel* RefusalLabel;
  QPushButton* OKButton;
  QPushButton* CancelButton;
  std::optional<quelm::SignoffRequest> Ask(const quelm::SignoffRequest& request, const QString& refusal);
};

// The options window's "Dose archive" group.
class TArchiveOptionsGroupBox : public QGroupBox {
  Q_OBJECT
 public:
  explicit TArchiveOptionsGroupBox(QWidget* parent = nullptr);
  QLabel* InUseDatLabel;
  QLineEdit* DatabaseEdit;
  QLineEdit* PasswordEdit;  // never filled from anywhere
  QCheckBox* KeepPasswordCheckBox;
  QLabel* HintLabel;
  QLabel* RefusalLabel;
  // Opens the archive the settings name; a failure keeps the one in use.
  std::function<quelm::ArchiveOutcome(const quelm::ArchiveSettings&)> Open;
  // The configuration file's value into the edit, without a password.
  void Load();
  // Tries another address (and password) first and takes it over into the
  // configuration file only when it opened; otherwise false, the refusal
  // line says why, the options window stays open and the database in use
  // stays. The password goes into the password file or is kept for the
  // session, never into the configuration file.
  bool Accept();
};
