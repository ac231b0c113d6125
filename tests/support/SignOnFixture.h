#pragma once

#include "tests/support/ScriptedPlatform.h"
#include "tests/support/TestDatabase.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <initializer_list>

#include <memory>
#include <string>

class QLineEdit;
class QPushButton;

namespace velmora {

class LookupCombo;
class TFlogin;
class Tfmain;
namespace data {
class TDMod;
}

namespace test {

inline const QString AppTitle = QStringLiteral("Tarvin医药管理系统");

// The login's boxes.
inline const QString WrongPassword = QStringLiteral("密码不对,请重新录入!");
inline const QString DamagedRights = QStringLiteral("你的权限数据被破坏!请与管理员联系重新分配!");
inline const QString NotAuthenticated = QStringLiteral("对不起,你没有通过口令认证!");

// The able column's word for the rights groups given.
qint64 rightsWord(std::initializer_list<int> groups);

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

    bool operator==(const LoginRecord&) const = default;
};

struct SignOnOptions
{
    bool textUserIds = false; // OperatorTable.userid as text instead of a number
    bool openToper = true;
    bool dropOperTable = false;
    bool writeAheadLog = false;         // as velmora-db makes a file
    std::string moreSql = {};           // run after the operators are in
    const TestServer* server = nullptr; // a server of the test's own instead of the backend's
    TestDatabase* existing = nullptr;   // signs on to this database as it is, instead of making one
};

// A real database on the chosen backend (by default the one CTest chose, fixtureBackend()), the data module
// connected to it with the login's datasets open, a main window and the login dialog.
class SignOnFixture
{
public:
    explicit SignOnFixture(const QList<OperatorRow>& operators, SignOnOptions options = {},
                           TestBackend backend = fixtureBackend());
    ~SignOnFixture();
    SignOnFixture(const SignOnFixture&) = delete;
    SignOnFixture& operator=(const SignOnFixture&) = delete;

    bool ok() const { return m_ok && yh && Edit2 && btok && btno; }

    // The program run anew on the same database: a new data module, main window and dialog, and a platform
    // that has seen nothing yet.
    void restart();
    // ... connected as another role of the server.
    void restartAs(const std::string& role, const std::string& password);
    // Shows the dialog as the start-up does and waits until it has the keyboard.
    bool show();
    // The username of the row tuser stands on.
    QString currentUser() const;
    // Types an operator, moves on with Enter, replaces the password and signs on with Enter in the password box.
    void typeAndSignOn(const QString& operatorKeys, const QString& password);
    QStringList boxTexts() const { return platform.boxTexts(); }
    // Read through a connection of its own; empty when the table cannot be read.
    QList<LoginRecord> loginRecords() const;
    TestDatabase& database() { return m_existing ? *m_existing : *m_db; }

    ScriptedPlatform platform;
    std::unique_ptr<data::TDMod> dmod;
    std::unique_ptr<Tfmain> mainWindow;
    std::unique_ptr<TFlogin> dialog;
    LookupCombo* yh = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* btok = nullptr;
    QPushButton* btno = nullptr;

private:
    void makeDatabase(const QList<OperatorRow>& operators, const SignOnOptions& options);
    void start();

    std::unique_ptr<TestDatabase> m_db;
    TestDatabase* m_existing = nullptr;
    bool m_ok = false;
    bool m_openToper = true;
    std::string m_connectionString;
};

// What a start-up has on the screen when its message loop would run.
struct LoopState
{
    QString operatorPanel; // the main window's panel 1
    QStringList windows;   // objectNames of the top-level widgets still there
};

// Scripts the login dialog of a whole start-up as an operator would use it: types the operator text and the
// password and presses Enter. When the message loop would run, what is on the screen goes into *atLoop.
void scriptSignOn(ScriptedPlatform& platform, const QString& operatorText, const QString& password, LoopState* atLoop);

} // namespace test
} // namespace velmora
