#pragma once

#include "data/module/SignOnAttempts.h"

#include <QDialog>
#include <QString>

#include <optional>
#include <string>

class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velmora {

class LookupCombo;
class Platform;
class Tfmain;

namespace data {
class TDMod;
}

// The sign-on dialog: the operator picks a name from the operator table and
// types a password; a passing check fills the main window's Session, records
// the sign-on and enables the operator's commands. Every other way out ends
// the application.
class TFlogin : public QDialog
{
    Q_OBJECT

public:
    TFlogin(Platform& platform, Tfmain& mainWindow, data::TDMod& dmod, QWidget* parent = nullptr);
    ~TFlogin() override;
    TFlogin(const TFlogin&) = delete;
    TFlogin& operator=(const TFlogin&) = delete;

    // For 更换用户: leaving without a sign-on (the exit button, Escape, the
    // close box, the third failed attempt) closes the dialog and keeps the
    // operator signed on before, instead of ending the application.
    void setKeepsPreviousOperator(bool keep) { m_keepsPreviousOperator = keep; }

    bool loggedIn() const { return m_loggedIn; }
    int attemptCount() const { return m_attemptCount; }

    // Throws the data module's errors; the caller reports them.
    void completeSignOn(qint64 rights);
    void applyRights(qint64 word);

    // What FormShow puts into the password box.
    static QString defaultPassword();
    // The refusals of an operator who is locked out (for so many minutes more) or disabled.
    static QString lockedOutMessage(int minutes);
    static QString disabledMessage();
    // The lock-out counts (DBConn.ini's LockoutAttempts and LockoutMinutes unless set here).
    void setLockoutPolicy(const data::LockoutPolicy& policy) { m_lockout = policy; }
    const data::LockoutPolicy& lockoutPolicy() const { return m_lockout; }
    // Panel 2 of the main window's status bar after a sign-on.
    static QString contactLine();

    // Every close of the dialog passes here (FormCloseQuery).
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void btokClick();
    void btnoClick();
    void FormKeyDown(QObject* watched, QKeyEvent* event, bool& consumed);
    void Edit2KeyPress(QKeyEvent* event);
    bool endsAfterThirdAttempt();
    void showMessage(const QString& text);
    void reportError(const QString& text);
    // Every counted attempt goes into the record of attempts; the first failure to write it is shown once, and
    // never keeps an operator from signing on.
    data::SignOnAttempt attemptFor(const QString& operatorText) const;
    void record(const data::SignOnAttempt& attempt, bool showFailure = true);
    std::optional<int> lockedOutMinutes(const std::string& userid);
    void reportRecordFailure(const QString& error);

    Platform& m_platform;
    Tfmain& m_main;
    data::TDMod& m_dmod;

    QLineEdit* Edit2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* btok = nullptr;
    QPushButton* btno = nullptr;
    LookupCombo* yh = nullptr;

    bool m_loggedIn = false;
    int m_attemptCount = 0;
    bool m_ending = false;
    bool m_keepsPreviousOperator = false;
    bool m_failedOut = false; // the end follows the third failed attempt, not the operator's leaving
    data::LockoutPolicy m_lockout;
    bool m_recordFailureShown = false;
};

} // namespace velmora
