#include "mainwin/Tfmain.h"

#include "mainwin/ImageLists.h"
#include "mainwin/PageScroller.h"
#include "platform/Platform.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateTime>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <array>

namespace velmora {
namespace {

using Handler = void (Tfmain::*)();

constexpr int Always = MenuItemDefinition::AlwaysAvailable;
constexpr int Sep = MenuItemDefinition::Separator;

struct MenuRow
{
    MenuItemDefinition info;
    Handler handler;
};

// The second menu level, in menu order: the one table the menu, the rights
// groups and the tool bar are built from.
const std::array<MenuRow, 36> menuRows{{
    {{"xs", "ls1", "药品零售", 0, 0, false}, &Tfmain::ls1Click},
    {{"xs", "pf1", "药品批发", 1, 0, false}, &Tfmain::pf1Click},
    {{"xs", "N12", "-", -1, Sep, false}, nullptr},
    {{"xs", "crlist1", "销售浏览", -1, 0, false}, &Tfmain::crlist1Click},
    {{"ch", "rk1", "药品入库", 2, 1, false}, &Tfmain::rk1Click},
    {{"ch", "ty1", "药品退药", 3, 1, false}, &Tfmain::ty1Click},
    {{"ch", "bs1", "药品报损", -1, 1, false}, &Tfmain::bs1Click},
    {{"ch", "xl1", "库存限量", -1, 1, false}, &Tfmain::xl1Click},
    {{"ch", "pd1", "库存盘点", -1, 1, false}, &Tfmain::pd1Click},
    {{"ch", "N18", "-", -1, Sep, false}, nullptr},
    {{"ch", "kclist1", "存货浏览", -1, 1, false}, &Tfmain::kclist1Click},
    {{"tj", "xstj", "销售统计", 13, 2, false}, &Tfmain::xstjClick},
    {{"tj", "kctj", "库存统计", -1, 2, false}, &Tfmain::kctjClick},
    {{"tj", "N14", "-", -1, Sep, false}, nullptr},
    {{"tj", "djsearch", "单据查询", 6, 2, false}, &Tfmain::djsearchClick},
    {{"tj", "support", "决策支持", -1, 2, true}, &Tfmain::supportClick},
    {{"yp", "yplist1", "药品浏览", -1, 3, false}, &Tfmain::yplist1Click},
    {{"yp", "ypadd", "新增药品", 7, 3, false}, &Tfmain::ypaddClick},
    {{"yp", "ypedit", "药品修改", -1, 3, false}, &Tfmain::ypeditClick},
    {{"yp", "N24", "-", -1, Sep, false}, nullptr},
    {{"yp", "ypprice", "药品调价", 5, 3, false}, &Tfmain::yppriceClick},
    {{"dm", "yg1", "员工管理", 12, 4, false}, &Tfmain::yg1Click},
    {{"dm", "bm1", "部门管理", 14, 4, false}, &Tfmain::bm1Click},
    {{"dm", "company1", "往来单位", 11, 4, false}, &Tfmain::company1Click},
    {{"dm", "N29", "-", -1, Sep, false}, nullptr},
    {{"dm", "mm", "更换密码", -1, Always, false}, &Tfmain::mmClick},
    {{"dm", "user1", "用户管理", 10, 5, false}, &Tfmain::user1Click},
    {{"dm", "N37", "-", -1, Sep, false}, nullptr},
    {{"dm", "back1", "备份数据", 15, 6, false}, &Tfmain::back1Click},
    {{"dm", "N1", "-", -1, Sep, false}, nullptr},
    {{"help", "systemhelp", "系统帮助", 18, Always, false}, &Tfmain::systemhelpClick},
    {{"help", "N41", "-", -1, Sep, false}, nullptr},
    {{"help", "about", "关于程序", 17, Always, false}, &Tfmain::aboutClick},
    {{"exit", "relogin", "更换用户", -1, Always, false}, &Tfmain::reloginClick},
    {{"exit", "N36", "-", -1, Sep, false}, nullptr},
    {{"exit", "quit", "退出程序", 16, Always, false}, &Tfmain::quitClick},
}};

// Entries without items act on a click themselves.
struct EntryRow
{
    MenuEntryDefinition info;
    Handler handler;
};

const std::array<EntryRow, 9> entryRows{{
    {{"xs", "药品销售(&Y)"}, nullptr},
    {{"ch", "存货管理(&S)"}, nullptr},
    {{"tj", "数据统计(&C)"}, nullptr},
    {{"yp", "药品管理(&M)"}, nullptr},
    {{"GSP1", "GSP管理"}, nullptr},
    {{"dm", "代码维护(&D)"}, nullptr},
    {{"help", "帮助(&H)"}, nullptr},
    {{"exit", "退出(&E)"}, nullptr},
    {{"N2", "模板编辑"}, &Tfmain::N2Click},
}};

// ToolButton1..ToolButton19 left to right; a null command is a divider.
struct ToolRow
{
    const char* name;
    const char* command;
};

const std::array<ToolRow, 19> toolRows{{
    {"ToolButton1", "ls1"},    {"ToolButton2", "pf1"},       {"ToolButton3", nullptr},  {"ToolButton4", "rk1"},
    {"ToolButton5", "ty1"},    {"ToolButton6", nullptr},     {"ToolButton8", "xstj"},   {"ToolButton7", "djsearch"},
    {"ToolButton10", nullptr}, {"ToolButton9", "ypadd"},     {"ToolButton11", nullptr}, {"ToolButton12", "yg1"},
    {"ToolButton13", "bm1"},   {"ToolButton14", "company1"}, {"ToolButton15", "user1"}, {"ToolButton16", "back1"},
    {"ToolButton17", nullptr}, {"ToolButton19", "about"},    {"ToolButton18", "quit"},
}};

constexpr int ClientWidth = 891;
constexpr int ClientHeight = 302;
constexpr int CoolBarHeight = 57;
constexpr int ToolBarWidth = 1011;
constexpr int ToolBarHeight = 54;
constexpr int ButtonWidth = 59;
constexpr int ButtonHeight = 55;
constexpr int DividerWidth = 8;
constexpr int StatusBarHeight = 25;
constexpr std::array<int, 3> PanelWidths{200, 200, 400};

// The flat menu look: "宋体" 12 px, button-face backgrounds, highlight
// selection, disabled text in the (classic) inactive-caption grey.
const char* const MenuStyle = R"(
QMenuBar, QMenu {
    font-family: "宋体";
    font-size: 12px;
    background-color: palette(button);
    color: palette(button-text);
}
QMenuBar::item { background: transparent; padding: 3px 7px; }
QMenuBar::item:selected, QMenu::item:selected {
    background-color: palette(highlight);
    border: 1px solid palette(highlight);
    color: palette(button-text);
}
QMenu { border: 1px solid palette(mid); }
QMenu::item { padding: 4px 20px 4px 28px; border: 1px solid transparent; }
QMenu::item:disabled, QMenuBar::item:disabled { color: #808080; }
QMenu::icon { left: 4px; }
QMenu::separator { height: 1px; background: palette(mid); margin: 3px 2px 3px 26px; }
)";

} // namespace

// ---------------------------------------------------------------- catalogue

const std::vector<MenuEntryDefinition>& Tfmain::entryCatalogue()
{
    static const std::vector<MenuEntryDefinition> entries = [] {
        std::vector<MenuEntryDefinition> list;
        for (const EntryRow& row : entryRows)
            list.push_back(row.info);
        return list;
    }();
    return entries;
}

const std::vector<MenuItemDefinition>& Tfmain::menuCatalogue()
{
    static const std::vector<MenuItemDefinition> items = [] {
        std::vector<MenuItemDefinition> list;
        for (const MenuRow& row : menuRows)
            list.push_back(row.info);
        return list;
    }();
    return items;
}

QStringList Tfmain::commandsOfGroup(int group)
{
    QStringList names;
    if (group < 0)
        return names;
    for (const MenuRow& row : menuRows) {
        if (row.info.group == group)
            names << QLatin1String(row.info.name);
    }
    return names;
}

QStringList Tfmain::alwaysAvailableCommands()
{
    QStringList names;
    for (const MenuRow& row : menuRows) {
        if (row.info.group == MenuItemDefinition::AlwaysAvailable)
            names << QLatin1String(row.info.name);
    }
    return names;
}

QStringList Tfmain::businessCommands()
{
    static const QStringList own{QStringLiteral("mm"),         QStringLiteral("user1"), QStringLiteral("back1"),
                                 QStringLiteral("systemhelp"), QStringLiteral("about"), QStringLiteral("relogin"),
                                 QStringLiteral("quit")};
    QStringList names;
    for (const MenuRow& row : menuRows) {
        const QString name = QLatin1String(row.info.name);
        if (row.info.group != MenuItemDefinition::Separator && !own.contains(name))
            names << name;
    }
    return names;
}

QString Tfmain::notInProgramText(const QString& name)
{
    QString caption = name;
    for (const MenuRow& row : menuRows)
        if (name == QLatin1String(row.info.name))
            caption = QString::fromUtf8(row.info.caption);
    for (const EntryRow& row : entryRows)
        if (name == QLatin1String(row.info.name))
            caption = QString::fromUtf8(row.info.caption);
    return QStringLiteral("“%1”的画面不在本程序之中。\n"
                          "本程序是药品管理系统的启动和登录部分：连接数据库、操作员登录、更换用户和密码、"
                          "用户管理和数据备份。")
        .arg(caption);
}

void Tfmain::setCommandAction(const QString& name, std::function<void()> action)
{
    m_actions.insert(name, std::move(action));
}

// ---------------------------------------------------------------- window

Tfmain::Tfmain(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("fmain"));
    setWindowTitle(QStringLiteral("Tarvin医药管理系统"));
    QFont windowFont(QStringLiteral("MS Sans Serif"));
    windowFont.setPixelSize(13);
    setFont(windowFont);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    m_mdiArea = new QMdiArea(this);
    m_mdiArea->setObjectName(QStringLiteral("MDIClient"));
    setCentralWidget(m_mdiArea);

    buildMenu();
    buildToolBar();
    buildStatusBar();

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &Tfmain::Timer1Timer);
    m_timer->start();

    // Image1, a hidden 192 x 105 picture, is left out: nothing shows or uses it.

    placeWindow();
    FormCreate();
}

Tfmain::Tfmain(Platform& platform, QWidget* parent) : Tfmain(parent)
{
    m_platform = &platform;
}

Tfmain::~Tfmain() = default;

void Tfmain::buildMenu()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    bar->setStyleSheet(QString::fromUtf8(MenuStyle));

    for (const EntryRow& entry : entryRows) {
        const QString entryName = QLatin1String(entry.info.name);
        const QString caption = QString::fromUtf8(entry.info.caption);
        const bool hasItems = std::any_of(menuRows.cbegin(), menuRows.cend(), [&](const MenuRow& row) {
            return entryName == QLatin1String(row.info.entry);
        });
        QAction* entryAction = nullptr;
        if (hasItems) {
            QMenu* menu = bar->addMenu(caption);
            menu->setObjectName(entryName + QStringLiteral("Menu"));
            // Every separator of the table is drawn, a trailing one (N1) too.
            menu->setSeparatorsCollapsible(false);
            entryAction = menu->menuAction();
            for (const MenuRow& row : menuRows) {
                if (entryName != QLatin1String(row.info.entry))
                    continue;
                QAction* item = nullptr;
                if (row.info.group == MenuItemDefinition::Separator) {
                    item = menu->addSeparator();
                } else {
                    item = menu->addAction(QString::fromUtf8(row.info.caption));
                    item->setIcon(ImageLists::commandIcon(row.info.picture));
                    item->setVisible(!row.info.hidden);
                    item->setMenuRole(QAction::NoRole);
                    connect(item, &QAction::triggered, this, row.handler);
                }
                item->setObjectName(QLatin1String(row.info.name));
                m_items.insert(item->objectName(), item);
            }
        } else {
            // A bare entry is chosen by a click on the bar, like a command.
            entryAction = bar->addAction(caption);
            if (entry.handler != nullptr)
                connect(entryAction, &QAction::triggered, this, entry.handler);
        }
        entryAction->setObjectName(entryName);
        m_entries << entryAction;
    }
}

void Tfmain::buildToolBar()
{
    // CoolBar1 is the draggable band along the top; scroll1 pages ToolBar1
    // sideways when the window is narrower than the bar.
    m_coolBar = new QToolBar(this);
    m_coolBar->setObjectName(QStringLiteral("CoolBar1"));
    m_coolBar->setMovable(true);
    m_coolBar->setFloatable(false);
    m_coolBar->setAllowedAreas(Qt::TopToolBarArea);
    m_coolBar->setFixedHeight(CoolBarHeight);
    m_coolBar->setStyleSheet(QStringLiteral("QToolBar#CoolBar1 { border: none; border-bottom: 1px solid palette(mid);"
                                            " padding: 0px; spacing: 0px; }"));
    addToolBar(Qt::TopToolBarArea, m_coolBar);

    m_scroller = new PageScroller(m_coolBar);
    m_scroller->setObjectName(QStringLiteral("scroll1"));
    m_scroller->setFixedHeight(ToolBarHeight);

    m_toolBar = new QToolBar;
    m_toolBar->setObjectName(QStringLiteral("ToolBar1"));
    m_toolBar->setFixedSize(ToolBarWidth, ToolBarHeight);
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setIconSize(QSize(ImageLists::LargeSize, ImageLists::LargeSize));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolBar->setStyleSheet(
        QStringLiteral("QToolBar#ToolBar1 { border: none; padding: 0px; spacing: 0px; background: transparent; }"));

    for (const ToolRow& row : toolRows) {
        QWidget* widget = nullptr;
        if (row.command == nullptr) {
            auto* divider = new QFrame(m_toolBar);
            divider->setFrameShape(QFrame::VLine);
            divider->setFrameShadow(QFrame::Sunken);
            divider->setFixedSize(DividerWidth, ButtonHeight);
            widget = divider;
        } else {
            QAction* action = command(QLatin1String(row.command));
            Q_ASSERT(action != nullptr);
            // A plain button rather than setDefaultAction: the button copies its
            // command once and must not follow it into the disabled look.
            auto* button = new QToolButton(m_toolBar);
            button->setText(action->text());
            button->setIcon(action->icon());
            button->setToolTip(action->toolTip());
            button->setEnabled(action->isEnabled());
            button->setVisible(action->isVisible());
            button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
            button->setIconSize(QSize(ImageLists::LargeSize, ImageLists::LargeSize));
            button->setAutoRaise(true);
            button->setFixedSize(ButtonWidth, ButtonHeight);
            button->setCursor(Qt::PointingHandCursor);
            button->setFocusPolicy(Qt::NoFocus);
            connect(button, &QToolButton::clicked, action, [action] {
                if (action->isEnabled())
                    action->trigger();
            });
            widget = button;
        }
        widget->setObjectName(QLatin1String(row.name));
        m_toolBar->addWidget(widget);
        m_toolButtons << widget;
    }

    m_scroller->setWidget(m_toolBar);
    m_coolBar->addWidget(m_scroller);
}

void Tfmain::buildStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setFixedHeight(StatusBarHeight);
    bar->setSizeGripEnabled(false);
    for (int i = 0; i < int(PanelWidths.size()); ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("panel%1").arg(i));
        panel->setFixedWidth(PanelWidths[i]);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        bar->addWidget(panel);
        m_panels << panel;
    }
}

QSize Tfmain::restoredSize() const
{
    return {ClientWidth, ClientHeight + menuBar()->sizeHint().height()};
}

void Tfmain::placeWindow()
{
    // Restored: centred; shown maximized.
    resize(restoredSize());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    setWindowState(windowState() | Qt::WindowMaximized);
}

// A single, fixed-size border: restored, the window keeps its size, centred,
// and no dragging changes it. Maximised it takes the screen's area, which a
// window manager gives only to a window whose size may change.
void Tfmain::fitBorderToState()
{
    const Qt::WindowStates state = windowState();
    if (state.testFlag(Qt::WindowMinimized))
        return;
    if (state.testAnyFlags(Qt::WindowMaximized | Qt::WindowFullScreen)) {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        return;
    }
    setFixedSize(restoredSize());
    if (const QScreen* screen = this->screen()) {
        const QSize border = frameGeometry().size() - size();
        QRect frame(QPoint(0, 0), restoredSize() + border);
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void Tfmain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        fitBorderToState();
}

// The window has no context menu of its own: the toolkit's default one would
// offer to hide the band with all its commands.
QMenu* Tfmain::createPopupMenu()
{
    return nullptr;
}

QMenuBar* Tfmain::MainMenu1() const
{
    return menuBar();
}

QList<QAction*> Tfmain::topLevelEntries() const
{
    return m_entries;
}

QList<QAction*> Tfmain::itemsOf(const QAction* entry)
{
    if (entry == nullptr || entry->menu() == nullptr)
        return {};
    return entry->menu()->actions();
}

QAction* Tfmain::command(const QString& name) const
{
    return m_items.value(name, nullptr);
}

QStatusBar* Tfmain::StatusBar1() const
{
    return statusBar();
}

void Tfmain::setPanelText(int panel, const QString& text)
{
    if (panel >= 0 && panel < m_panels.size())
        m_panels[panel]->setText(text);
}

QString Tfmain::panelText(int panel) const
{
    if (panel < 0 || panel >= m_panels.size())
        return {};
    return m_panels[panel]->text();
}

// ---------------------------------------------------------------- hooks

void Tfmain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void Tfmain::closeEvent(QCloseEvent* event)
{
    if (FormCloseQuery())
        event->accept();
    else
        event->ignore();
}

void Tfmain::FormCreate() {}
void Tfmain::FormShow() {}

bool Tfmain::FormCloseQuery()
{
    return true;
}

// Panel 0 is the clock: nothing else writes it.
void Tfmain::Timer1Timer()
{
    static const QLocale chinese(QLocale::Chinese, QLocale::China);
    setPanelText(0, chinese.toString(QDateTime::currentDateTime(), QStringLiteral("yyyy-MM-dd dddd HH:mm:ss")));
}

void Tfmain::runCommand(const QString& name)
{
    const QAction* item = command(name);
    if (item == nullptr || !item->isEnabled())
        return;
    if (const auto action = m_actions.value(name))
        action();
}

void Tfmain::sayNotInProgram(const QString& name)
{
    // N2 is an entry of the bar, which no sign-on disables.
    const QAction* item = command(name);
    if ((item != nullptr && !item->isEnabled()) || m_platform == nullptr)
        return;
    m_platform->messageBox(
        MessageBoxRequest::ok(notInProgramText(name), QStringLiteral("提示"), MsgIcon::Information, this));
}

// clang-format off
void Tfmain::ls1Click() { sayNotInProgram(QStringLiteral("ls1")); }
void Tfmain::pf1Click() { sayNotInProgram(QStringLiteral("pf1")); }
void Tfmain::crlist1Click() { sayNotInProgram(QStringLiteral("crlist1")); }
void Tfmain::rk1Click() { sayNotInProgram(QStringLiteral("rk1")); }
void Tfmain::ty1Click() { sayNotInProgram(QStringLiteral("ty1")); }
void Tfmain::bs1Click() { sayNotInProgram(QStringLiteral("bs1")); }
void Tfmain::xl1Click() { sayNotInProgram(QStringLiteral("xl1")); }
void Tfmain::pd1Click() { sayNotInProgram(QStringLiteral("pd1")); }
void Tfmain::kclist1Click() { sayNotInProgram(QStringLiteral("kclist1")); }
void Tfmain::xstjClick() { sayNotInProgram(QStringLiteral("xstj")); }
void Tfmain::kctjClick() { sayNotInProgram(QStringLiteral("kctj")); }
void Tfmain::djsearchClick() { sayNotInProgram(QStringLiteral("djsearch")); }
void Tfmain::supportClick() { sayNotInProgram(QStringLiteral("support")); }
void Tfmain::yplist1Click() { sayNotInProgram(QStringLiteral("yplist1")); }
void Tfmain::ypaddClick() { sayNotInProgram(QStringLiteral("ypadd")); }
void Tfmain::ypeditClick() { sayNotInProgram(QStringLiteral("ypedit")); }
void Tfmain::yppriceClick() { sayNotInProgram(QStringLiteral("ypprice")); }
void Tfmain::yg1Click() { sayNotInProgram(QStringLiteral("yg1")); }
void Tfmain::bm1Click() { sayNotInProgram(QStringLiteral("bm1")); }
void Tfmain::company1Click() { sayNotInProgram(QStringLiteral("company1")); }
void Tfmain::mmClick() { runCommand(QStringLiteral("mm")); }
void Tfmain::user1Click() { runCommand(QStringLiteral("user1")); }
void Tfmain::back1Click() { runCommand(QStringLiteral("back1")); }
void Tfmain::systemhelpClick() { runCommand(QStringLiteral("systemhelp")); }
void Tfmain::aboutClick() { runCommand(QStringLiteral("about")); }
void Tfmain::reloginClick() { runCommand(QStringLiteral("relogin")); }
// clang-format on

void Tfmain::quitClick()
{
    close();
}

void Tfmain::N2Click()
{
    sayNotInProgram(QStringLiteral("N2"));
}

} // namespace velmora
