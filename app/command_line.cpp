#include "command_line.h"

#include <QCommandLineParser>

namespace {

// Qt's own options, taken by QApplication later: here they are only let through. Those with a value
// take it from the next argument or after "=", as Qt does.
const char *const kQtOptionsWithValue[] = { "platform",
                                            "platformpluginpath",
                                            "platformtheme",
                                            "plugin",
                                            "qwindowgeometry",
                                            "geometry",
                                            "qwindowicon",
                                            "icon",
                                            "qwindowtitle",
                                            "title",
                                            "session",
                                            "style",
                                            "stylesheet",
                                            "display",
                                            "name",
                                            "visual",
                                            "qmljsdebugger" };
const char *const kQtFlags[] = { "reverse", "testability", "widgetcount", "nograb", "dograb" };

void addOptions(QCommandLineParser &parser)
{
    // "-platform" is one option, as Qt reads it, not the letters p, l, a...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(QCommandLineOption(QStringList { QStringLiteral("h"), QStringLiteral("help") }));
    parser.addOption(QCommandLineOption(QStringList { QStringLiteral("v"), QStringLiteral("version") }));
    for (const char *name : kQtOptionsWithValue)
        parser.addOption(QCommandLineOption(QLatin1String(name), QString(), QStringLiteral("value")));
    for (const char *name : kQtFlags)
        parser.addOption(QCommandLineOption(QLatin1String(name)));
}

} // namespace

CommandLine readCommandLine(const QStringList &arguments)
{
    CommandLine command;
    const qsizetype end = arguments.indexOf(QLatin1String("--"));
    command.qtArgumentCount = static_cast<int>(end < 0 ? arguments.size() : end);
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments)) {
        // The shortest failing start ends with the culprit, an unknown option or a flag given a value;
        // a start that fails only for want of the value that follows is no such start. Failing none,
        // the last option misses its value.
        const auto failsAt = [&](qsizetype last) {
            QStringList start = arguments.mid(0, last + 1);
            return !parser.parse(start) && !parser.parse(start << QStringLiteral("valore"));
        };
        qsizetype culprit = 1;
        while (culprit < arguments.size() - 1 && !failsAt(culprit))
            ++culprit;
        command.action = CommandLine::Action::Refuse;
        command.invalid = arguments.value(culprit);
        return command;
    }
    if (parser.isSet(QStringLiteral("help")))
        command.action = CommandLine::Action::ShowUsage;
    else if (parser.isSet(QStringLiteral("version")))
        command.action = CommandLine::Action::ShowVersion;
    command.files = parser.positionalArguments();
    return command;
}
