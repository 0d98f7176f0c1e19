#include "base/text/qt_translations.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QPushButton>
#include <QTranslator>

// The buttons Qt labels itself are what the user sees in every dialog of every program.
TEST(QtTranslations, StandardButtonsAreCzechOnceInstalled) {
  if (!QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_cs.qm")))
    GTEST_SKIP() << "Qt's Czech translation (qt6-translations-l10n) is not installed";
  QTranslator* translator = InstallQtCzechTranslation();
  ASSERT_NE(translator, nullptr);
  QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Save);
  QString cancel = box.button(QDialogButtonBox::Cancel)->text();
  QString save = box.button(QDialogButtonBox::Save)->text();
  QCoreApplication::removeTranslator(translator);
  delete translator;
  EXPECT_EQ(cancel.remove(QLatin1Char('&')), QStringLiteral("Zrušit"));
  EXPECT_EQ(save.remove(QLatin1Char('&')), QStringLiteral("Uložit"));
}
