// Orvane Tamsin DBF: the desktop repair wizard.

#include "app/QuorvikApp.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("orvane-tamsin-dbf"));

    CQuorvikApp theApp(QApplication::arguments().mid(1));
    if (!theApp.InitInstance())
        return theApp.ExitInstance();
    const int nResult = QApplication::exec();
    const int nExit = theApp.ExitInstance();
    return nResult != 0 ? nResult : nExit;
}
