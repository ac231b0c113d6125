#pragma once

#include "data/module/Operators.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QString>

#include <array>
#include <vector>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTableView;

namespace velmora {

class Platform;

// The operators as 用户管理 lists them: number, name, rights (the groups' labels, "停用" for a disabled one).
class OperatorListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    using QAbstractTableModel::QAbstractTableModel;

    void setOperators(std::vector<data::OperatorRow> rows);
    const data::OperatorRow* operatorAt(int row) const;
    // The row of the operator with this number, -1 when there is none.
    int rowOf(const std::string& userid) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The rights column's text for an operator.
    static QString rightsText(const data::OperatorRow& row);

private:
    std::vector<data::OperatorRow> m_rows;
};

// One operator's form: a new operator (number, name, the password twice, the groups), its groups, or a new
// password. Checks what it can before the write and words the data layer's refusals; stays open on a refusal.
class OperatorForm : public QDialog
{
    Q_OBJECT

public:
    enum class Purpose { Add, Groups, Password };

    // `row`: the operator changed (Groups, Password); `actingUserid`: the signed-on operator.
    OperatorForm(Purpose purpose, Platform& platform, data::Backend& db, const data::OperatorRow* row,
                 QString actingUserid, QWidget* parent = nullptr);
    OperatorForm(const OperatorForm&) = delete;
    OperatorForm& operator=(const OperatorForm&) = delete;

    // The operator's number once stored.
    const QString& userid() const { return m_userid; }

    QLineEdit* useridField = nullptr;
    QLineEdit* usernameField = nullptr;
    QLineEdit* password = nullptr;
    QLineEdit* passwordAgain = nullptr;
    std::array<QCheckBox*, 7> groups{};
    QPushButton* btok = nullptr;
    QPushButton* btcancel = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void btokClick();
    bool passwordsAcceptable();
    std::vector<int> chosenGroups() const;
    void refuse(const QString& text, QWidget* field);

    Purpose m_purpose;
    Platform& m_platform;
    data::Backend& m_db;
    QString m_userid;
    QString m_username;
    QString m_acting;
};

// 用户管理: the operators of the shop, and what an administrator does with them: add one, change its groups,
// set a new password, disable and enable it. Every write is the data layer's, in one transaction; the list is
// read again after each.
class OperatorsDialog : public QDialog
{
    Q_OBJECT

public:
    // `actingUserid`: the signed-on operator, who may not take 用户管理 from themselves or disable themselves.
    OperatorsDialog(Platform& platform, data::Backend& db, QString actingUserid, QWidget* parent = nullptr);
    OperatorsDialog(const OperatorsDialog&) = delete;
    OperatorsDialog& operator=(const OperatorsDialog&) = delete;

    // Reads the operators again, keeping the chosen one chosen. Throws the data layer's errors.
    void reload();
    const OperatorListModel& model() const { return m_model; }
    // The chosen operator, nullptr when none is.
    const data::OperatorRow* chosen() const;
    void choose(const QString& userid);

    QTableView* userList = nullptr;
    QPushButton* btadd = nullptr;
    QPushButton* btgroups = nullptr;
    QPushButton* btpassword = nullptr;
    QPushButton* btdisable = nullptr;
    QPushButton* btenable = nullptr;
    QPushButton* btclose = nullptr;

private:
    void btaddClick();
    void btgroupsClick();
    void btpasswordClick();
    void setEnabledClick(bool enabled);
    void updateButtons();
    void focusList();
    // Reloads after a write, reporting a failure to read.
    void reloadAfterWrite(const QString& userid);

    Platform& m_platform;
    data::Backend& m_db;
    QString m_acting;
    OperatorListModel m_model;
};

} // namespace velmora
