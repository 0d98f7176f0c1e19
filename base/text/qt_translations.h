#pragma once

// Qt's own texts (the buttons of QDialogButtonBox and QMessageBox, QFileDialog's labels, the
// standard context menus) stay English unless Qt's Czech translation is installed on the
// application; every program calls this right after creating its application object.
// Nothing happens when the translation is not installed (qt6-translations-l10n): the texts
// stay English then, which is no reason to refuse to start. The installed translator (owned by
// the application), or null.
class QTranslator;
QTranslator* InstallQtCzechTranslation();
