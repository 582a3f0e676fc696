// Starts the program: Qt's Italian texts, then the one window until it closes. Files named on the
// command line (.m64 or .ptb) are decoded one after another once the window is up.

#include "frm_main.h"
#include "italian_translations.h"
#include "texts.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    installItalianTranslations(app);
    // The installed theme icon when there is one, else the copy built in.
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("dravolin"), QIcon(QStringLiteral(":/dravolin.png"))));
    // Made absolute before the window makes the program's folder current.
    QStringList files;
    for (const QString &argument : QApplication::arguments().mid(1))
        files << QFileInfo(argument).absoluteFilePath();
    FrmMain window;
    for (const QString &refused : window.openFiles(files))
        std::fprintf(stderr, "%s\n", text(Text::ArgumentNotConvertible).arg(refused).toLocal8Bit().constData());
    window.show();
    return app.exec();
}
