#pragma once
// The program's command line, read before any window exists so that it answers without a display.

#include <QStringList>

struct CommandLine {
    enum class Action { OpenWindow, ShowUsage, ShowVersion, Refuse };
    Action action = Action::OpenWindow;
    // The file arguments, as given, for OpenWindow.
    QStringList files;
    // The argument that is no valid option, for Refuse.
    QString invalid;
    // How many leading arguments Qt may read for its own options: those before "--".
    int qtArgumentCount = 0;
};

// arguments: the program's name first, then what follows it.
CommandLine readCommandLine(const QStringList &arguments);
