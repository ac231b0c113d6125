#include "shell/OperatorsDialog.h"

#include "data/module/Rights.h"
#include "platform/Platform.h"
#include "shell/OperatorTexts.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <exception>

namespace velmora {

namespace {

QString fromUtf8(const std::string& text)
{
    return QString::fromStdString(text);
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption)
{
    auto* made = new QPushButton(caption, parent);
    made->setObjectName(QLatin1String(name));
    made->setAutoDefault(false);
    return made;
}

} // namespace

// ---------------------------------------------------------------- the list

void OperatorListModel::setOperators(std::vector<data::OperatorRow> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

const data::OperatorRow* OperatorListModel::operatorAt(int row) const
{
    return row >= 0 && row < int(m_rows.size()) ? &m_rows[std::size_t(row)] : nullptr;
}

int OperatorListModel::rowOf(const std::string& userid) const
{
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        if (m_rows[row].userid == userid)
            return int(row);
    }
    return -1;
}

int OperatorListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int OperatorListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QString OperatorListModel::rightsText(const data::OperatorRow& row)
{
    if (row.disabled)
        return QStringLiteral("停用");
    // What the login would refuse as damaged rights, said so rather than shown as groups nobody gets.
    if (!row.rightsWord || *row.rightsWord <= data::RightsThreshold)
        return QStringLiteral("权限数据被破坏");
    return groupsText(row.groups);
}

QVariant OperatorListModel::data(const QModelIndex& index, int role) const
{
    const data::OperatorRow* row = operatorAt(index.row());
    if (row == nullptr || role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case 0:
        return fromUtf8(row->userid);
    case 1:
        return fromUtf8(row->username);
    default:
        return rightsText(*row);
    }
}

QVariant OperatorListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const QStringList headers{QStringLiteral("编号"), QStringLiteral("用户名"), QStringLiteral("权限")};
    return headers.value(section);
}

// ---------------------------------------------------------------- one operator's form

OperatorForm::OperatorForm(Purpose purpose, Platform& platform, data::Backend& db, const data::OperatorRow* row,
                           QString actingUserid, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_purpose(purpose), m_platform(platform), m_db(db), m_acting(std::move(actingUserid))
{
    if (row != nullptr) {
        m_userid = fromUtf8(row->userid);
        m_username = fromUtf8(row->username);
    }
    setObjectName(QStringLiteral("Foperator"));
    setWindowTitle(purpose == Purpose::Add      ? QStringLiteral("新增用户")
                   : purpose == Purpose::Groups ? QStringLiteral("修改权限")
                                                : QStringLiteral("设置密码"));

    auto* fields = new QFormLayout;
    if (purpose == Purpose::Add) {
        useridField = new QLineEdit(this);
        useridField->setObjectName(QStringLiteral("userid"));
        usernameField = new QLineEdit(this);
        usernameField->setObjectName(QStringLiteral("username"));
        usernameField->setMaxLength(10);
        fields->addRow(QStringLiteral("编号:"), useridField);
        fields->addRow(QStringLiteral("用户名:"), usernameField);
    } else {
        fields->addRow(QStringLiteral("操作员:"), new QLabel(m_userid + QStringLiteral("  ") + m_username, this));
    }
    if (purpose != Purpose::Groups) {
        password = new QLineEdit(this);
        password->setObjectName(QStringLiteral("password"));
        password->setEchoMode(QLineEdit::Password);
        passwordAgain = new QLineEdit(this);
        passwordAgain->setObjectName(QStringLiteral("passwordAgain"));
        passwordAgain->setEchoMode(QLineEdit::Password);
        fields->addRow(QStringLiteral("密码:"), password);
        fields->addRow(QStringLiteral("再输一次密码:"), passwordAgain);
    }

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    if (purpose != Purpose::Password) {
        auto* box = new QGroupBox(QStringLiteral("权限"), this);
        auto* grid = new QGridLayout(box);
        for (int group = 0; group < int(groups.size()); ++group) {
            groups[std::size_t(group)] = new QCheckBox(rightsGroupLabels().at(group), box);
            groups[std::size_t(group)]->setObjectName(QStringLiteral("group%1").arg(group));
            grid->addWidget(groups[std::size_t(group)], group / 2, group % 2);
        }
        if (row != nullptr) {
            for (int group : row->groups) {
                if (group >= 0 && group < int(groups.size()))
                    groups[std::size_t(group)]->setChecked(true);
            }
        }
        layout->addWidget(box);
    }

    btok = button(this, "btok", QStringLiteral("确定"));
    btcancel = button(this, "btcancel", QStringLiteral("取消"));
    connect(btok, &QPushButton::clicked, this, [this] { btokClick(); });
    connect(btcancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btok);
    buttons->addWidget(btcancel);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    for (QWidget* field : findChildren<QWidget*>()) {
        if (qobject_cast<QLineEdit*>(field) || qobject_cast<QCheckBox*>(field) || field == btok)
            field->installEventFilter(this);
    }
    if (useridField)
        useridField->setFocus();
    else if (password)
        password->setFocus();
    else
        groups[0]->setFocus();
}

// Enter moves on from a text field to the next field; on a check box or 确定 it confirms.
bool OperatorForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (qobject_cast<QLineEdit*>(watched) && watched != passwordAgain)
                focusNextPrevChild(true);
            else if (watched == passwordAgain && m_purpose == Purpose::Add)
                focusNextPrevChild(true);
            else
                btokClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void OperatorForm::refuse(const QString& text, QWidget* field)
{
    m_platform.messageBox(MessageBoxRequest::ok(text, QStringLiteral("提示"), MsgIcon::Warning, this));
    if (field == nullptr)
        return;
    field->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(field))
        edit->selectAll();
}

std::vector<int> OperatorForm::chosenGroups() const
{
    std::vector<int> chosen;
    for (int group = 0; group < int(groups.size()); ++group) {
        if (groups[std::size_t(group)] && groups[std::size_t(group)]->isChecked())
            chosen.push_back(group);
    }
    return chosen;
}

bool OperatorForm::passwordsAcceptable()
{
    if (password->text() != passwordAgain->text()) {
        refuse(QStringLiteral("两次输入的密码不一样,请重新录入!"), passwordAgain);
        return false;
    }
    if (const QString weak = weaknessMessage(data::passwordWeakness(password->text().toStdString())); !weak.isEmpty()) {
        refuse(weak, password);
        return false;
    }
    return true;
}

void OperatorForm::btokClick()
{
    QWidget* blamed = nullptr;
    try {
        switch (m_purpose) {
        case Purpose::Add: {
            m_userid = useridField->text().trimmed();
            m_username = usernameField->text().trimmed();
            bool number = false;
            m_userid.toLongLong(&number);
            if (!number) {
                refuse(QStringLiteral("编号要是一个数字,就是登录时输入的编号。"), useridField);
                return;
            }
            if (m_username.isEmpty()) {
                refuse(QStringLiteral("用户名不能为空!"), usernameField);
                return;
            }
            if (!passwordsAcceptable())
                return;
            data::NewOperator added;
            added.userid = m_userid.toStdString();
            added.username = m_username.toStdString();
            added.password = password->text().toStdString();
            added.groups = chosenGroups();
            blamed = useridField;
            data::addOperator(m_db, added);
            break;
        }
        case Purpose::Groups:
            data::setOperatorGroups(m_db, m_userid.toStdString(), chosenGroups(), m_acting.toStdString());
            break;
        case Purpose::Password:
            if (!passwordsAcceptable())
                return;
            data::setOperatorPassword(m_db, m_userid.toStdString(), password->text().toStdString());
            break;
        }
    } catch (const data::OperatorError& error) {
        if (error.kind() == data::OperatorErrorKind::DuplicateUsername)
            blamed = usernameField;
        else if (error.kind() == data::OperatorErrorKind::WeakPassword)
            blamed = password;
        refuse(operatorErrorText(error, m_userid, m_username), blamed);
        return;
    } catch (const std::exception& error) {
        showErrorReport(m_platform, QString::fromUtf8(error.what()), this);
        return;
    }
    accept();
}

// ---------------------------------------------------------------- 用户管理

OperatorsDialog::OperatorsDialog(Platform& platform, data::Backend& db, QString actingUserid, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_platform(platform), m_db(db), m_acting(std::move(actingUserid))
{
    setObjectName(QStringLiteral("Fuser"));
    setWindowTitle(QStringLiteral("用户管理"));

    userList = new QTableView(this);
    userList->setObjectName(QStringLiteral("userList"));
    userList->setModel(&m_model);
    userList->setSelectionBehavior(QAbstractItemView::SelectRows);
    userList->setSelectionMode(QAbstractItemView::SingleSelection);
    userList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    userList->setTabKeyNavigation(false);
    userList->verticalHeader()->hide();
    // Fixed widths: measuring every row of a large shop's list would cost more than showing it.
    userList->horizontalHeader()->setStretchLastSection(true);
    userList->setColumnWidth(0, 80);
    userList->setColumnWidth(1, 120);
    userList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    connect(userList->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { updateButtons(); });
    connect(userList, &QTableView::doubleClicked, this, [this] { btgroupsClick(); });

    btadd = button(this, "btadd", QStringLiteral("新增(&A)"));
    btgroups = button(this, "btgroups", QStringLiteral("修改权限(&G)"));
    btpassword = button(this, "btpassword", QStringLiteral("设置密码(&P)"));
    btdisable = button(this, "btdisable", QStringLiteral("停用(&D)"));
    btenable = button(this, "btenable", QStringLiteral("启用(&E)"));
    btclose = button(this, "btclose", QStringLiteral("关闭"));
    connect(btadd, &QPushButton::clicked, this, [this] { btaddClick(); });
    connect(btgroups, &QPushButton::clicked, this, [this] { btgroupsClick(); });
    connect(btpassword, &QPushButton::clicked, this, [this] { btpasswordClick(); });
    connect(btdisable, &QPushButton::clicked, this, [this] { setEnabledClick(false); });
    connect(btenable, &QPushButton::clicked, this, [this] { setEnabledClick(true); });
    connect(btclose, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {btadd, btgroups, btpassword, btdisable, btenable})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(btclose);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(userList, 1);
    layout->addLayout(buttons);
    resize(760, 420);
    userList->setFocus();
}

void OperatorsDialog::reload()
{
    const data::OperatorRow* before = chosen();
    const std::string keep = before ? before->userid : std::string();
    // The list shows no password kinds, so the stored hashes are not verified (seconds for a few operators).
    m_model.setOperators(data::listOperators(m_db, false));
    const int row = m_model.rowOf(keep);
    userList->setCurrentIndex(m_model.index(row >= 0 ? row : 0, 0));
    updateButtons();
}

const data::OperatorRow* OperatorsDialog::chosen() const
{
    return m_model.operatorAt(userList->currentIndex().row());
}

void OperatorsDialog::choose(const QString& userid)
{
    const int row = m_model.rowOf(userid.toStdString());
    if (row >= 0)
        userList->setCurrentIndex(m_model.index(row, 0));
}

void OperatorsDialog::updateButtons()
{
    const data::OperatorRow* row = chosen();
    for (QPushButton* b : {btgroups, btpassword})
        b->setEnabled(row != nullptr && !row->disabled);
    btdisable->setEnabled(row != nullptr && !row->disabled);
    btenable->setEnabled(row != nullptr && row->disabled);
}

void OperatorsDialog::reloadAfterWrite(const QString& userid)
{
    try {
        reload();
        choose(userid);
    } catch (const std::exception& error) {
        showErrorReport(m_platform, QString::fromUtf8(error.what()), this);
    }
    focusList();
}

// After a form or a box the arrow keys go on choosing in the list.
void OperatorsDialog::focusList()
{
    userList->setFocus();
}

void OperatorsDialog::btaddClick()
{
    OperatorForm form(OperatorForm::Purpose::Add, m_platform, m_db, nullptr, m_acting, this);
    if (m_platform.showModal(form) == QDialog::Accepted)
        reloadAfterWrite(form.userid());
    else
        focusList();
}

void OperatorsDialog::btgroupsClick()
{
    const data::OperatorRow* row = chosen();
    if (row == nullptr || row->disabled)
        return;
    const data::OperatorRow shown = *row;
    OperatorForm form(OperatorForm::Purpose::Groups, m_platform, m_db, &shown, m_acting, this);
    m_platform.showModal(form);
    reloadAfterWrite(fromUtf8(shown.userid));
}

void OperatorsDialog::btpasswordClick()
{
    const data::OperatorRow* row = chosen();
    if (row == nullptr || row->disabled)
        return;
    const data::OperatorRow shown = *row;
    OperatorForm form(OperatorForm::Purpose::Password, m_platform, m_db, &shown, m_acting, this);
    if (m_platform.showModal(form) == QDialog::Accepted)
        m_platform.messageBox(
            MessageBoxRequest::ok(QStringLiteral("操作员 %1 的新密码已经保存。").arg(fromUtf8(shown.userid)),
                                  QStringLiteral("提示"), MsgIcon::Information, this));
    focusList();
}

void OperatorsDialog::setEnabledClick(bool enabled)
{
    const data::OperatorRow* row = chosen();
    if (row == nullptr || row->disabled == !enabled)
        return;
    const QString userid = fromUtf8(row->userid);
    const QString username = fromUtf8(row->username);
    if (!enabled) {
        const auto question = MessageBoxRequest::yesNo(
            QStringLiteral("停用操作员 %1(%2)吗?\n停用后他不能登录;启用后恢复他原来的权限。").arg(userid, username),
            QStringLiteral("提示"), MsgIcon::Question, this);
        if (m_platform.messageBox(question) != MsgAnswer::Yes) {
            focusList();
            return;
        }
    }
    try {
        data::setOperatorEnabled(m_db, userid.toStdString(), enabled, m_acting.toStdString());
    } catch (const data::OperatorError& error) {
        m_platform.messageBox(MessageBoxRequest::ok(operatorErrorText(error, userid, username), QStringLiteral("提示"),
                                                    MsgIcon::Warning, this));
    } catch (const std::exception& error) {
        showErrorReport(m_platform, QString::fromUtf8(error.what()), this);
    }
    reloadAfterWrite(userid);
}

} // namespace velmora
