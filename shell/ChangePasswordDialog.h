#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

namespace velmora {

class Platform;
namespace data {
class Backend;
}

// 更换密码: the signed-on operator changes their own password: the old one, checked as the login checks it, and
// the new one twice, stored as the Argon2id hash in one statement (the data layer's changeOwnPassword). Each
// refusal says why and keeps the dialog open; the dialog is accepted once the new password is stored.
class ChangePasswordDialog : public QDialog
{
    Q_OBJECT

public:
    ChangePasswordDialog(Platform& platform, data::Backend& db, QString operatorId, QWidget* parent = nullptr);
    ChangePasswordDialog(const ChangePasswordDialog&) = delete;
    ChangePasswordDialog& operator=(const ChangePasswordDialog&) = delete;

    QLineEdit* oldPassword = nullptr;
    QLineEdit* newPassword = nullptr;
    QLineEdit* newPasswordAgain = nullptr;
    QPushButton* btok = nullptr;
    QPushButton* btcancel = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void btokClick();
    void refuse(const QString& text, QLineEdit* field);

    Platform& m_platform;
    data::Backend& m_db;
    QString m_operatorId;
};

} // namespace velmora
