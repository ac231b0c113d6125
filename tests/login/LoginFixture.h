#pragma once

#include "data/DMod.h"
#include "data/Schema.h"
#include "login/LookupCombo.h"
#include "login/TFlogin.h"
#include "mainwin/Tfmain.h"
#include "platform/ScriptedPlatform.h"
#include "tests/data/backend_support.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QVariant>
#include <QtTest>

#include <cstdlib>
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

// The backend the fixtures use: the embedded file, or the test server when VELMORA_TEST_BACKEND is "server"
// (CTest runs the login tests once with each).
inline data::test::TestBackend fixtureBackend()
{
    const char* chosen = std::getenv("VELMORA_TEST_BACKEND");
    return chosen && std::string(chosen) == "server" ? data::test::TestBackend::Server
                                                     : data::test::TestBackend::Embedded;
}

struct FixtureOptions
{
    bool textUserIds = false; // OperatorTable.userid as text instead of a number
    bool openToper = true;
    bool dropOperTable = false;
    const data::test::TestServer* server = nullptr; // a server of the test's own instead of fixtureBackend()'s
};

// A real database (a file in a temporary folder, or a database of its own on the test server), the data
// module connected to it with the login's datasets open, a main window and the login dialog.
class LoginFixture
{
public:
    explicit LoginFixture(const QList<OperatorRow>& operators, FixtureOptions options = {})
    {
        try {
            m_db = options.server ? std::make_unique<data::test::TestDatabase>(*options.server)
                                  : std::make_unique<data::test::TestDatabase>(fixtureBackend());
            m_ok = makeDatabase(operators, options);
        } catch (const std::exception& e) {
            qWarning("database: %s", e.what());
            m_ok = false;
        }
        if (!m_ok)
            return;
        platform.setApplicationTitle(AppTitle);
        dmod = std::make_unique<data::TDMod>(m_db->folder());
        dmod->ADOCON().setConnectionString(m_db->connectionString());
        dmod->ADOCON().open();
        if (options.openToper)
            dmod->toper().open();
        dmod->tuser().open();
        mainWindow = std::make_unique<Tfmain>();
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
        m_db.reset();
    }

    bool ok() const { return m_ok && yh && Edit2 && btok && btno; }
    data::test::TestDatabase& database() { return *m_db; }

    // Shows the dialog as the start-up does and waits until it has the keyboard.
    bool show()
    {
        dialog->show();
        QApplication::setActiveWindow(dialog.get());
        return QTest::qWaitForWindowActive(dialog.get()) && QApplication::focusWidget() == yh;
    }

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
        try {
            for (const auto& row : m_db->rows("SELECT userid, operid, \"登录时间\" FROM oper ORDER BY operid"))
                records << LoginRecord{QString::fromStdString(row.at(0)), std::atoll(row.at(1).c_str()),
                                       QString::fromStdString(row.at(2))};
        } catch (const std::exception&) {
        }
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
    // A value as an SQL literal that both backends read alike.
    static std::string literal(const QVariant& value)
    {
        if (!value.isValid() || value.isNull())
            return "NULL";
        if (value.typeId() == QMetaType::Double)
            return QString::number(value.toDouble(), 'g', 17).toStdString();
        if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int)
            return QString::number(value.toLongLong()).toStdString();
        return "'" + value.toString().replace(QLatin1Char('\''), QStringLiteral("''")).toStdString() + "'";
    }

    bool makeDatabase(const QList<OperatorRow>& operators, const FixtureOptions& options)
    {
        std::string script = m_db->schema();
        if (options.textUserIds) {
            // The first userid is OperatorTable's; oper's comes later.
            const std::string number = m_db->isServer() ? "\"userid\" double precision" : "\"userid\" DOUBLE";
            const std::size_t at = script.find(number);
            if (at == std::string::npos)
                return false;
            script.replace(at, number.size(), m_db->isServer() ? "\"userid\" varchar(10)" : "\"userid\" NVARCHAR(10)");
        }
        if (options.dropOperTable)
            script += "DROP TABLE \"oper\";";
        for (const OperatorRow& row : operators)
            script += "INSERT INTO \"OperatorTable\" (username, oper, userid, passwords, able) VALUES (" +
                      literal(row.username) + ", " + literal(row.username) + ", " + literal(row.userid) + ", " +
                      literal(row.password) + ", " + literal(row.able) + ");";
        m_db->run(script);
        return true;
    }

    std::unique_ptr<data::test::TestDatabase> m_db;
    bool m_ok = false;
};

} // namespace velmora::test
