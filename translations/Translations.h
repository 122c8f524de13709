#pragma once

class QCoreApplication;

// Installs our catalogue and Qt's own (buttons, the fields' context menus) for the user's
// preferred languages. Call it once, right after the application object exists.
void installTranslations(QCoreApplication &application);
