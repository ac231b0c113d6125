#include "shell/ChangePasswordDialog.h"

#include "data/module/Operators.h"
#include "platform/Platform.h"
#include "shell/OperatorTexts.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>

namespace velmora {

namespace {

QLineEdit* passwordField(QWidget* parent, const char* name)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setEchoMode(QLineEdit::Password);
    field->setMinimumWidth(180);
    return field;
}

} // namespace

ChangePasswordDialog::ChangePasswordDialog(Platform& platform, data::Backend& db, QString operatorId, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_platform(platform), m_db(db), m_operatorId(std::move(operatorId))
{
    setObjectName(QStringLiteral("Fmm"));
    setWindowTitle(QStringLiteral("更换密码"));

    oldPassword = passwordField(this, "oldPassword");
    newPassword = passwordField(this, "newPassword");
    newPasswordAgain = passwordField(this, "newPasswordAgain");
    btok = new QPushButton(QStringLiteral("确定"), this);
    btok->setObjectName(QStringLiteral("btok"));
    btcancel = new QPushButton(QStringLiteral("取消"), this);
    btcancel->setObjectName(QStringLiteral("btcancel"));
    // Enter moves on from field to field and confirms in the last one (see eventFilter), not a default button.
    btok->setAutoDefault(false);
    btcancel->setAutoDefault(false);
    connect(btok, &QPushButton::clicked, this, [this] { btokClick(); });
    connect(btcancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("操作员:"), new QLabel(m_operatorId, this));
    fields->addRow(QStringLiteral("原密码:"), oldPassword);
    fields->addRow(QStringLiteral("新密码:"), newPassword);
    fields->addRow(QStringLiteral("再输一次新密码:"), newPasswordAgain);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btok);
    buttons->addWidget(btcancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    for (QLineEdit* field : {oldPassword, newPassword, newPasswordAgain})
        field->installEventFilter(this);
    oldPassword->setFocus();
}

bool ChangePasswordDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (watched == newPasswordAgain)
                btokClick();
            else
                focusNextPrevChild(true);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ChangePasswordDialog::refuse(const QString& text, QLineEdit* field)
{
    m_platform.messageBox(MessageBoxRequest::ok(text, QStringLiteral("提示"), MsgIcon::Warning, this));
    field->setFocus();
    field->selectAll();
}

void ChangePasswordDialog::btokClick()
{
    const std::string typedNew = newPassword->text().toStdString();
    if (newPassword->text() != newPasswordAgain->text()) {
        refuse(QStringLiteral("两次输入的新密码不一样,请重新录入!"), newPasswordAgain);
        return;
    }
    if (const QString weak = weaknessMessage(data::passwordWeakness(typedNew)); !weak.isEmpty()) {
        refuse(QStringLiteral("新") + weak, newPassword);
        return;
    }
    try {
        data::changeOwnPassword(m_db, m_operatorId.toStdString(), oldPassword->text().toStdString(), typedNew);
    } catch (const data::OperatorError& error) {
        refuse(operatorErrorText(error, m_operatorId, QString()),
               error.kind() == data::OperatorErrorKind::WrongPassword ? oldPassword : newPassword);
        return;
    } catch (const std::exception& error) {
        showErrorReport(m_platform, QString::fromUtf8(error.what()), this);
        return;
    }
    m_platform.messageBox(MessageBoxRequest::ok(QStringLiteral("密码已经更换。以后登录请用新密码。"),
                                                QStringLiteral("提示"), MsgIcon::Information, this));
    accept();
}

} // namespace velmora
