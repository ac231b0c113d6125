#include "platform/QtPlatform.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    velmora::installChineseUi(app);
    return 0;
}
