#include "mainwin/ImageLists.h"
#include "mainwin/Tfmain.h"
#include "platform/QtPlatform.h"
#include "tests/support/ScriptedPlatform.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <memory>
#include <set>

using namespace velmora;

namespace {

struct ExpectedItem
{
    const char* name;
    const char* caption; // nullptr: separator
    int picture;         // -1: none
    bool hidden = false;
};

struct ExpectedEntry
{
    const char* name;
    const char* caption;
    std::vector<ExpectedItem> items;
};

// The menu as the shop's staff know it, written out independently of the
// window's own catalogue.
const std::vector<ExpectedEntry> expectedMenu{
    {"xs",
     "药品销售(&Y)",
     {{"ls1", "药品零售", 0}, {"pf1", "药品批发", 1}, {"N12", nullptr, -1}, {"crlist1", "销售浏览", -1}}},
    {"ch",
     "存货管理(&S)",
     {{"rk1", "药品入库", 2},
      {"ty1", "药品退药", 3},
      {"bs1", "药品报损", -1},
      {"xl1", "库存限量", -1},
      {"pd1", "库存盘点", -1},
      {"N18", nullptr, -1},
      {"kclist1", "存货浏览", -1}}},
    {"tj",
     "数据统计(&C)",
     {{"xstj", "销售统计", 13},
      {"kctj", "库存统计", -1},
      {"N14", nullptr, -1},
      {"djsearch", "单据查询", 6},
      {"support", "决策支持", -1, true}}},
    {"yp",
     "药品管理(&M)",
     {{"yplist1", "药品浏览", -1},
      {"ypadd", "新增药品", 7},
      {"ypedit", "药品修改", -1},
      {"N24", nullptr, -1},
      {"ypprice", "药品调价", 5}}},
    {"GSP1", "GSP管理", {}},
    {"dm",
     "代码维护(&D)",
     {{"yg1", "员工管理", 12},
      {"bm1", "部门管理", 14},
      {"company1", "往来单位", 11},
      {"N29", nullptr, -1},
      {"mm", "更换密码", -1},
      {"user1", "用户管理", 10},
      {"N37", nullptr, -1},
      {"back1", "备份数据", 15},
      {"N1", nullptr, -1}}},
    {"help", "帮助(&H)", {{"systemhelp", "系统帮助", 18}, {"N41", nullptr, -1}, {"about", "关于程序", 17}}},
    {"exit", "退出(&E)", {{"relogin", "更换用户", -1}, {"N36", nullptr, -1}, {"quit", "退出程序", 16}}},
    {"N2", "模板编辑", {}},
};

bool samePicture(const QPixmap& a, const QPixmap& b)
{
    return !a.isNull() && !b.isNull() &&
           a.toImage().convertToFormat(QImage::Format_ARGB32) == b.toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestTfmain : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Tfmain> m_window;

    QAction* entryNamed(const QString& name) const
    {
        for (QAction* a : m_window->topLevelEntries()) {
            if (a->objectName() == name)
                return a;
        }
        return nullptr;
    }

    QToolButton* toolButton(const QString& name) const { return m_window->ToolBar1()->findChild<QToolButton*>(name); }

    static QAction* entryNamed(const Tfmain& window, const QString& name)
    {
        for (QAction* a : window.topLevelEntries()) {
            if (a->objectName() == name)
                return a;
        }
        return nullptr;
    }

    // The command's click handler, called as a hook.
    static void callHook(Tfmain& window, const QString& name)
    {
        using Hook = void (Tfmain::*)();
        static const QHash<QString, Hook> hooks{
            {"ls1", &Tfmain::ls1Click},         {"pf1", &Tfmain::pf1Click},
            {"crlist1", &Tfmain::crlist1Click}, {"rk1", &Tfmain::rk1Click},
            {"ty1", &Tfmain::ty1Click},         {"bs1", &Tfmain::bs1Click},
            {"xl1", &Tfmain::xl1Click},         {"pd1", &Tfmain::pd1Click},
            {"kclist1", &Tfmain::kclist1Click}, {"xstj", &Tfmain::xstjClick},
            {"kctj", &Tfmain::kctjClick},       {"djsearch", &Tfmain::djsearchClick},
            {"support", &Tfmain::supportClick}, {"yplist1", &Tfmain::yplist1Click},
            {"ypadd", &Tfmain::ypaddClick},     {"ypedit", &Tfmain::ypeditClick},
            {"ypprice", &Tfmain::yppriceClick}, {"yg1", &Tfmain::yg1Click},
            {"bm1", &Tfmain::bm1Click},         {"company1", &Tfmain::company1Click},
            {"mm", &Tfmain::mmClick},           {"user1", &Tfmain::user1Click},
            {"back1", &Tfmain::back1Click},     {"systemhelp", &Tfmain::systemhelpClick},
            {"about", &Tfmain::aboutClick},     {"relogin", &Tfmain::reloginClick},
        };
        const Hook hook = hooks.value(name);
        QVERIFY2(hook != nullptr, qPrintable(name));
        (window.*hook)();
    }

private slots:
    void initTestCase() { installChineseUi(*qApp); }
    void init() { m_window = std::make_unique<Tfmain>(); }
    void cleanup() { m_window.reset(); }

    void windowSettings()
    {
        Tfmain& w = *m_window;
        QCOMPARE(w.objectName(), QStringLiteral("fmain"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Tarvin医药管理系统"));
        QVERIFY(qobject_cast<QMdiArea*>(w.centralWidget()) != nullptr);
        QCOMPARE(w.centralWidget(), w.mdiArea());
        QVERIFY(w.windowState().testFlag(Qt::WindowMaximized));
        QCOMPARE(w.font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(w.font().pixelSize(), 13);
        QCOMPARE(w.MainMenu1(), w.findChild<QMenuBar*>(QStringLiteral("MainMenu1")));
        QCOMPARE(w.StatusBar1(), w.findChild<QStatusBar*>(QStringLiteral("StatusBar1")));
    }

    // Restored, the window has a client area of 891 x 302 below its menu,
    // placed in the middle of the screen.
    void restoredGeometry()
    {
        const QRect placed = m_window->normalGeometry();
        const QPoint centre = m_window->screen()->availableGeometry().center();
        QVERIFY(qAbs(placed.center().x() - centre.x()) <= 1);
        QVERIFY(qAbs(placed.center().y() - centre.y()) <= 1);

        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QVERIFY(m_window->isMaximized());
        m_window->showNormal();
        QTRY_COMPARE(m_window->width(), 891);
        QCOMPARE(m_window->height() - m_window->MainMenu1()->height(), 302);
        // Single, fixed size: restored, no dragging changes it; maximised again
        // it may take the screen's size.
        QCOMPARE(m_window->minimumSize(), m_window->restoredSize());
        QCOMPARE(m_window->maximumSize(), m_window->restoredSize());
        m_window->showMaximized();
        QTRY_VERIFY(m_window->isMaximized());
        QCOMPARE(m_window->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    }

    void accelerators_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("entry");
        QTest::newRow("Alt+Y") << int(Qt::Key_Y) << "xs";
        QTest::newRow("Alt+S") << int(Qt::Key_S) << "ch";
        QTest::newRow("Alt+C") << int(Qt::Key_C) << "tj";
        QTest::newRow("Alt+M") << int(Qt::Key_M) << "yp";
        QTest::newRow("Alt+D") << int(Qt::Key_D) << "dm";
        QTest::newRow("Alt+H") << int(Qt::Key_H) << "help";
        QTest::newRow("Alt+E") << int(Qt::Key_E) << "exit";
    }

    // The accelerator in an entry's caption opens that entry's menu.
    void accelerators()
    {
        QFETCH(int, key);
        QFETCH(QString, entry);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QApplication::setActiveWindow(m_window.get());
        QTest::keyClick(m_window.get(), Qt::Key(key), Qt::AltModifier);
        QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
        QWidget* popup = QApplication::activePopupWidget();
        const bool right = popup == entryNamed(entry)->menu();
        popup->close();
        QVERIFY(right);
    }

    void sessionEmptyAtCreation()
    {
        const Session& s = m_window->session();
        QVERIFY(s.operatorId.isEmpty());
        QCOMPARE(s.rightsWord, 0);
        QCOMPARE(s.sessionNo, 0);
        QCOMPARE(s.loginRecordId, 0);
    }

    // The whole two-level menu against the table above: entries, items,
    // captions, separators, pictures, visibility, enabled state, no shortcuts.
    void menuMatchesTable()
    {
        const QList<QAction*> entries = m_window->topLevelEntries();
        QCOMPARE(entries, m_window->MainMenu1()->actions());
        QCOMPARE(entries.size(), int(expectedMenu.size()));
        int commands = 0;
        int separators = 0;
        for (int e = 0; e < entries.size(); ++e) {
            const ExpectedEntry& want = expectedMenu[e];
            QAction* entry = entries[e];
            QCOMPARE(entry->objectName(), QLatin1String(want.name));
            QCOMPARE(entry->text(), QString::fromUtf8(want.caption));
            QVERIFY(entry->isEnabled());
            QVERIFY(entry->isVisible());
            QVERIFY(entry->shortcut().isEmpty());

            const QList<QAction*> items = Tfmain::itemsOf(entry);
            QCOMPARE(items.size(), int(want.items.size()));
            for (int i = 0; i < items.size(); ++i) {
                const ExpectedItem& wi = want.items[i];
                QAction* item = items[i];
                const QByteArray where = QByteArray(want.name) + '/' + wi.name;
                QVERIFY2(item->objectName() == QLatin1String(wi.name), where);
                QVERIFY2(item->isVisible() == !wi.hidden, where);
                // Qt reports a hidden action as disabled but keeps its own
                // enabled flag, which shows again once the action is visible.
                item->setVisible(true);
                QVERIFY2(item->isEnabled(), where);
                item->setVisible(!wi.hidden);
                QVERIFY2(item->menu() == nullptr, where);
                QVERIFY2(item->shortcut().isEmpty(), where);
                QCOMPARE(m_window->command(QLatin1String(wi.name)), item);
                if (wi.caption == nullptr) {
                    QVERIFY2(item->isSeparator(), where);
                    ++separators;
                    continue;
                }
                ++commands;
                QVERIFY2(!item->isSeparator(), where);
                QCOMPARE(item->text(), QString::fromUtf8(wi.caption));
                if (wi.picture < 0)
                    QVERIFY2(item->icon().isNull(), where);
                else
                    QVERIFY2(
                        samePicture(item->icon().pixmap(ImageLists::SmallSize), ImageLists::ImageList2(wi.picture)),
                        where);
            }
        }
        QCOMPARE(commands, 27);
        QCOMPARE(separators, 9);
        QVERIFY(m_window->command(QStringLiteral("GSP1")) == nullptr);
        QVERIFY(m_window->command(QStringLiteral("nosuch")) == nullptr);
    }

    void catalogueDescribesTheMenu()
    {
        const auto& catalogue = Tfmain::menuCatalogue();
        QCOMPARE(int(catalogue.size()), 36);
        for (const MenuItemDefinition& row : catalogue) {
            QAction* item = m_window->command(QLatin1String(row.name));
            QVERIFY2(item != nullptr, row.name);
            QCOMPARE(item->parent()->objectName(), QLatin1String(row.entry) + QStringLiteral("Menu"));
            QCOMPARE(item->isSeparator(), row.group == MenuItemDefinition::Separator);
        }
        QCOMPARE(int(Tfmain::entryCatalogue().size()), 9);
    }

    void groups()
    {
        const QList<int> sizes{3, 6, 4, 4, 3, 1, 1};
        std::multiset<QString> seen;
        for (int g = 0; g < sizes.size(); ++g) {
            const QStringList names = Tfmain::commandsOfGroup(g);
            QCOMPARE(names.size(), sizes[g]);
            for (const QString& n : names)
                seen.insert(n);
        }
        const QStringList always = Tfmain::alwaysAvailableCommands();
        QCOMPARE(always, (QStringList{"mm", "systemhelp", "about", "relogin", "quit"}));
        for (const QString& n : always)
            seen.insert(n);

        // Every command of the second level in exactly one group.
        int commands = 0;
        for (QAction* entry : m_window->topLevelEntries()) {
            for (QAction* item : Tfmain::itemsOf(entry)) {
                if (item->isSeparator()) {
                    QCOMPARE(seen.count(item->objectName()), size_t(0));
                    continue;
                }
                ++commands;
                QVERIFY2(seen.count(item->objectName()) == 1, qPrintable(item->objectName()));
            }
        }
        QCOMPARE(commands, 27);
        QCOMPARE(int(seen.size()), 27);

        // Groups 0 to 3 are the whole of their menus.
        const QStringList wholeMenus{"xs", "ch", "tj", "yp"};
        for (int g = 0; g < wholeMenus.size(); ++g) {
            QStringList items;
            for (QAction* item : Tfmain::itemsOf(entryNamed(wholeMenus[g]))) {
                if (!item->isSeparator())
                    items << item->objectName();
            }
            QCOMPARE(Tfmain::commandsOfGroup(g), items);
        }
        QCOMPARE(Tfmain::commandsOfGroup(4), (QStringList{"yg1", "bm1", "company1"}));
        QVERIFY(Tfmain::commandsOfGroup(7).isEmpty());
        QVERIFY(Tfmain::commandsOfGroup(-1).isEmpty());
    }

    void menuStyle()
    {
        QMenu* menu = m_window->topLevelEntries().first()->menu();
        QVERIFY(menu != nullptr);
        menu->ensurePolished();
        QCOMPARE(menu->font().family(), QStringLiteral("宋体"));
        QCOMPARE(menu->font().pixelSize(), 12);
    }

    void bareEntries_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("GSP1") << "GSP1";
        QTest::newRow("N2") << "N2";
    }

    // A click on an entry without items opens no menu; it is chosen like a
    // command (N2 runs N2Click, GSP1 has no handler).
    void bareEntries()
    {
        QFETCH(QString, name);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QMenuBar* bar = m_window->MainMenu1();
        QAction* entry = entryNamed(name);
        QVERIFY(entry != nullptr);
        QVERIFY(entry->menu() == nullptr);
        QVERIFY(Tfmain::itemsOf(entry).isEmpty());
        QSignalSpy chosen(entry, &QAction::triggered);
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(entry).center());
        QCOMPARE(chosen.count(), 1);
        QVERIFY(QApplication::activePopupWidget() == nullptr);
        QVERIFY(m_window->isVisible());
    }

    void rightClickOffersNoMenu_data()
    {
        QTest::addColumn<QString>("widget");
        QTest::newRow("menu bar") << "MainMenu1";
        QTest::newRow("band") << "CoolBar1";
        QTest::newRow("tool bar") << "ToolBar1";
        QTest::newRow("status bar") << "StatusBar1";
    }

    // The toolkit's own window menu would offer to hide the band and every
    // tool button with it; the window has no context menu at all.
    void rightClickOffersNoMenu()
    {
        QFETCH(QString, widget);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        auto* target = m_window->findChild<QWidget*>(widget);
        QVERIFY(target != nullptr);
        // The far end, where no menu entry or tool button lies.
        const QPoint place(target->width() - 3, target->height() / 2);
        QTest::mouseClick(target, Qt::RightButton, {}, place);
        // The press above does not raise the context-menu request on the
        // offscreen platform; the window system's request is sent as it comes.
        QContextMenuEvent request(QContextMenuEvent::Mouse, place, target->mapToGlobal(place));
        QApplication::sendEvent(target, &request);
        // A menu the request opened is shown by the time it returns, or by the events it posted.
        QCoreApplication::processEvents();
        QWidget* popup = QApplication::activePopupWidget();
        if (popup != nullptr)
            popup->close();
        QVERIFY2(popup == nullptr, "a context menu popped up");
        QVERIFY(m_window->findChild<QToolBar*>(QStringLiteral("CoolBar1"))->isVisible());
    }

    // Every separator of the table takes its place in the open menu, the
    // trailing N1 of 代码维护 too.
    void separatorsAreDrawnWhereTheTableHasThem()
    {
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QMenu* menu = entryNamed(QStringLiteral("dm"))->menu();
        menu->popup(m_window->mapToGlobal(QPoint(10, 10)));
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        const QList<QAction*> items = menu->actions();
        int separators = 0;
        for (QAction* item : items) {
            if (!item->isSeparator())
                continue;
            ++separators;
            QVERIFY2(menu->actionGeometry(item).height() > 0, qPrintable(item->objectName()));
        }
        QCOMPARE(separators, 3);
        QCOMPARE(items.last()->objectName(), QStringLiteral("N1"));
        QVERIFY(menu->actionGeometry(items.last()).top() > menu->actionGeometry(items.at(items.size() - 2)).top());
        menu->close();
    }

    void menuChoice_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("item");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("ls1 enabled") << "xs"
                                     << "ls1" << true;
        QTest::newRow("ls1 disabled") << "xs"
                                      << "ls1" << false;
        QTest::newRow("user1 enabled") << "dm"
                                       << "user1" << true;
        QTest::newRow("user1 disabled") << "dm"
                                        << "user1" << false;
    }

    // Choosing an item with the mouse runs its command only while enabled.
    void menuChoice()
    {
        QFETCH(QString, entry);
        QFETCH(QString, item);
        QFETCH(bool, enabled);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QAction* command = m_window->command(item);
        command->setEnabled(enabled);
        QSignalSpy chosen(command, &QAction::triggered);

        QMenuBar* bar = m_window->MainMenu1();
        QAction* entryAction = entryNamed(entry);
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(entryAction).center());
        QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QCOMPARE(menu, entryAction->menu());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(command).center());
        QCOMPARE(chosen.count(), enabled ? 1 : 0);
        if (QApplication::activePopupWidget() != nullptr)
            QApplication::activePopupWidget()->close();
    }

    void toolButtons_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("command"); // empty: divider
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("picture");
        const struct
        {
            const char* name;
            const char* command;
            const char* caption;
            int picture;
        } rows[] = {
            {"ToolButton1", "ls1", "药品零售", 0},
            {"ToolButton2", "pf1", "药品批发", 1},
            {"ToolButton3", "", "", -1},
            {"ToolButton4", "rk1", "药品入库", 2},
            {"ToolButton5", "ty1", "药品退药", 3},
            {"ToolButton6", "", "", -1},
            {"ToolButton8", "xstj", "销售统计", 13},
            {"ToolButton7", "djsearch", "单据查询", 6},
            {"ToolButton10", "", "", -1},
            {"ToolButton9", "ypadd", "新增药品", 7},
            {"ToolButton11", "", "", -1},
            {"ToolButton12", "yg1", "员工管理", 12},
            {"ToolButton13", "bm1", "部门管理", 14},
            {"ToolButton14", "company1", "往来单位", 11},
            {"ToolButton15", "user1", "用户管理", 10},
            {"ToolButton16", "back1", "备份数据", 15},
            {"ToolButton17", "", "", -1},
            {"ToolButton19", "about", "关于程序", 17},
            {"ToolButton18", "quit", "退出程序", 16},
        };
        int position = 0;
        for (const auto& r : rows) {
            QTest::newRow(r.name) << position++ << QString::fromLatin1(r.name) << QString::fromLatin1(r.command)
                                  << QString::fromUtf8(r.caption) << r.picture;
        }
    }

    // The nineteen buttons in order; a command button shows its command's
    // caption and the large form of its picture under a pointing hand.
    void toolButtons()
    {
        QFETCH(int, position);
        QFETCH(QString, name);
        QFETCH(QString, command);
        QFETCH(QString, caption);
        QFETCH(int, picture);

        const QList<QWidget*> buttons = m_window->toolButtons();
        QCOMPARE(buttons.size(), 19);
        QWidget* widget = buttons[position];
        QCOMPARE(widget->objectName(), name);
        QCOMPARE(widget->parentWidget(), static_cast<QWidget*>(m_window->ToolBar1()));
        auto* button = qobject_cast<QToolButton*>(widget);
        if (command.isEmpty()) {
            QVERIFY(button == nullptr);
            QCOMPARE(widget->width(), 8);
            return;
        }
        QVERIFY(button != nullptr);
        QAction* action = m_window->command(command);
        QVERIFY(action != nullptr);
        QCOMPARE(button->text(), caption);
        QCOMPARE(button->text(), action->text());
        QCOMPARE(button->toolTip(), action->toolTip());
        QVERIFY(button->defaultAction() == nullptr);
        QVERIFY(samePicture(button->icon().pixmap(ImageLists::LargeSize), ImageLists::ImageList1(picture)));
        QCOMPARE(button->size(), QSize(59, 55));
        QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QVERIFY(button->autoRaise());
        QCOMPARE(button->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(button->isEnabled());
        QVERIFY(!button->isHidden());
    }

    void toolBarShape()
    {
        QToolBar* bar = m_window->ToolBar1();
        QCOMPARE(bar->objectName(), QStringLiteral("ToolBar1"));
        QCOMPARE(bar->size(), QSize(1011, 54));
        QCOMPARE(m_window->findChild<QToolBar*>(QStringLiteral("CoolBar1"))->height(), 57);
        QVERIFY(m_window->findChild<QWidget*>(QStringLiteral("scroll1")) != nullptr);
        QVERIFY(bar->isAncestorOf(m_window->toolButtons().first()));
    }

    void toolButtonPress_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("command");
        const char* const rows[][2] = {
            {"ToolButton1", "ls1"},       {"ToolButton2", "pf1"},    {"ToolButton4", "rk1"},
            {"ToolButton5", "ty1"},       {"ToolButton8", "xstj"},   {"ToolButton7", "djsearch"},
            {"ToolButton9", "ypadd"},     {"ToolButton12", "yg1"},   {"ToolButton13", "bm1"},
            {"ToolButton14", "company1"}, {"ToolButton15", "user1"}, {"ToolButton16", "back1"},
            {"ToolButton19", "about"},
        };
        for (const auto& r : rows)
            QTest::newRow(r[0]) << QString::fromLatin1(r[0]) << QString::fromLatin1(r[1]);
    }

    // A press runs the command while it is enabled; once the command is
    // disabled a press does nothing and the button still looks enabled.
    void toolButtonPress()
    {
        QFETCH(QString, button);
        QFETCH(QString, command);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QToolButton* b = toolButton(button);
        QAction* action = m_window->command(command);
        QVERIFY(b != nullptr && action != nullptr);
        QSignalSpy chosen(action, &QAction::triggered);

        QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(chosen.count(), 1);

        action->setEnabled(false);
        QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(chosen.count(), 1);
        QVERIFY(b->isEnabled());

        action->setEnabled(true);
        QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(chosen.count(), 2);
    }

    void quitButtonClosesWindow()
    {
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QTest::mouseClick(toolButton(QStringLiteral("ToolButton18")), Qt::LeftButton);
        QTRY_VERIFY(!m_window->isVisible());
    }

    void closingIsAllowed()
    {
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QVERIFY(m_window->close());
        QVERIFY(!m_window->isVisible());
    }

    void statusPanels()
    {
        QStatusBar* bar = m_window->StatusBar1();
        QCOMPARE(bar->height(), 25);
        const QList<int> widths{200, 200, 400};
        for (int i = 0; i < widths.size(); ++i) {
            auto* panel = bar->findChild<QLabel*>(QStringLiteral("panel%1").arg(i));
            QVERIFY(panel != nullptr);
            QCOMPARE(panel->width(), widths[i]);
            QVERIFY(m_window->panelText(i).isEmpty());
        }
        QVERIFY(bar->currentMessage().isEmpty());

        m_window->setPanelText(1, QStringLiteral("操作员:12"));
        QCOMPARE(m_window->panelText(1), QStringLiteral("操作员:12"));
        QCOMPARE(bar->findChild<QLabel*>(QStringLiteral("panel1"))->text(), QStringLiteral("操作员:12"));
        QVERIFY(m_window->panelText(0).isEmpty());
        // Out of range panels are ignored rather than fatal.
        m_window->setPanelText(3, QStringLiteral("x"));
        QVERIFY(m_window->panelText(3).isEmpty());
        QVERIFY(m_window->panelText(-1).isEmpty());
    }

    void statusPanelsShownInOrder()
    {
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QStatusBar* bar = m_window->StatusBar1();
        int left = -1;
        for (int i = 0; i < 3; ++i) {
            auto* panel = bar->findChild<QLabel*>(QStringLiteral("panel%1").arg(i));
            QVERIFY(panel->isVisible());
            QVERIFY(panel->x() > left);
            left = panel->x();
        }
    }

    // Panel 0 is the clock: each tick of Timer1 writes the date and time.
    void clockInPanelZero()
    {
        QVERIFY(m_window->panelText(0).isEmpty());
        const QLocale chinese(QLocale::Chinese, QLocale::China);
        const QString format = QStringLiteral("yyyy-MM-dd dddd HH:mm:ss");
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->panelText(0).isEmpty(), 5000);
        for (int tick = 0; tick < 2; ++tick) {
            const QDateTime before = QDateTime::currentDateTime().addMSecs(-1000);
            if (tick == 1)
                m_window->Timer1Timer();
            const QDateTime shown = chinese.toDateTime(m_window->panelText(0), format);
            QVERIFY2(shown.isValid(), qPrintable(m_window->panelText(0)));
            QVERIFY2(shown >= before.addMSecs(-1000) && shown <= QDateTime::currentDateTime(),
                     qPrintable(m_window->panelText(0)));
        }
        // The date shows the weekday in Chinese, as "2026-12-11 星期五 08:15:00".
        QVERIFY2(m_window->panelText(0).contains(QStringLiteral("星期")), qPrintable(m_window->panelText(0)));
    }

    void businessCommandsAreTheOtherTwenty()
    {
        const QStringList business = Tfmain::businessCommands();
        QCOMPARE(business.size(), 20);
        for (const char* own : {"mm", "user1", "back1", "systemhelp", "about", "relogin", "quit"})
            QVERIFY2(!business.contains(QLatin1String(own)), own);
        for (const QString& name : business)
            QVERIFY2(m_window->command(name) != nullptr, qPrintable(name));
    }

    void businessCommandAnswers_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        for (const MenuItemDefinition& item : Tfmain::menuCatalogue()) {
            // support is hidden, and a hidden action is never enabled: nobody can choose it.
            if (Tfmain::businessCommands().contains(QLatin1String(item.name)) && !item.hidden)
                QTest::newRow(item.name) << QString::fromLatin1(item.name) << QString::fromUtf8(item.caption);
        }
        QTest::newRow("N2") << "N2"
                            << "模板编辑";
    }

    // A business command, whose screen this program does not contain, says so in an information box owned by
    // the main window, and only while it is enabled.
    void businessCommandAnswers()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        test::ScriptedPlatform platform;
        Tfmain window(platform);
        QAction* action = window.command(name) ? window.command(name) : entryNamed(window, name);
        QVERIFY(action != nullptr);

        action->trigger();
        QCOMPARE(platform.boxes().size(), 1);
        const MessageBoxRequest& box = platform.boxes().first();
        QCOMPARE(box.caption, QStringLiteral("提示"));
        QCOMPARE(box.icon, MsgIcon::Information);
        QCOMPARE(box.buttons, MsgButtons::Ok);
        QCOMPARE(box.owner, static_cast<QWidget*>(&window));
        QVERIFY2(box.text.startsWith(QStringLiteral("“%1”").arg(caption)), qPrintable(box.text));
        QCOMPARE(box.text, Tfmain::notInProgramText(name));

        if (name == QLatin1String("N2"))
            return; // an entry of the bar, never disabled
        action->setEnabled(false);
        action->trigger();
        // The hook itself checks: called while the command is disabled, it says nothing.
        callHook(window, name);
        QCOMPARE(platform.boxes().size(), 1);
    }

    void hiddenCommandSaysNothing()
    {
        test::ScriptedPlatform platform;
        Tfmain window(platform);
        window.supportClick();
        QVERIFY(platform.boxes().isEmpty());
    }

    void ownCommandsRunTheirActions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("button"); // empty: no tool button
        QTest::newRow("relogin") << "relogin"
                                 << "";
        QTest::newRow("mm") << "mm"
                            << "";
        QTest::newRow("user1") << "user1"
                               << "ToolButton15";
        QTest::newRow("back1") << "back1"
                               << "ToolButton16";
        QTest::newRow("systemhelp") << "systemhelp"
                                    << "";
        QTest::newRow("about") << "about"
                               << "ToolButton19";
    }

    // The program's own commands run what the program set for them, by menu, tool button or hook, only while
    // enabled, and say nothing themselves.
    void ownCommandsRunTheirActions()
    {
        QFETCH(QString, name);
        QFETCH(QString, button);
        test::ScriptedPlatform platform;
        Tfmain window(platform);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        int runs = 0;
        window.setCommandAction(name, [&] { ++runs; });
        QAction* action = window.command(name);

        action->trigger();
        QCOMPARE(runs, 1);
        if (!button.isEmpty()) {
            QTest::mouseClick(window.ToolBar1()->findChild<QToolButton*>(button), Qt::LeftButton);
            QCOMPARE(runs, 2);
        }

        action->setEnabled(false);
        callHook(window, name);
        if (!button.isEmpty())
            QTest::mouseClick(window.ToolBar1()->findChild<QToolButton*>(button), Qt::LeftButton);
        QCOMPARE(runs, button.isEmpty() ? 1 : 2);

        action->setEnabled(true);
        callHook(window, name);
        QCOMPARE(runs, button.isEmpty() ? 2 : 3);
        QVERIFY(platform.boxes().isEmpty());
    }

    // Without an action set, an own command does nothing rather than fail.
    void ownCommandWithoutActionDoesNothing()
    {
        test::ScriptedPlatform platform;
        Tfmain window(platform);
        window.command(QStringLiteral("user1"))->trigger();
        window.aboutClick();
        QVERIFY(platform.boxes().isEmpty());
    }

    void timer()
    {
        QTimer* t = m_window->findChild<QTimer*>(QStringLiteral("Timer1"));
        QVERIFY(t != nullptr);
        QCOMPARE(t, m_window->Timer1());
        QVERIFY(t->isActive());
        QCOMPARE(t->interval(), 1000);
        QVERIFY(!t->isSingleShot());
    }
};

QTEST_MAIN(TestTfmain)
#include "tst_tfmain.moc"
