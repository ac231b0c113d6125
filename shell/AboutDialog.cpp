#include "shell/AboutDialog.h"

#include "data/engines/Versions.h"
#include "splash/Tfac.h"

#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text)
{
    auto* shown = new QLabel(text, parent);
    shown->setObjectName(QLatin1String(name));
    shown->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return shown;
}

} // namespace

AboutDialog::AboutDialog(const QString& databaseText, bool server, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Fabout"));
    setWindowTitle(QStringLiteral("关于程序"));

    title = label(this, "title", Tfac::productTitle());
    Tfac::styleProductTitle(*title);
    version = label(this, "version", Tfac::versionLine());
    copyright = label(this, "copyright", Tfac::copyrightLine());
    database = label(this, "database", databaseText);
    database->setWordWrap(true);
    libraries = label(this, "libraries", librariesLine(server));

    btok = new QPushButton(QStringLiteral("确定"), this);
    btok->setObjectName(QStringLiteral("btok"));
    btok->setDefault(true);
    connect(btok, &QPushButton::clicked, this, &QDialog::accept);

    auto* details = new QFormLayout;
    details->addRow(server ? QStringLiteral("数据库服务器:") : QStringLiteral("数据库文件:"), database);
    details->addRow(QStringLiteral("程序库:"), libraries);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(version);
    layout->addWidget(copyright);
    layout->addSpacing(8);
    layout->addLayout(details);
    layout->addSpacing(8);
    layout->addWidget(btok, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    database->setMinimumWidth(360);
}

QString AboutDialog::librariesLine(bool server)
{
    QString line = QStringLiteral("Qt %1, SQLite %2")
                       .arg(QString::fromLatin1(qVersion()), QString::fromStdString(data::sqliteLibraryVersion()));
    if (server)
        line += QStringLiteral(", libpq %1").arg(QString::fromStdString(data::libpqLibraryVersion()));
    return line;
}

} // namespace velmora
