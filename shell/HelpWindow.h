#pragma once

#include <QDialog>

class QPushButton;
class QTextBrowser;

namespace velmora {

// 系统帮助: the operator's manual, an HTML page shipped with the program, read in a window of the program
// beside the main window (no browser needed).
class HelpWindow : public QDialog
{
    Q_OBJECT

public:
    // The manual installed for the program in `executableFolder` (with its trailing separator), else the copy
    // built into the program.
    explicit HelpWindow(const QString& executableFolder, QWidget* parent = nullptr);
    HelpWindow(const HelpWindow&) = delete;
    HelpWindow& operator=(const HelpWindow&) = delete;

    // Where the manual is read from: PREFIX/share/velmora/help/index.html for a program installed in
    // PREFIX/lib/velmora, when that file is there; otherwise the built-in copy (":/help/index.html").
    static QString manualPath(const QString& executableFolder);

    QTextBrowser* browser = nullptr;
    QPushButton* btclose = nullptr;
};

} // namespace velmora
