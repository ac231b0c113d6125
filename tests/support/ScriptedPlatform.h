#pragma once

#include "platform/Platform.h"

#include <QList>
#include <QStringList>

#include <chrono>
#include <functional>

namespace velmora::test {

// The platform for tests: answers boxes from a queue, records every box,
// pause and window step in order, and never sleeps or runs an event loop.
class ScriptedPlatform final : public Platform
{
public:
    explicit ScriptedPlatform(QString executableFolder = QString());
    // The folder given with or without its trailing separator.
    void setExecutableFolder(QString folder);

    // Answers for the coming boxes, in order. An unscripted Yes/No box is
    // answered No and an OK box OK, so a broken test cannot loop for ever.
    void queueAnswers(std::initializer_list<MsgAnswer> answers);
    // Runs instead of a modal loop; returns the dialog's result. Without one
    // the dialog is recorded and rejected unseen.
    void onModal(std::function<int(QDialog&)> handler) { m_modalHandler = std::move(handler); }
    void onMessageLoop(std::function<int(QWidget*)> handler) { m_loopHandler = std::move(handler); }
    // As a new run of the program: no end requested, nothing recorded, no answers queued (the title stays).
    void clear()
    {
        m_endRequested = false;
        m_answers.clear();
        m_log.clear();
        m_boxes.clear();
    }

    // Everything asked of the platform, in order: "box <caption>|<text>",
    // "pause <ms>", "modal <objectName>", "repaint <objectName>",
    // "title <title>", "end", "loop <objectName>".
    const QStringList& log() const { return m_log; }
    const QList<MessageBoxRequest>& boxes() const { return m_boxes; }
    QStringList boxTexts() const;

    MsgAnswer messageBox(const MessageBoxRequest& request) override;
    void pause(int milliseconds) override;
    int showModal(QDialog& dialog) override;
    void repaintNow(QWidget& window) override;
    void setApplicationTitle(const QString& title) override;
    QString applicationTitle() const override { return m_title; }
    void requestEnd() override;
    bool endRequested() const override { return m_endRequested; }
    int runMessageLoop(QWidget* mainWindow) override;
    QString executableFolder() const override { return m_folder; }

private:
    QString m_folder;
    QString m_title;
    bool m_endRequested = false;
    QList<MsgAnswer> m_answers;
    QStringList m_log;
    QList<MessageBoxRequest> m_boxes;
    std::function<int(QDialog&)> m_modalHandler;
    std::function<int(QWidget*)> m_loopHandler;
};

// The dialog's own modal loop, for a handler of onModal that lets the dialog run as it would. A dialog still open
// after `limit` is rejected and the test fails, so that a dialog that never ends does not hang the run.
int execWithin(QDialog& dialog, std::chrono::milliseconds limit = std::chrono::seconds(60));

} // namespace velmora::test
