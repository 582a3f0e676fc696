// Runs the job and window tests inside one QApplication with Qt's Italian
// texts. `app_tests --encode-once FILE` instead runs the Mime64 encoding job
// once over FILE, as after a Yes: the durability test watches it under strace,
// the package test runs it from the installed program's folder.

#include "italian_translations.h"
#include "scripted_person.h"

#include <QApplication>

bool g_italianInstalled = false;

int main(int argc, char **argv)
{
    // Headless always: ctest also runs this binary to list the cases, without the test environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--encode-once") == 0) {
        ScriptedDialog dialog;
        ScriptedMessages messages;
        ConversionLibrary library;
        JobContext context { dialog, messages, library };
        dialog.answer(QString::fromLocal8Bit(argv[2]));
        ConvertiFileMime64(context);
        return messages.shown.size() == 1 && messages.shown[0].style == 64 ? 0 : 1;
    }
    g_italianInstalled = installItalianTranslations(application);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
