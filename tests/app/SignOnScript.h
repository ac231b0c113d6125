#pragma once

#include "mainwin/Tfmain.h"
#include "platform/ScriptedPlatform.h"

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QtTest>

namespace velmora::test {

// Scripts the login dialog as an operator would use it: types the operator
// text and the password and presses Enter. When the message loop would run,
// the main window's operator panel is copied into *panel.
inline void scriptSignOn(ScriptedPlatform& platform, const QString& operatorText, const QString& password,
                         QString* panel)
{
    platform.onModal([operatorText, password](QDialog& dialog) {
        if (dialog.objectName() != QLatin1String("Flogin"))
            return int(QDialog::Rejected);
        dialog.show();
        auto* yh = dialog.findChild<QComboBox*>(QStringLiteral("yh"));
        auto* box = dialog.findChild<QLineEdit*>(QStringLiteral("Edit2"));
        if (!yh || !box)
            return int(QDialog::Rejected);
        QTest::keyClicks(yh, operatorText);
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, password);
        QTest::keyClick(box, Qt::Key_Return);
        return dialog.result();
    });
    platform.onMessageLoop([panel](QWidget* window) {
        if (auto* main = qobject_cast<Tfmain*>(window))
            *panel = main->panelText(1);
        return 0;
    });
}

} // namespace velmora::test
