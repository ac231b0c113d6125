#include "settings/Tfrm_DBini.h"

#include "settings/ProfileFile.h"
#include "tests/support/ScriptedPlatform.h"

#include "tests/support/FileSizeLimit.h"
#include "tests/support/QtFiles.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QScopeGuard>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <memory>
#include <optional>

using namespace velmora;
using namespace velmora::test;

class TestFrmDbini : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ScriptedPlatform> m_platform;
    QString m_folder;

    QString iniPath() const { return m_folder + QStringLiteral("DBConn.ini"); }

    // A dialog shown and active, as after its modal showing began.
    std::unique_ptr<Tfrm_DBini> open()
    {
        auto dialog = std::make_unique<Tfrm_DBini>(*m_platform, m_folder);
        dialog->show();
        dialog->activateWindow();
        if (!QTest::qWaitForWindowActive(dialog.get()))
            qWarning("dialog did not become active");
        return dialog;
    }

    static QLineEdit* edit(QWidget* dialog, const char* name) { return dialog->findChild<QLineEdit*>(name); }
    static QToolButton* button(QWidget* dialog, const char* name) { return dialog->findChild<QToolButton*>(name); }

    static void setFields(QWidget* dialog, const QString& source, const QString& user, const QString& password)
    {
        edit(dialog, "Edit_Dns")->setText(source);
        edit(dialog, "edt_UserId")->setText(user);
        edit(dialog, "medt_password")->setText(password);
    }

    static QStringList fields(QWidget* dialog)
    {
        return {edit(dialog, "Edit_Dns")->text(), edit(dialog, "edt_UserId")->text(),
                edit(dialog, "medt_password")->text()};
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_folder = m_dir->path() + u'/';
        m_platform = std::make_unique<ScriptedPlatform>(m_folder);
        m_platform->setApplicationTitle(QStringLiteral("Velmora"));
    }

    void layoutAsDesigned()
    {
        auto dialog = open();
        QCOMPARE(dialog->objectName(), QStringLiteral("frm_DBini"));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("配置数库库连接"));
        QCOMPARE(dialog->size(), QSize(280, 96));
        QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
        const Qt::WindowFlags flags = dialog->windowFlags();
        QVERIFY(flags & Qt::WindowSystemMenuHint);
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QCOMPARE(dialog->palette().color(QPalette::Window), dialog->palette().color(QPalette::Button));

        const struct
        {
            const char* name;
            QPoint place;
            QString text;
        } labels[] = {{"Label1", {7, 16}, QStringLiteral("数据源")},
                      {"Label2", {6, 45}, QStringLiteral("用户名：")},
                      {"Label4", {6, 69}, QStringLiteral("密  码：")}};
        for (const auto& l : labels) {
            auto* label = dialog->findChild<QLabel*>(l.name);
            QVERIFY2(label != nullptr, l.name);
            QCOMPARE(label->pos(), l.place);
            QCOMPARE(label->text(), l.text);
        }
        const struct
        {
            const char* name;
            QRect place;
        } edits[] = {
            {"Edit_Dns", {62, 12, 121, 20}}, {"edt_UserId", {62, 39, 121, 20}}, {"medt_password", {62, 67, 122, 20}}};
        for (const auto& e : edits) {
            QLineEdit* field = edit(dialog.get(), e.name);
            QVERIFY2(field != nullptr, e.name);
            QCOMPARE(field->geometry(), e.place);
            QCOMPARE(field->palette().color(QPalette::Base), QColor(241, 240, 213));
        }
        const struct
        {
            const char* name;
            QRect place;
            QString text;
        } buttons[] = {{"sbtn_sure", {194, 38, 65, 22}, QStringLiteral("确定")},
                       {"sbtn_close", {195, 67, 65, 22}, QStringLiteral("关闭")}};
        for (const auto& b : buttons) {
            QToolButton* tool = button(dialog.get(), b.name);
            QVERIFY2(tool != nullptr, b.name);
            QCOMPARE(tool->geometry(), b.place);
            QCOMPARE(tool->text(), b.text);
            QVERIFY(!tool->icon().isNull());
            QVERIFY(tool->autoRaise());
            QCOMPARE(tool->focusPolicy(), Qt::NoFocus);
            QCOMPARE(tool->cursor().shape(), Qt::PointingHandCursor);
        }
        const auto children = dialog->findChildren<QWidget*>();
        for (QWidget* child : children) {
            QCOMPARE(child->font().family(), QStringLiteral("宋体"));
            QCOMPARE(child->font().pixelSize(), 12);
        }
    }

    void placedAtTheCentre()
    {
        {
            auto dialog = open();
            const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
            QVERIFY((dialog->frameGeometry().center() - screen.center()).manhattanLength() <= 1);
        }
        QMainWindow mainWindow;
        mainWindow.setGeometry(40, 30, 500, 400);
        mainWindow.show();
        QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
        auto dialog = open();
        QVERIFY((dialog->frameGeometry().center() - mainWindow.frameGeometry().center()).manhattanLength() <= 1);
    }

    void firstReadDefaultsWithoutFile()
    {
        auto dialog = open();
        QCOMPARE(fields(dialog.get()), (QStringList{"data/velmdb.mdb", "admin", "mivotelq"}));
        QCOMPARE(edit(dialog.get(), "medt_password")->displayText(), QStringLiteral("########"));
        QVERIFY(!QFile::exists(iniPath()));
    }

    void loadsTheFileUntrimmed()
    {
        ProfileFile(iniPath()).writeStrings("Velmora", {{"DB_Source", " shop.mdb "}, {"DB_User", "boss "}});
        auto dialog = open();
        QCOMPARE(fields(dialog.get()), (QStringList{" shop.mdb ", "boss ", "mivotelq"}));
    }

    void passwordShowsOneHashPerCharacter()
    {
        auto dialog = open();
        QLineEdit* password = edit(dialog.get(), "medt_password");
        QTest::keyClick(dialog.get(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), password);
        password->selectAll();
        QTest::keyClicks(password, QStringLiteral("s3 cr;t"));
        QCOMPARE(password->text(), QStringLiteral("s3 cr;t"));
        QCOMPARE(password->displayText(), QStringLiteral("#######"));
    }

    void focusStartsInUserIdAndTabGoesAround()
    {
        auto dialog = open();
        const QStringList expected{"edt_UserId", "medt_password", "Edit_Dns", "edt_UserId"};
        QCOMPARE(QApplication::focusWidget()->objectName(), expected.front());
        for (qsizetype i = 1; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), expected.at(i));
        }
    }

    void enterMovesFocusAlong()
    {
        auto dialog = open();
        QTest::mouseClick(edit(dialog.get(), "Edit_Dns"), Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Edit_Dns"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("edt_UserId"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter); // the keypad's Enter
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("medt_password"));
        QCOMPARE(fields(dialog.get()), (QStringList{"data/velmdb.mdb", "admin", "mivotelq"}));
        QVERIFY(dialog->isVisible());
        QVERIFY(!QFile::exists(iniPath()));
        QVERIFY(m_platform->boxes().isEmpty());
    }

    void typedCharactersReachTheFields()
    {
        auto dialog = open();
        QLineEdit* user = edit(dialog.get(), "edt_UserId");
        user->selectAll();
        QTest::keyClicks(user, QStringLiteral("Ad min#;="));
        QCOMPARE(user->text(), QStringLiteral("Ad min#;="));
    }

    void checksInOrder_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        const QString noSource = QStringLiteral("数据源不能为空!");
        const QString noUser = QStringLiteral("用户名不能为空!");
        const QString noPassword = QStringLiteral("密码不能为空!");
        QTest::newRow("all empty") << ""
                                   << ""
                                   << "" << noSource << "Edit_Dns";
        QTest::newRow("only source empty") << ""
                                           << "admin"
                                           << "pw" << noSource << "Edit_Dns";
        QTest::newRow("source blanks only") << "   "
                                            << "admin"
                                            << "pw" << noSource << "Edit_Dns";
        QTest::newRow("source control characters") << "\t\x01 \x7f"
                                                   << "admin"
                                                   << "pw" << noSource << "Edit_Dns";
        QTest::newRow("user empty") << "a.mdb"
                                    << ""
                                    << "" << noUser << "edt_UserId";
        QTest::newRow("user blanks only") << "a.mdb"
                                          << "  \t"
                                          << "pw" << noUser << "edt_UserId";
        QTest::newRow("password empty") << "a.mdb"
                                        << "admin"
                                        << "" << noPassword << "medt_password";
        QTest::newRow("password blanks only") << "a.mdb"
                                              << "admin"
                                              << "    " << noPassword << "medt_password";
        // A line break or NUL cannot stand in the settings file; the field
        // that holds one is named, after the checks for empty fields.
        const QString breakIn = QStringLiteral("不能包含换行符或空字符!");
        QTest::newRow("line break in source") << "a\nb.mdb"
                                              << "admin"
                                              << "pw"
                                              << "数据源" + breakIn << "Edit_Dns";
        QTest::newRow("carriage return in user") << "a.mdb"
                                                 << "ad\rmin"
                                                 << "pw"
                                                 << "用户名" + breakIn << "edt_UserId";
        QTest::newRow("NUL in password") << "a.mdb"
                                         << "admin" << QStringLiteral("p") + QChar(u'\0') + "w"
                                         << "密码" + breakIn << "medt_password";
        QTest::newRow("empty user before a line break") << "a\nb.mdb"
                                                        << ""
                                                        << "pw" << noUser << "edt_UserId";
    }

    // Only the first failing check speaks; the focus goes to its field and
    // nothing is written.
    void checksInOrder()
    {
        QFETCH(QString, source);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, message);
        QFETCH(QString, focus);

        auto dialog = open();
        setFields(dialog.get(), source, user, password);
        // Start from another field so that the move is seen.
        edit(dialog.get(), focus == QLatin1String("Edit_Dns") ? "medt_password" : "Edit_Dns")->setFocus();
        QTest::mouseClick(button(dialog.get(), "sbtn_sure"), Qt::LeftButton);

        QCOMPARE(m_platform->boxes().size(), 1);
        const MessageBoxRequest& box = m_platform->boxes().front();
        QCOMPARE(box.text, message);
        QCOMPARE(box.caption, QStringLiteral("提示"));
        QCOMPARE(box.buttons, MsgButtons::Ok);
        QCOMPARE(box.icon, MsgIcon::Information);
        QCOMPARE(box.owner, nullptr);
        QCOMPARE(QApplication::focusWidget()->objectName(), focus);
        QVERIFY(dialog->isVisible());
        QCOMPARE(fields(dialog.get()), (QStringList{source, user, password}));
        QVERIFY(!QFile::exists(iniPath()));
    }

    void savesTrimmedValuesAndCloses()
    {
        writeBytes(iniPath(), "; the shop's settings\n[Velmora]\nDB_User=old\n\n[Printer]\nPort=lp0\n");
        auto dialog = open();
        const QStringList typed{" \tnew shop.mdb  ", "\x01 boss ", "  pa ss\x7f"};
        setFields(dialog.get(), typed.at(0), typed.at(1), typed.at(2));
        QTest::mouseClick(button(dialog.get(), "sbtn_sure"), Qt::LeftButton);

        QVERIFY(m_platform->boxes().isEmpty());
        QVERIFY(!dialog->isVisible());
        QCOMPARE(fields(dialog.get()), typed);
        const ProfileFile file(iniPath());
        QCOMPARE(file.readString("Velmora", "DB_Source", "-"), QStringLiteral("new shop.mdb"));
        QCOMPARE(file.readString("Velmora", "DB_User", "-"), QStringLiteral("boss"));
        QCOMPARE(file.readString("Velmora", "DB_Password", "-"), QStringLiteral("pa ss"));
        QCOMPARE(file.readString("Printer", "Port", "-"), QStringLiteral("lp0"));
        const QByteArray text = readBytes(iniPath());
        QVERIFY(text.startsWith("; the shop's settings\n"));
        QVERIFY(text.indexOf("DB_Source") < text.indexOf("DB_Password"));
    }

    void enterInPasswordSavesAndCloses()
    {
        // Through a real modal loop, as the start-up sequence shows it.
        Tfrm_DBini dialog(*m_platform, m_folder);
        bool typed = false;
        // Whatever happens inside, the dialog is closed, so a failing check ends the modal loop instead of
        // leaving the run waiting for its time-out.
        QTimer::singleShot(0, [&] {
            const auto closeDialog = qScopeGuard([&] {
                if (dialog.isVisible())
                    dialog.close();
            });
            if (!QTest::qWaitFor([&] { return QApplication::activeModalWidget() == &dialog; }))
                return;
            QLineEdit* password = edit(&dialog, "medt_password");
            if (!QTest::qWaitForWindowActive(&dialog) || QApplication::focusWidget() == nullptr)
                return;
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (QApplication::focusWidget() != password)
                return;
            password->selectAll();
            QTest::keyClicks(password, QStringLiteral("739015"));
            typed = true;
            QTest::keyClick(password, Qt::Key_Return);
        });
        dialog.exec();
        QVERIFY2(typed, "the dialog did not take the keyboard as a modal dialog");
        QVERIFY(m_platform->boxes().isEmpty());
        const ProfileFile file(iniPath());
        QCOMPARE(file.readString("Velmora", "DB_Source", "-"), QStringLiteral("data/velmdb.mdb"));
        QCOMPARE(file.readString("Velmora", "DB_User", "-"), QStringLiteral("admin"));
        QCOMPARE(file.readString("Velmora", "DB_Password", "-"), QStringLiteral("739015"));
        QCOMPARE(QFileInfo(iniPath()).permissions() & 0x7777,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
    }

    void closingWritesNothing_data()
    {
        QTest::addColumn<bool>("withFile");
        QTest::addColumn<bool>("byButton");
        QTest::newRow("sbtn_close, file") << true << true;
        QTest::newRow("close box, file") << true << false;
        QTest::newRow("sbtn_close, no file") << false << true;
        QTest::newRow("close box, no file") << false << false;
    }

    void closingWritesNothing()
    {
        QFETCH(bool, withFile);
        QFETCH(bool, byButton);
        const QByteArray before = "[Velmora]\nDB_Source=old.mdb\n";
        if (withFile)
            writeBytes(iniPath(), before);
        auto dialog = open();
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("edited"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("also"));
        if (byButton)
            QTest::mouseClick(button(dialog.get(), "sbtn_close"), Qt::LeftButton);
        else
            dialog->close(); // what the window manager's close box sends
        QVERIFY(!dialog->isVisible());
        QVERIFY(m_platform->boxes().isEmpty());
        QCOMPARE(QFile::exists(iniPath()), withFile);
        if (withFile)
            QCOMPARE(readBytes(iniPath()), before);
    }

    void escapeDoesNothing()
    {
        auto dialog = open();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
        QVERIFY(dialog->isVisible());
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("edt_UserId"));
        QVERIFY(!QFile::exists(iniPath()));
    }

    void failedSaveKeepsTheFileAndStaysOpen_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("disk full") << "diskFull";
        QTest::newRow("ini path is a folder") << "folder";
        QTest::newRow("executable folder is a file") << "notAFolder";
    }

    // All three keys are written in one go: a failure leaves the file exactly
    // as it was, reports the error and keeps the dialog open.
    void failedSaveKeepsTheFileAndStaysOpen()
    {
        QFETCH(QString, fault);
        const QByteArray before = "[Velmora]\nDB_Source=old.mdb\nDB_User=old\nDB_Password=old\n";
        if (fault == QLatin1String("diskFull")) {
            writeBytes(iniPath(), before);
        } else if (fault == QLatin1String("folder")) {
            QVERIFY(QDir(m_folder).mkdir("DBConn.ini"));
        } else {
            writeBytes(m_folder + "bin", "a file");
            m_folder += QStringLiteral("bin/");
        }
        auto dialog = open();
        const QStringList typed{"new.mdb", "new", "new"};
        setFields(dialog.get(), typed.at(0), typed.at(1), typed.at(2));
        {
            std::optional<FileSizeLimit> full; // a full disk
            if (fault == QLatin1String("diskFull"))
                full.emplace(8);
            QTest::mouseClick(button(dialog.get(), "sbtn_sure"), Qt::LeftButton);
        }
        QCOMPARE(m_platform->boxes().size(), 1);
        const MessageBoxRequest& box = m_platform->boxes().front();
        QCOMPARE(box.text, QStringLiteral("Unable to write to ") + iniPath());
        QCOMPARE(box.caption, QStringLiteral("Velmora"));
        QCOMPARE(box.icon, MsgIcon::Error);
        QCOMPARE(box.buttons, MsgButtons::Ok);
        QVERIFY(dialog->isVisible());
        QCOMPARE(fields(dialog.get()), typed);
        if (fault == QLatin1String("diskFull")) {
            QCOMPARE(readBytes(iniPath()), before);
            QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), QStringList{"DBConn.ini"});
        }
    }
};

QTEST_MAIN(TestFrmDbini)
#include "tst_frm_dbini.moc"
