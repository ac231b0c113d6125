#pragma once

#include "data/DMod.h"
#include "data/Schema.h"
#include "login/LookupCombo.h"
#include "login/TFlogin.h"
#include "mainwin/Tfmain.h"
#include "platform/ScriptedPlatform.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QVariant>
#include <QtTest>

#include <sqlite3.h>

#include <memory>
#include <string>

namespace velmora::test {

inline const QString AppTitle = QStringLiteral("Tarvin医药管理系统");

// One row of OperatorTable; a null QVariant is a column without a value.
struct OperatorRow
{
    QString username;
    QVariant userid;
    QVariant password;
    QVariant able;
};

struct LoginRecord
{
    QString userid;
    qint64 operid = 0;
    QString signedOnAt;
};

struct FixtureOptions
{
    bool textUserIds = false; // OperatorTable.userid as text instead of a number
    bool openToper = true;
    bool dropOperTable = false;
};

// A real database file in a temporary folder, the data module connected to it
// with the login's datasets open, a main window and the login dialog.
class LoginFixture
{
public:
    explicit LoginFixture(const QList<OperatorRow>& operators, FixtureOptions options = {})
    {
        m_ok = m_dir.isValid() && makeDatabase(operators, options);
        if (!m_ok)
            return;
        platform.setApplicationTitle(AppTitle);
        dmod = std::make_unique<data::TDMod>(m_dir.path().toStdString() + "/");
        dmod->ADOCON().setConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + databasePath() +
                                           ";User ID=admin");
        dmod->ADOCON().open();
        if (options.openToper)
            dmod->toper().open();
        dmod->tuser().open();
        mainWindow = std::make_unique<Tfmain>(platform);
        dialog = std::make_unique<TFlogin>(platform, *mainWindow, *dmod);
        yh = dialog->findChild<LookupCombo*>(QStringLiteral("yh"));
        Edit2 = dialog->findChild<QLineEdit*>(QStringLiteral("Edit2"));
        btok = dialog->findChild<QPushButton*>(QStringLiteral("btok"));
        btno = dialog->findChild<QPushButton*>(QStringLiteral("btno"));
    }

    ~LoginFixture()
    {
        dialog.reset();
        mainWindow.reset();
        dmod.reset();
    }

    bool ok() const { return m_ok && yh && Edit2 && btok && btno; }

    // Shows the dialog as the start-up does and waits until it has the keyboard.
    bool show()
    {
        dialog->show();
        QApplication::setActiveWindow(dialog.get());
        return QTest::qWaitForWindowActive(dialog.get()) && QApplication::focusWidget() == yh;
    }

    std::string databasePath() const { return m_dir.filePath(QStringLiteral("velmdb.mdb")).toStdString(); }

    // The username of the row tuser stands on.
    QString currentUser() const { return QString::fromStdString(dmod->tuser().fieldByName("username").asString()); }

    // Types an operator, moves on with Enter, replaces the password and signs
    // on with Enter in the password box.
    void typeAndSignOn(const QString& operatorKeys, const QString& password)
    {
        QTest::keyClicks(yh, operatorKeys);
        QTest::keyClick(yh, Qt::Key_Return);
        QTest::keyClick(Edit2, Qt::Key_Backspace); // Enter selected the whole box
        QTest::keyClicks(Edit2, password);
        QTest::keyClick(Edit2, Qt::Key_Return);
    }

    QStringList boxTexts() const
    {
        QStringList texts;
        for (const MessageBoxRequest& box : platform.boxes())
            texts << box.text;
        return texts;
    }

    QList<LoginRecord> loginRecords() const
    {
        QList<LoginRecord> records;
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(databasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return records;
        }
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT userid, operid, \"登录时间\" FROM oper ORDER BY operid", -1, &statement,
                               nullptr) == SQLITE_OK) {
            while (sqlite3_step(statement) == SQLITE_ROW) {
                LoginRecord record;
                record.userid = text(statement, 0);
                record.operid = sqlite3_column_int64(statement, 1);
                record.signedOnAt = text(statement, 2);
                records << record;
            }
        }
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return records;
    }

    ScriptedPlatform platform;
    std::unique_ptr<data::TDMod> dmod;
    std::unique_ptr<Tfmain> mainWindow;
    std::unique_ptr<TFlogin> dialog;
    LookupCombo* yh = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* btok = nullptr;
    QPushButton* btno = nullptr;

private:
    static QString text(sqlite3_stmt* statement, int column)
    {
        const auto* chars = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        return chars ? QString::fromUtf8(chars) : QString();
    }

    static void bind(sqlite3_stmt* statement, int index, const QVariant& value)
    {
        if (!value.isValid() || value.isNull())
            sqlite3_bind_null(statement, index);
        else if (value.typeId() == QMetaType::Double)
            sqlite3_bind_double(statement, index, value.toDouble());
        else if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int)
            sqlite3_bind_int64(statement, index, value.toLongLong());
        else
            sqlite3_bind_text(statement, index, value.toString().toUtf8().constData(), -1, SQLITE_TRANSIENT);
    }

    bool makeDatabase(const QList<OperatorRow>& operators, const FixtureOptions& options)
    {
        std::string script = data::schemaScript();
        if (options.textUserIds) {
            // The first userid is OperatorTable's; oper's comes later.
            const std::string number = "\"userid\" DOUBLE";
            const std::size_t at = script.find(number);
            if (at == std::string::npos)
                return false;
            script.replace(at, number.size(), "\"userid\" NVARCHAR(10)");
        }
        if (options.dropOperTable)
            script += "DROP TABLE \"oper\";";

        sqlite3* db = nullptr;
        bool ok = sqlite3_open(databasePath().c_str(), &db) == SQLITE_OK &&
                  sqlite3_exec(db, script.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_stmt* insert = nullptr;
        ok = ok && sqlite3_prepare_v2(db,
                                      "INSERT INTO OperatorTable (username, oper, userid, passwords, able) "
                                      "VALUES (?, ?, ?, ?, ?)",
                                      -1, &insert, nullptr) == SQLITE_OK;
        for (const OperatorRow& row : operators) {
            if (!ok)
                break;
            sqlite3_reset(insert);
            bind(insert, 1, row.username);
            bind(insert, 2, row.username);
            bind(insert, 3, row.userid);
            bind(insert, 4, row.password);
            bind(insert, 5, row.able);
            ok = sqlite3_step(insert) == SQLITE_DONE;
        }
        sqlite3_finalize(insert);
        sqlite3_close(db);
        return ok;
    }

    QTemporaryDir m_dir;
    bool m_ok = false;
};

} // namespace velmora::test
