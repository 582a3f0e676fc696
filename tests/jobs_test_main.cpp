// Runs the job tests inside a QApplication, as the jobs run in the program.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // Headless always: ctest also runs this binary to list the cases, without
    // the test environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
