#pragma once
// Qt's own Italian texts for its dialogs and buttons, whatever the desktop language.

class QCoreApplication;

// Installs Qt's Italian translation into app and makes Italian the default
// locale. Returns false, leaving Qt's built-in texts, when the translation
// file is missing.
bool installItalianTranslations(QCoreApplication &app);
