#include "line/save_path.h"

#include <QFileDialog>
#include <QFileInfo>

QString WithDefaultSuffix(const QString& path, const QString& suffix) {
  if (path.isEmpty()) return path;
  const QString name = QFileInfo(path).fileName();
  // ".hidden" alone is a name, not an extension.
  return name.lastIndexOf(QLatin1Char('.')) > 0 ? path : path + QLatin1Char('.') + suffix;
}

QString AskSavePath(QWidget* parent, const QString& title, const QString& start, const QString& filter,
                    const QString& suffix) {
  return WithDefaultSuffix(QFileDialog::getSaveFileName(parent, title, start, filter), suffix);
}
