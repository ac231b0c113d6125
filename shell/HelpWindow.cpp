#include "shell/HelpWindow.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

// Resources of a static library are linked only when referenced by name.
static void initHelpResources()
{
    Q_INIT_RESOURCE(help);
}

namespace velmora {

HelpWindow::HelpWindow(const QString& executableFolder, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                          Qt::WindowCloseButtonHint)
{
    initHelpResources();
    setObjectName(QStringLiteral("Fhelp"));
    setWindowTitle(QStringLiteral("系统帮助"));

    browser = new QTextBrowser(this);
    browser->setObjectName(QStringLiteral("browser"));
    browser->setOpenLinks(true);
    // Links within the manual only; an address outside it has nowhere to open without a browser.
    browser->setOpenExternalLinks(false);
    const QString path = manualPath(executableFolder);
    browser->setSource(path.startsWith(u':') ? QUrl(QStringLiteral("qrc") + path) : QUrl::fromLocalFile(path));

    btclose = new QPushButton(QStringLiteral("关闭"), this);
    btclose->setObjectName(QStringLiteral("btclose"));
    btclose->setAutoDefault(false);
    connect(btclose, &QPushButton::clicked, this, &QDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btclose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser);
    layout->addLayout(buttons);
    resize(680, 560);
}

QString HelpWindow::manualPath(const QString& executableFolder)
{
    const QString installed = QDir(executableFolder).filePath(QStringLiteral("../../share/velmora/help/index.html"));
    if (!executableFolder.isEmpty() && QFileInfo(installed).isFile())
        return QDir::cleanPath(installed);
    return QStringLiteral(":/help/index.html");
}

} // namespace velmora
