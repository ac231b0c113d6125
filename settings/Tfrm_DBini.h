#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QToolButton;

namespace velmora {

class Platform;

// The connection settings dialog: shows DBConn.ini's three settings, checks
// that none is empty and writes them back, all three in one replacement of the
// file. It never touches the start-up sequence's own copies of the settings.
class Tfrm_DBini : public QDialog
{
    Q_OBJECT

    Platform& m_platform;
    QString m_executableFolder;
    bool m_placed = false;

    QLabel* Label1;
    QLineEdit* Edit_Dns;
    QLabel* Label2;
    QLineEdit* edt_UserId;
    QLabel* Label4;
    QLineEdit* medt_password;
    QToolButton* sbtn_sure;
    QToolButton* sbtn_close;

public:
    explicit Tfrm_DBini(Platform& platform, QString executableFolder, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(Tfrm_DBini)

    void FormCreate();
    // Key handlers get the typed character; Enter arrives as '\r'. A handler
    // that sets it to NUL keeps it from the field.
    void Edit_DnsKeyPress(QChar& key);
    void edt_UserIdKeyPress(QChar& key);
    void medt_passwordKeyPress(QChar& key);
    void sbtn_sureClick();
    void sbtn_closeClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void tell(const QString& text);
    void placeAtCentre();
};

} // namespace velmora
