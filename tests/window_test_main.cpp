// Runs the window tests inside one QApplication with Qt's Italian texts.

#include "italian_translations.h"

#include <QApplication>

#include <gtest/gtest.h>

bool g_italianInstalled = false;

int main(int argc, char *argv[])
{
    // Headless unless the caller asked for a real display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    g_italianInstalled = installItalianTranslations(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
