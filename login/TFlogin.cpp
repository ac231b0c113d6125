#include "login/TFlogin.h"

#include "data/Errors.h"
#include "data/module/DMod.h"
#include "data/module/LoginRecord.h"
#include "data/module/OperatorPassword.h"
#include "data/module/Operators.h"
#include "data/module/Rights.h"
#include "login/LookupCombo.h"
#include "mainwin/Tfmain.h"
#include "platform/Platform.h"
#include "settings/ConnectionSettings.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QSysInfo>

#include <exception>
#include <string>

namespace velmora {

namespace {

// The password box masks with '*' whatever the desktop style prefers.
class StarPasswordStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == QStyle::SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// The buttons' two-state glyphs: a tick for signing on, a cross for leaving;
// the second state is the greyed one a disabled button shows.
QIcon buttonGlyph(bool tick)
{
    auto draw = [tick](const QColor& colour) {
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(colour, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        if (tick) {
            painter.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6.5, 12.5), QPointF(13.5, 3.5)}));
        } else {
            painter.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
            painter.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
        }
        return pixmap;
    };
    QIcon icon;
    icon.addPixmap(draw(tick ? QColor(0, 128, 0) : QColor(192, 0, 0)), QIcon::Normal);
    icon.addPixmap(draw(QColor(128, 128, 128)), QIcon::Disabled);
    return icon;
}

bool isEnter(const QKeyEvent* event)
{
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

} // namespace

TFlogin::TFlogin(Platform& platform, Tfmain& mainWindow, data::TDMod& dmod, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_platform(platform), m_main(mainWindow), m_dmod(dmod), m_lockout(readLockoutPolicy(platform.executableFolder()))
{
    setObjectName(QStringLiteral("Flogin"));
    setWindowTitle(QStringLiteral("登录"));
    setFixedSize(321, 138);
    setSizeGripEnabled(false);

    QFont formFont(QStringLiteral("MS Sans Serif"));
    formFont.setPixelSize(11);
    setFont(formFont);
    QFont controlFont(QStringLiteral("MS Sans Serif"));
    controlFont.setPixelSize(13);

    QPalette background = palette();
    background.setColor(QPalette::Window, QApplication::palette("QMenu").color(QPalette::Window));
    setPalette(background);
    setAutoFillBackground(true);

    // yh and Edit2 type with whatever input method the desktop has chosen:
    // Linux has no "中文 (简体) - 全拼" method to ask for by name.
    Edit2 = new QLineEdit(this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setGeometry(144, 56, 121, 22);
    Edit2->setEchoMode(QLineEdit::Password);
    auto* starStyle = new StarPasswordStyle();
    starStyle->setParent(this);
    Edit2->setStyle(starStyle);

    Label1 = new QLabel(QStringLiteral("请选择用户名:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(48, 24, 89, 13);

    Label2 = new QLabel(QStringLiteral("请录入密码"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(48, 64, 89, 13);

    btok = new QPushButton(buttonGlyph(true), QStringLiteral("登录(&P)"), this);
    btok->setObjectName(QStringLiteral("btok"));
    btok->setGeometry(72, 96, 81, 25);

    btno = new QPushButton(buttonGlyph(false), QStringLiteral("退出(Esc)"), this);
    btno->setObjectName(QStringLiteral("btno"));
    btno->setGeometry(184, 96, 89, 25);

    yh = new LookupCombo(this);
    yh->setObjectName(QStringLiteral("yh"));
    yh->setGeometry(144, 16, 121, 22);
    yh->setListSource(&m_dmod.dsuser(), "username", "UserId");
    yh->onError([this](const QString& text) { reportError(text); });

    for (QWidget* control : {static_cast<QWidget*>(Edit2), static_cast<QWidget*>(Label1), static_cast<QWidget*>(Label2),
                             static_cast<QWidget*>(btok), static_cast<QWidget*>(btno), static_cast<QWidget*>(yh)})
        control->setFont(controlFont);

    // Enter is the dialog's own key (see FormKeyDown), not a default button's.
    btok->setAutoDefault(false);
    btno->setAutoDefault(false);

    setTabOrder(yh, Edit2);
    setTabOrder(Edit2, btok);
    setTabOrder(btok, btno);

    // Key preview: the dialog sees each key before the focused control.
    for (QObject* control : {static_cast<QObject*>(yh), static_cast<QObject*>(yh->lineEdit()),
                             static_cast<QObject*>(Edit2), static_cast<QObject*>(btok), static_cast<QObject*>(btno)})
        control->installEventFilter(this);

    connect(btok, &QPushButton::clicked, this, [this] { btokClick(); });
    connect(btno, &QPushButton::clicked, this, [this] { btnoClick(); });
}

TFlogin::~TFlogin() = default;

QString TFlogin::defaultPassword()
{
    return QStringLiteral("1234");
}

QString TFlogin::lockedOutMessage(int minutes)
{
    return QStringLiteral("该用户密码错误次数过多,已被锁定!请%1分钟后再试,或请管理员解锁!").arg(minutes);
}

QString TFlogin::disabledMessage()
{
    return QStringLiteral("该用户已被停用!请与管理员联系!");
}

QString TFlogin::contactLine()
{
    return QStringLiteral("Korvex工作室  联系邮箱: support@korvex.example");
}

void TFlogin::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    FormShow();
}

void TFlogin::FormShow()
{
    m_attemptCount = 0;
    m_loggedIn = false;
    m_ending = false;
    m_failedOut = false;
    try {
        yh->reload();
    } catch (const std::exception& error) {
        reportError(QString::fromUtf8(error.what()));
    }
    yh->setFocus();
    Edit2->setText(defaultPassword());
}

void TFlogin::btokClick()
{
    const QString operatorText = yh->currentText();
    if (operatorText.isEmpty())
        return;
    ++m_attemptCount;
    data::SignOnAttempt attempt = attemptFor(operatorText);

    try {
        data::Dataset& users = m_dmod.tuser();
        // Text that names no operator must not sign on whichever row the
        // dataset happens to stand on; it fails as a wrong password would, so
        // the box tells nobody which names exist.
        const bool sameOperator = !attempt.matchedUserid.empty();
        // A locked-out operator is refused before the password is looked at, so that guessing gets no answer.
        if (const std::optional<int> minutes = sameOperator ? lockedOutMinutes(attempt.matchedUserid) : std::nullopt) {
            attempt.outcome = data::SignOnOutcome::LockedOut;
            record(attempt);
            if (endsAfterThirdAttempt())
                return;
            showMessage(lockedOutMessage(*minutes));
            yh->setFocus();
            return;
        }

        const std::string stored = users.fieldByName("passwords").asString();
        std::int64_t rights = 0;
        try {
            rights = users.fieldByName("able").asLargeInt();
        } catch (const data::ConversionError&) {
            attempt.outcome = data::SignOnOutcome::RightsDamaged;
            record(attempt);
            throw;
        }
        // A stored Argon2id hash or, in older rows, the plain text: one matcher for both.
        const bool passwordMatches = data::operatorPasswordMatches(stored, Edit2->text().toStdString());
        const bool disabled =
            sameOperator && passwordMatches && data::operatorDisabled(m_dmod.ADOCON().backend(), attempt.matchedUserid);

        if (sameOperator && passwordMatches && !disabled && rights > data::RightsThreshold) {
            completeSignOn(rights);
            attempt.outcome = data::SignOnOutcome::SignedOn;
            record(attempt);
            accept();
            return;
        }
        attempt.outcome = !sameOperator || !passwordMatches ? data::SignOnOutcome::WrongPassword
                          : disabled                        ? data::SignOnOutcome::Disabled
                                                            : data::SignOnOutcome::RightsDamaged;
        record(attempt);
        if (endsAfterThirdAttempt())
            return;
        if (!sameOperator || !passwordMatches) {
            showMessage(QStringLiteral("密码不对,请重新录入!"));
            Edit2->setFocus();
            Edit2->selectAll();
        } else if (disabled) {
            showMessage(disabledMessage());
            yh->setFocus();
        } else {
            showMessage(QStringLiteral("你的权限数据被破坏!请与管理员联系重新分配!"));
            yh->setFocus();
        }
    } catch (const std::exception& error) {
        reportError(QString::fromUtf8(error.what()));
    }
}

data::SignOnAttempt TFlogin::attemptFor(const QString& operatorText) const
{
    data::SignOnAttempt attempt;
    attempt.host = QSysInfo::machineHostName().toStdString();
    attempt.typedOperator = operatorText.toStdString();
    try {
        data::Dataset& users = m_dmod.tuser();
        if (!users.active() || users.eof())
            return attempt;
        const QString rowOperator = QString::fromStdString(users.fieldByName("UserId").asString());
        if (operatorText.compare(rowOperator, Qt::CaseInsensitive) == 0) {
            attempt.matchedUserid = rowOperator.trimmed().toStdString();
            attempt.matchedUsername = users.fieldByName("username").asString();
        }
    } catch (const std::exception&) {
        // no row to name: the attempt matched none
    }
    return attempt;
}

void TFlogin::record(const data::SignOnAttempt& attempt, bool showFailure)
{
    try {
        data::recordSignOnAttempt(m_dmod.ADOCON().backend(), attempt);
    } catch (const std::exception& error) {
        if (showFailure)
            reportRecordFailure(QString::fromUtf8(error.what()));
        else
            qWarning("The sign-on attempt could not be recorded: %s", error.what());
    }
}

std::optional<int> TFlogin::lockedOutMinutes(const std::string& userid)
{
    if (!m_lockout.active())
        return std::nullopt;
    try {
        return data::lockedOutMinutes(m_dmod.ADOCON().backend(), userid, m_lockout);
    } catch (const data::DatabaseError& error) {
        // A server that no longer answers fails this attempt as it fails the sign-on's own record.
        if (error.kind() == data::ErrorKind::TimedOut || error.kind() == data::ErrorKind::Connection)
            throw;
        reportRecordFailure(QString::fromUtf8(error.what()));
        return std::nullopt;
    } catch (const std::exception& error) {
        // Without its record the lock-out cannot count; the sign-on goes on as it always did.
        reportRecordFailure(QString::fromUtf8(error.what()));
        return std::nullopt;
    }
}

void TFlogin::reportRecordFailure(const QString& error)
{
    if (m_recordFailureShown)
        return;
    m_recordFailureShown = true;
    showMessage(QStringLiteral("登录尝试记录无法读写,登录不受影响,请通知管理员:\n") + error);
}

void TFlogin::btnoClick()
{
    if (m_ending)
        return;
    m_ending = true;
    // The operator leaves: an attempt under way is recorded as given up. The dialog is going (at the start the
    // program with it), so a failure to write it goes to the log alone.
    if (!m_loggedIn && !m_failedOut && !yh->currentText().isEmpty()) {
        data::SignOnAttempt attempt = attemptFor(yh->currentText());
        attempt.outcome = data::SignOnOutcome::Cancelled;
        record(attempt, false);
    }
    if (!m_keepsPreviousOperator)
        m_platform.requestEnd();
    if (isVisible())
        QDialog::done(QDialog::Rejected);
}

void TFlogin::done(int result)
{
    if (m_loggedIn || m_ending) {
        QDialog::done(result);
        return;
    }
    // FormCloseQuery: leaving before a sign-on (close box, Alt+F4) is leaving
    // the application.
    btno->click();
}

void TFlogin::completeSignOn(qint64 rights)
{
    Session& session = m_main.session();
    data::Dataset& users = m_dmod.tuser();
    data::Field& userid = users.fieldByName("userid");
    if (userid.isNull())
        throw data::ConversionError("Could not convert variant of type (Null) into type (String)");
    session.operatorId = QString::fromStdString(userid.asString());
    session.rightsWord = rights;
    session.sessionNo = 1;
    session.loginRecordId = data::appendLoginRecord(m_dmod, session.sessionNo);
    applyRights(rights);
}

void TFlogin::applyRights(qint64 word)
{
    for (QAction* entry : m_main.topLevelEntries())
        for (QAction* item : Tfmain::itemsOf(entry))
            item->setEnabled(false);

    const std::uint64_t mask = data::rightsMask(word);
    for (int group = 0; group < data::RightsGroupCount; ++group) {
        if (((mask >> group) & 1u) == 0)
            continue;
        for (const QString& name : Tfmain::commandsOfGroup(group))
            if (QAction* command = m_main.command(name))
                command->setEnabled(true);
    }
    for (const QString& name : Tfmain::alwaysAvailableCommands())
        if (QAction* command = m_main.command(name))
            command->setEnabled(true);

    m_loggedIn = true;
    m_main.setPanelText(1, QStringLiteral("操作员:") + m_main.session().operatorId);
    m_main.setPanelText(2, contactLine());
}

void TFlogin::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        btno->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TFlogin::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        bool consumed = false;
        FormKeyDown(watched, key, consumed);
        if (consumed)
            return true;
        if (watched == Edit2 && isEnter(key))
            Edit2KeyPress(key);
    }
    return QDialog::eventFilter(watched, event);
}

// Enter moves on to the next control, as operators expect; in the password box
// it signs on (Edit2KeyPress) and on a button it presses that button.
void TFlogin::FormKeyDown(QObject* watched, QKeyEvent* event, bool& consumed)
{
    if (!isEnter(event))
        return;
    if (watched == yh || watched == yh->lineEdit()) {
        focusNextPrevChild(true);
        consumed = true;
    } else if (watched == btok || watched == btno) {
        static_cast<QPushButton*>(watched)->click();
        consumed = true;
    }
}

void TFlogin::Edit2KeyPress(QKeyEvent* event)
{
    Q_UNUSED(event);
    btok->click();
}

// The third failed attempt says so and closes the dialog as a refusal.
bool TFlogin::endsAfterThirdAttempt()
{
    if (m_attemptCount < 3)
        return false;
    showMessage(QStringLiteral("对不起,你没有通过口令认证!"));
    m_failedOut = true;
    btnoClick();
    return true;
}

void TFlogin::showMessage(const QString& text)
{
    m_platform.messageBox(MessageBoxRequest::ok(text, m_platform.applicationTitle(), MsgIcon::None, this));
}

void TFlogin::reportError(const QString& text)
{
    showErrorReport(m_platform, text, this);
}

} // namespace velmora
