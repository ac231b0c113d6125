#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace velmora {

// 关于程序: the product title, version and copyright lines of the splash, the database in use and the versions
// of the libraries the program runs on.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    // `database`: the file's path or the server's URI without its password; `server` says which.
    AboutDialog(const QString& database, bool server, QWidget* parent = nullptr);
    AboutDialog(const AboutDialog&) = delete;
    AboutDialog& operator=(const AboutDialog&) = delete;

    // The libraries line: Qt and SQLite, and libpq when the database is on a server.
    static QString librariesLine(bool server);

    QLabel* title = nullptr;
    QLabel* version = nullptr;
    QLabel* copyright = nullptr;
    QLabel* database = nullptr;
    QLabel* libraries = nullptr;
    QPushButton* btok = nullptr;
};

} // namespace velmora
