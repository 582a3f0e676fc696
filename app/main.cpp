// Starts the program: Qt's Italian texts, then the one window until it closes.

#include "frm_main.h"
#include "italian_translations.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    installItalianTranslations(app);
    // The installed theme icon when there is one, else the copy built in.
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("dravolin"), QIcon(QStringLiteral(":/dravolin.png"))));
    FrmMain window;
    window.show();
    return app.exec();
}
