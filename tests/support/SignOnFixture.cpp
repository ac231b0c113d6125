#include "tests/support/SignOnFixture.h"

#include "data/module/DMod.h"
#include "data/module/Rights.h"
#include "login/LookupCombo.h"
#include "login/TFlogin.h"
#include "mainwin/Tfmain.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <cstdlib>
#include <exception>

namespace velmora::test {

qint64 rightsWord(std::initializer_list<int> groups)
{
    return data::rightsWordFor(groups);
}

namespace {

data::Value valueOf(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return {};
    if (value.typeId() == QMetaType::Double)
        return value.toDouble();
    if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int)
        return std::int64_t{value.toLongLong()};
    return value.toString().toStdString();
}

} // namespace

SignOnFixture::SignOnFixture(const QList<OperatorRow>& operators, SignOnOptions options, TestBackend backend)
{
    try {
        if (options.existing) {
            m_existing = options.existing;
        } else {
            m_db = options.server ? std::make_unique<TestDatabase>(*options.server)
                                  : std::make_unique<TestDatabase>(backend);
            makeDatabase(operators, options);
        }
        m_ok = true;
    } catch (const std::exception& e) {
        qWarning("database: %s", e.what());
        return;
    }
    m_openToper = options.openToper;
    platform.setApplicationTitle(AppTitle);
    // The database's folder is the program's, where DBConn.ini would be.
    platform.setExecutableFolder(QString::fromStdString(database().folder()));
    start();
}

void SignOnFixture::start()
{
    dmod = std::make_unique<data::TDMod>(database().folder());
    dmod->ADOCON().setConnectionString(m_connectionString.empty() ? database().connectionString() : m_connectionString);
    dmod->ADOCON().open();
    if (m_openToper)
        dmod->toper().open();
    dmod->tuser().open();
    mainWindow = std::make_unique<Tfmain>();
    dialog = std::make_unique<TFlogin>(platform, *mainWindow, *dmod);
    yh = dialog->findChild<LookupCombo*>(QStringLiteral("yh"));
    Edit2 = dialog->findChild<QLineEdit*>(QStringLiteral("Edit2"));
    btok = dialog->findChild<QPushButton*>(QStringLiteral("btok"));
    btno = dialog->findChild<QPushButton*>(QStringLiteral("btno"));
}

void SignOnFixture::restartAs(const std::string& role, const std::string& password)
{
    m_connectionString = m_db->connectionStringAs(role, password);
    restart();
}

void SignOnFixture::restart()
{
    dialog.reset();
    mainWindow.reset();
    dmod.reset();
    platform.clear();
    start();
}

SignOnFixture::~SignOnFixture()
{
    dialog.reset();
    mainWindow.reset();
    dmod.reset();
    m_db.reset();
}

void SignOnFixture::makeDatabase(const QList<OperatorRow>& operators, const SignOnOptions& options)
{
    std::string script = m_db->schema();
    if (options.textUserIds) {
        // The first userid is OperatorTable's; oper's comes later.
        const std::string number = m_db->isServer() ? "\"userid\" double precision" : "\"userid\" DOUBLE";
        const std::size_t at = script.find(number);
        if (at == std::string::npos)
            throw std::logic_error("the schema has no numeric userid");
        script.replace(at, number.size(), m_db->isServer() ? "\"userid\" varchar(10)" : "\"userid\" NVARCHAR(10)");
    }
    if (options.dropOperTable)
        script += "DROP TABLE \"oper\";";
    m_db->run(script);
    for (const OperatorRow& row : operators)
        m_db->addOperator(row.username.toStdString(), valueOf(row.userid), valueOf(row.password), valueOf(row.able));
    if (!options.moreSql.empty())
        m_db->run(options.moreSql);
    if (options.writeAheadLog)
        m_db->useWriteAheadLog();
}

bool SignOnFixture::show()
{
    dialog->show();
    QApplication::setActiveWindow(dialog.get());
    return QTest::qWaitForWindowActive(dialog.get()) && QApplication::focusWidget() == yh;
}

QString SignOnFixture::currentUser() const
{
    return QString::fromStdString(dmod->tuser().fieldByName("username").asString());
}

void SignOnFixture::typeAndSignOn(const QString& operatorKeys, const QString& password)
{
    QTest::keyClicks(yh, operatorKeys);
    QTest::keyClick(yh, Qt::Key_Return);
    QTest::keyClick(Edit2, Qt::Key_Backspace); // Enter selected the whole box
    QTest::keyClicks(Edit2, password);
    QTest::keyClick(Edit2, Qt::Key_Return);
}

QList<LoginRecord> SignOnFixture::loginRecords() const
{
    QList<LoginRecord> records;
    try {
        for (const auto& row :
             (m_existing ? *m_existing : *m_db).rows("SELECT userid, operid, \"登录时间\" FROM oper ORDER BY operid"))
            records << LoginRecord{QString::fromStdString(row.at(0)), std::atoll(row.at(1).c_str()),
                                   QString::fromStdString(row.at(2))};
    } catch (const std::exception&) {
    }
    return records;
}

void scriptSignOn(ScriptedPlatform& platform, const QString& operatorText, const QString& password, LoopState* atLoop)
{
    platform.onModal([operatorText, password](QDialog& dialog) {
        if (dialog.objectName() != QLatin1String("Flogin"))
            return int(QDialog::Rejected);
        dialog.show();
        auto* yh = dialog.findChild<QComboBox*>(QStringLiteral("yh"));
        auto* box = dialog.findChild<QLineEdit*>(QStringLiteral("Edit2"));
        if (!yh || !box)
            return int(QDialog::Rejected);
        QTest::keyClicks(yh, operatorText);
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, password);
        QTest::keyClick(box, Qt::Key_Return);
        return dialog.result();
    });
    platform.onMessageLoop([atLoop](QWidget* window) {
        if (auto* main = qobject_cast<Tfmain*>(window))
            atLoop->operatorPanel = main->panelText(1);
        for (const QWidget* shown : QApplication::topLevelWidgets())
            atLoop->windows << shown->objectName();
        return 0;
    });
}

} // namespace velmora::test
