// Starts the program: the command line first, then Qt's Italian texts and the one window until it
// closes. Files named on the command line (.m64 or .ptb) are decoded one after another once the
// window is up. SIGINT, SIGTERM and SIGHUP close the window as a person would, then end the program
// as the signal would have.

#include "command_line.h"
#include "frm_main.h"
#include "italian_translations.h"
#include "stop_signals.h"
#include "texts.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>

#include <cstdio>

namespace {

void print(std::FILE *stream, const QString &line)
{
    std::fputs((line.endsWith(QLatin1Char('\n')) ? line : line + QLatin1Char('\n')).toLocal8Bit().constData(), stream);
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Answered before QApplication exists: it would need a display, and take "--help" for a file.
    const CommandLine command = readCommandLine(arguments);
    switch (command.action) {
    case CommandLine::Action::ShowUsage:
        print(stdout, text(Text::Usage));
        return 0;
    case CommandLine::Action::ShowVersion:
        print(stdout, QStringLiteral("dravolin " DRAVOLIN_VERSION));
        return 0;
    case CommandLine::Action::Refuse:
        print(stderr, text(Text::InvalidOption).arg(command.invalid) + QLatin1Char('\n') + text(Text::UsageHint));
        return 2;
    case CommandLine::Action::OpenWindow:
        break;
    }
    // Made absolute before the window makes the program's folder current.
    QStringList files;
    for (const QString &argument : command.files)
        files << QFileInfo(argument).absoluteFilePath();

    // Qt reads its own options only up to "--": what follows are files, whatever their names.
    int qtArgumentCount = command.qtArgumentCount;
    QApplication app(qtArgumentCount, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("org.dravolin.dravolin"));
    installItalianTranslations(app);
    // The installed theme icon when there is one, else the copy built in.
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("dravolin"), QIcon(QStringLiteral(":/dravolin.png"))));
    FrmMain window;
    // A signal to end closes the window as a person would; the program then ends as that signal
    // would have ended it.
    const StopSignals stop([&window] { window.closeDialogsAndWindow(); });
    for (const QString &refused : window.openFiles(files))
        std::fprintf(stderr, "%s\n", text(Text::ArgumentNotConvertible).arg(refused).toLocal8Bit().constData());
    window.show();
    const int status = app.exec();
    stop.endAsCaught();
    return status;
}
