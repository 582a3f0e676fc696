// Runs the job tests inside a QApplication, as the jobs run in the program.
// `jobs_test --encode-once FILE` instead runs the Mime64 encoding job once over
// FILE, as after a Yes, for the durability test to watch under strace.
#include "jobs_test_support.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // Headless always: ctest also runs this binary to list the cases, without
    // the test environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--encode-once") == 0) {
        ScriptedDialog dialog;
        ScriptedMessages messages;
        ConversionLibrary library;
        JobContext context{dialog, messages, library};
        dialog.answer(QString::fromLocal8Bit(argv[2]));
        ConvertiFileMime64(context);
        return messages.shown.size() == 1 && messages.shown[0].style == 64 ? 0 : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
