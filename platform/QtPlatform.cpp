#include "platform/QtPlatform.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFont>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QThread>
#include <QTranslator>
#include <QWidget>

namespace velmora {

namespace {

QMessageBox::Icon toQtIcon(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Warning:
        return QMessageBox::Warning;
    case MsgIcon::Error:
        return QMessageBox::Critical;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

QtPlatform::QtPlatform(QApplication& app) : m_app(app) {}

MsgAnswer QtPlatform::messageBox(const MessageBoxRequest& request)
{
    QWidget* owner = request.owner ? request.owner : QApplication::activeWindow();
    QMessageBox box(toQtIcon(request.icon), request.caption, request.text, QMessageBox::NoButton, owner);
    if (request.buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(request.defaultButton == MsgAnswer::No ? QMessageBox::No : QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
    }
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::No:
        return MsgAnswer::No;
    case QMessageBox::Ok:
        return MsgAnswer::Ok;
    default:
        return MsgAnswer::Failed;
    }
}

void QtPlatform::pause(int milliseconds)
{
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

int QtPlatform::showModal(QDialog& dialog)
{
    if (m_endRequested)
        return QDialog::Rejected;
    return dialog.exec();
}

void QtPlatform::repaintNow(QWidget& window)
{
    window.repaint();
}

void QtPlatform::setApplicationTitle(const QString& title)
{
    QApplication::setApplicationDisplayName(title);
}

QString QtPlatform::applicationTitle() const
{
    return QApplication::applicationDisplayName();
}

void QtPlatform::requestEnd()
{
    m_endRequested = true;
    // A modal dialog open now returns from its loop; the message loop, if it
    // runs, ends too.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    }
    QCoreApplication::quit();
}

int QtPlatform::runMessageLoop(QWidget* mainWindow)
{
    if (m_endRequested || mainWindow == nullptr)
        return 0;
    if (!mainWindow->isVisible())
        mainWindow->show();
    QApplication::setQuitOnLastWindowClosed(true);
    return m_app.exec();
}

QString QtPlatform::executableFolder() const
{
    QString folder = QCoreApplication::applicationDirPath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

void installChineseUi(QApplication& app)
{
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);

    // The windows name their Windows fonts; these are the installed faces
    // closest to each.
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               {QStringLiteral("AR PL UMing CN"), QStringLiteral("WenQuanYi Micro Hei")});
    QFont::insertSubstitutions(QStringLiteral("楷体_GB2312"),
                               {QStringLiteral("AR PL UKai CN"), QStringLiteral("WenQuanYi Micro Hei")});
    QFont::insertSubstitutions(QStringLiteral("幼圆"), {QStringLiteral("WenQuanYi Micro Hei")});
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), {QStringLiteral("WenQuanYi Micro Hei")});
}

} // namespace velmora
