#include "settings/Tfrm_DBini.h"

#include "platform/Platform.h"
#include "settings/ConnectionSettings.h"
#include "settings/ProfileFile.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPainter>
#include <QPainterPath>
#include <QProxyStyle>
#include <QScreen>
#include <QToolButton>

namespace velmora {

namespace {

const QColor FieldColour(241, 240, 213);

// Masks a password edit with one '#' per character, shown at once.
class HashMaskStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return u'#';
        if (hint == SH_LineEdit_PasswordMaskDelay)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// Spaces and control characters (any Unicode control, DEL and the C1 range too) removed at both ends; the
// login trims operator passwords by another rule, bytes up to the space.
QString trimSpacesAndControlCharacters(const QString& text)
{
    auto isTrimmed = [](QChar c) { return c == u' ' || c.category() == QChar::Other_Control; };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isTrimmed(text.at(begin)))
        ++begin;
    while (end > begin && isTrimmed(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

QPixmap glyphCanvas()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QIcon checkMarkGlyph()
{
    QPixmap pixmap = glyphCanvas();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0, 150, 0), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath tick;
    tick.moveTo(2.5, 8.5);
    tick.lineTo(6.0, 12.5);
    tick.lineTo(13.5, 3.5);
    painter.drawPath(tick);
    return QIcon(pixmap);
}

QIcon openDoorGlyph()
{
    QPixmap pixmap = glyphCanvas();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // The dark doorway, then the door leaf swung open towards the viewer.
    painter.setPen(QPen(QColor(90, 60, 30), 1.0));
    painter.setBrush(QColor(40, 40, 40));
    painter.drawRect(QRectF(4.5, 1.5, 9, 13));
    QPolygonF leaf;
    leaf << QPointF(4.5, 1.5) << QPointF(9.5, 3.5) << QPointF(9.5, 15.5) << QPointF(4.5, 14.5);
    painter.setBrush(QColor(190, 130, 60));
    painter.drawPolygon(leaf);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(250, 220, 80));
    painter.drawEllipse(QPointF(8.2, 9.0), 0.9, 0.9);
    return QIcon(pixmap);
}

} // namespace

Tfrm_DBini::Tfrm_DBini(Platform& platform, QString executableFolder, QWidget* parent)
    : QDialog(parent), m_platform(platform), m_executableFolder(std::move(executableFolder))
{
    setObjectName(QStringLiteral("frm_DBini"));
    setWindowTitle(QStringLiteral("配置数库库连接"));
    // No minimise box: a minimised dialog that the start-up waits for would
    // leave the operator only the splash, which offers no way back to it.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(280, 96);
    QPalette background = palette();
    background.setColor(QPalette::Window, background.color(QPalette::Button));
    setPalette(background);
    setAutoFillBackground(true);
    // Set before the controls exist, so that every one of them inherits it.
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(12);
    setFont(font);

    auto makeLabel = [this](const char* name, const QString& text, int left, int top) {
        auto* label = new QLabel(text, this);
        label->setObjectName(QLatin1String(name));
        label->move(left, top);
        label->adjustSize();
        return label;
    };
    auto makeEdit = [this](const char* name, const QRect& place) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        edit->setGeometry(place);
        QPalette colours = edit->palette();
        colours.setColor(QPalette::Base, FieldColour);
        edit->setPalette(colours);
        edit->installEventFilter(this);
        return edit;
    };
    auto makeButton = [this](const char* name, const QString& text, const QIcon& glyph, const QRect& place) {
        auto* button = new QToolButton(this);
        button->setObjectName(QLatin1String(name));
        button->setText(text);
        button->setIcon(glyph);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setCursor(Qt::PointingHandCursor);
        button->setGeometry(place);
        return button;
    };

    // The fields' Windows input method ("中文 (简体) - 美式键盘") has no
    // counterpart on Linux; the desktop's own input method serves instead.
    Label1 = makeLabel("Label1", QStringLiteral("数据源"), 7, 16);
    Edit_Dns = makeEdit("Edit_Dns", QRect(62, 12, 121, 20));
    Label2 = makeLabel("Label2", QStringLiteral("用户名："), 6, 45);
    edt_UserId = makeEdit("edt_UserId", QRect(62, 39, 121, 20));
    Label4 = makeLabel("Label4", QStringLiteral("密  码："), 6, 69);
    medt_password = makeEdit("medt_password", QRect(62, 67, 122, 20));
    // Owned by the dialog and made after the field, so it outlives the field.
    auto* mask = new HashMaskStyle;
    mask->setParent(this);
    medt_password->setStyle(mask);
    medt_password->setEchoMode(QLineEdit::Password);
    sbtn_sure = makeButton("sbtn_sure", QStringLiteral("确定"), checkMarkGlyph(), QRect(194, 38, 65, 22));
    sbtn_close = makeButton("sbtn_close", QStringLiteral("关闭"), openDoorGlyph(), QRect(195, 67, 65, 22));

    QWidget::setTabOrder(edt_UserId, medt_password);
    QWidget::setTabOrder(medt_password, Edit_Dns);
    edt_UserId->setFocus();

    connect(sbtn_sure, &QToolButton::clicked, this, &Tfrm_DBini::sbtn_sureClick);
    connect(sbtn_close, &QToolButton::clicked, this, &Tfrm_DBini::sbtn_closeClick);

    FormCreate();
}

void Tfrm_DBini::FormCreate()
{
    ConnectionSettings settings(m_executableFolder);
    settings.ReadConnectionSettings(FirstReadDefaults);
    Edit_Dns->setText(settings.DBSource);
    edt_UserId->setText(settings.DBUser);
    medt_password->setText(settings.DBPassword);
}

void Tfrm_DBini::Edit_DnsKeyPress(QChar& key)
{
    if (key == u'\r') {
        key = QChar();
        edt_UserId->setFocus();
    }
}

void Tfrm_DBini::edt_UserIdKeyPress(QChar& key)
{
    if (key == u'\r') {
        key = QChar();
        medt_password->setFocus();
    }
}

void Tfrm_DBini::medt_passwordKeyPress(QChar& key)
{
    if (key == u'\r') {
        key = QChar();
        sbtn_sureClick();
    }
}

void Tfrm_DBini::sbtn_sureClick()
{
    const QString source = trimSpacesAndControlCharacters(Edit_Dns->text());
    const QString user = trimSpacesAndControlCharacters(edt_UserId->text());
    const QString password = trimSpacesAndControlCharacters(medt_password->text());
    if (source.isEmpty()) {
        tell(QStringLiteral("数据源不能为空!"));
        Edit_Dns->setFocus();
        return;
    }
    if (user.isEmpty()) {
        tell(QStringLiteral("用户名不能为空!"));
        edt_UserId->setFocus();
        return;
    }
    if (password.isEmpty()) {
        tell(QStringLiteral("密码不能为空!"));
        medt_password->setFocus();
        return;
    }
    // A line break or NUL (pasted in) cannot stand in a line of the settings
    // file; say which field holds one rather than blame the file.
    const struct
    {
        const QString& value;
        const char16_t* label;
        QLineEdit* field;
    } fields[] = {{source, u"数据源", Edit_Dns}, {user, u"用户名", edt_UserId}, {password, u"密码", medt_password}};
    for (const auto& f : fields) {
        if (f.value.contains(u'\n') || f.value.contains(u'\r') || f.value.contains(QChar(u'\0'))) {
            tell(QString::fromUtf16(f.label) + QStringLiteral("不能包含换行符或空字符!"));
            f.field->setFocus();
            return;
        }
    }
    ConnectionSettings settings(m_executableFolder);
    settings.DBSource = source;
    settings.DBUser = user;
    settings.DBPassword = password;
    try {
        settings.WriteConnectionSettings();
    } catch (const ProfileError& error) {
        showErrorReport(m_platform, error.message());
        return;
    }
    close();
}

void Tfrm_DBini::sbtn_closeClick()
{
    close();
}

void Tfrm_DBini::tell(const QString& text)
{
    // Owned by the application's own window, not by the dialog.
    m_platform.messageBox(MessageBoxRequest::ok(text, QStringLiteral("提示"), MsgIcon::Information));
}

bool Tfrm_DBini::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const auto* keyEvent = static_cast<QKeyEvent*>(event);
    QChar key;
    if (keyEvent->key() == Qt::Key_Return || keyEvent->key() == Qt::Key_Enter)
        key = u'\r';
    else if (!keyEvent->text().isEmpty())
        key = keyEvent->text().front();
    else
        return QDialog::eventFilter(watched, event);

    if (watched == Edit_Dns)
        Edit_DnsKeyPress(key);
    else if (watched == edt_UserId)
        edt_UserIdKeyPress(key);
    else if (watched == medt_password)
        medt_passwordKeyPress(key);
    return key.isNull() || QDialog::eventFilter(watched, event);
}

void Tfrm_DBini::keyPressEvent(QKeyEvent* event)
{
    // No cancel button: Escape does nothing. Only the close box and sbtn_close close.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Tfrm_DBini::showEvent(QShowEvent* event)
{
    if (!m_placed) {
        m_placed = true;
        placeAtCentre();
    }
    QDialog::showEvent(event);
}

// Over the application's main window when one is on the screen, else in the
// middle of the screen.
void Tfrm_DBini::placeAtCentre()
{
    QRect area;
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (window != this && qobject_cast<QMainWindow*>(window) != nullptr && window->isVisible()) {
            area = window->frameGeometry();
            break;
        }
    }
    if (!area.isValid()) {
        QScreen* screen = QGuiApplication::primaryScreen();
        if (screen == nullptr)
            return;
        area = screen->availableGeometry();
    }
    QRect frame = frameGeometry();
    frame.moveCenter(area.center());
    move(frame.topLeft());
}

} // namespace velmora
