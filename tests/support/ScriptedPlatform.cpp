#include "tests/support/ScriptedPlatform.h"

#include <QDialog>
#include <QTimer>
#include <QWidget>
#include <QtTest>

namespace velmora::test {

ScriptedPlatform::ScriptedPlatform(QString executableFolder)
{
    setExecutableFolder(std::move(executableFolder));
}

void ScriptedPlatform::setExecutableFolder(QString folder)
{
    m_folder = std::move(folder);
    if (!m_folder.isEmpty() && !m_folder.endsWith(QLatin1Char('/')))
        m_folder += QLatin1Char('/');
}

void ScriptedPlatform::queueAnswers(std::initializer_list<MsgAnswer> answers)
{
    for (MsgAnswer answer : answers)
        m_answers.append(answer);
}

MsgAnswer ScriptedPlatform::messageBox(const MessageBoxRequest& request)
{
    m_boxes.append(request);
    m_log.append(QStringLiteral("box %1|%2").arg(request.caption, request.text));
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    return request.buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
}

QStringList ScriptedPlatform::boxTexts() const
{
    QStringList texts;
    for (const MessageBoxRequest& box : m_boxes)
        texts << box.text;
    return texts;
}

void ScriptedPlatform::pause(int milliseconds)
{
    m_log.append(QStringLiteral("pause %1").arg(milliseconds));
}

int execWithin(QDialog& dialog, std::chrono::milliseconds limit)
{
    bool tooLong = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &dialog, [&] {
        tooLong = true;
        dialog.done(QDialog::Rejected);
    });
    guard.start(limit);
    const int result = dialog.exec();
    if (tooLong)
        QTest::qFail(
            qPrintable(
                QStringLiteral("%1 was still open after %2 ms").arg(dialog.objectName()).arg(qint64(limit.count()))),
            __FILE__, __LINE__);
    return result;
}

int ScriptedPlatform::showModal(QDialog& dialog)
{
    m_log.append(QStringLiteral("modal %1").arg(dialog.objectName()));
    if (m_endRequested)
        return QDialog::Rejected;
    return m_modalHandler ? m_modalHandler(dialog) : int(QDialog::Rejected);
}

void ScriptedPlatform::repaintNow(QWidget& window)
{
    m_log.append(QStringLiteral("repaint %1").arg(window.objectName()));
}

void ScriptedPlatform::setApplicationTitle(const QString& title)
{
    m_title = title;
    m_log.append(QStringLiteral("title %1").arg(title));
}

void ScriptedPlatform::requestEnd()
{
    m_endRequested = true;
    m_log.append(QStringLiteral("end"));
}

int ScriptedPlatform::runMessageLoop(QWidget* mainWindow)
{
    m_log.append(QStringLiteral("loop %1").arg(mainWindow ? mainWindow->objectName() : QString()));
    if (m_endRequested || mainWindow == nullptr)
        return 0;
    return m_loopHandler ? m_loopHandler(mainWindow) : 0;
}

} // namespace velmora::test
