#pragma once

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QAction;
class QLabel;
class QMdiArea;
class QMenuBar;
class QStatusBar;
class QTimer;
class QToolBar;
class QToolButton;

namespace velmora {

class PageScroller;
class Platform;

// Who is signed on; the sign-on overwrites all four fields.
struct Session
{
    QString operatorId;
    qint64 rightsWord = 0;
    qint64 sessionNo = 0;
    qint64 loginRecordId = 0;
};

// One second-level menu item: a command or a separator.
struct MenuItemDefinition
{
    const char* entry;   // top-level entry it sits under ("xs", "ch", ...)
    const char* name;    // objectName of its QAction
    const char* caption; // "-" for a separator
    int picture;         // index into the image lists, -1 none
    int group;           // rights group 0..6, AlwaysAvailable, or Separator
    bool hidden;

    static constexpr int AlwaysAvailable = -1;
    static constexpr int Separator = -2;
};

// A top-level entry of the main menu.
struct MenuEntryDefinition
{
    const char* name;
    const char* caption;
};

// The multiple-document main window: menu of commands, tool bar of shortcuts,
// status bar, and the Session of the signed-on operator.
class Tfmain : public QMainWindow
{
    Q_OBJECT

public:
    explicit Tfmain(QWidget* parent = nullptr);
    // With the platform, the business commands answer through its message boxes.
    explicit Tfmain(Platform& platform, QWidget* parent = nullptr);
    ~Tfmain() override;
    Tfmain(const Tfmain&) = delete;
    Tfmain& operator=(const Tfmain&) = delete;

    Session& session() { return m_session; }
    const Session& session() const { return m_session; }

    QMenuBar* MainMenu1() const;
    // The nine top-level entries in order. Entries with items are QMenus and
    // the action is their menuAction(); "GSP1" and "N2" have no items and are
    // plain actions, so their menu() is nullptr.
    QList<QAction*> topLevelEntries() const;
    // The second-level items of an entry (commands and separators), in order;
    // empty for the entries without items.
    static QList<QAction*> itemsOf(const QAction* entry);
    // Any second-level item (command or separator) by name, or nullptr.
    QAction* command(const QString& name) const;

    static const std::vector<MenuEntryDefinition>& entryCatalogue();
    // The 36 second-level items in menu order.
    static const std::vector<MenuItemDefinition>& menuCatalogue();
    static QStringList commandsOfGroup(int group); // 0..6
    static QStringList alwaysAvailableCommands();  // mm, systemhelp, about, relogin, quit

    // What one of the program's own commands (mm, user1, back1, systemhelp, about, relogin) does when chosen;
    // the program sets these, the window knows none of them. A command's click handler runs its action only
    // while the command is enabled.
    void setCommandAction(const QString& name, std::function<void()> action);
    // The commands whose screens belong to the business side, which this program does not contain; choosing
    // one says so in an information box.
    static QStringList businessCommands();
    // That box's text for a command.
    static QString notInProgramText(const QString& name);

    QStatusBar* StatusBar1() const;
    void setPanelText(int panel, const QString& text);
    QString panelText(int panel) const;

    QMdiArea* mdiArea() const { return m_mdiArea; }
    QToolBar* ToolBar1() const { return m_toolBar; }
    // ToolButton1..ToolButton19 in their order on the bar; dividers included.
    QList<QWidget*> toolButtons() const { return m_toolButtons; }
    QTimer* Timer1() const { return m_timer; }

    // The window's hooks.
    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    void Timer1Timer();

    // One hook per command. The program's own commands run the action set for
    // them; a business command, whose screen is not part of the program, says
    // so. Each acts only while its command is enabled.
    void ls1Click();
    void pf1Click();
    void crlist1Click();
    void rk1Click();
    void ty1Click();
    void bs1Click();
    void xl1Click();
    void pd1Click();
    void kclist1Click();
    void xstjClick();
    void kctjClick();
    void djsearchClick();
    void supportClick();
    void yplist1Click();
    void ypaddClick();
    void ypeditClick();
    void yppriceClick();
    void yg1Click();
    void bm1Click();
    void company1Click();
    void mmClick();
    void user1Click();
    void back1Click();
    void systemhelpClick();
    void aboutClick();
    void reloginClick();
    void quitClick();
    void N2Click();

    QMenu* createPopupMenu() override;

    // The restored size: a client area of 891 x 302 below the menu.
    QSize restoredSize() const;

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenu();
    void buildToolBar();
    void buildStatusBar();
    void placeWindow();
    void fitBorderToState();
    void runCommand(const QString& name);
    void sayNotInProgram(const QString& name);

    Session m_session;
    QMdiArea* m_mdiArea = nullptr;
    QList<QAction*> m_entries;
    QHash<QString, QAction*> m_items;
    QToolBar* m_coolBar = nullptr;
    PageScroller* m_scroller = nullptr;
    QToolBar* m_toolBar = nullptr;
    QList<QWidget*> m_toolButtons;
    QList<QLabel*> m_panels;
    QTimer* m_timer = nullptr;
    Platform* m_platform = nullptr;
    QHash<QString, std::function<void()>> m_actions;
};

} // namespace velmora
