#include "line/common/save_path.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

QString WithDefaultSuffix(const QString& path, const QString& suffix) {
  if (path.isEmpty()) return path;
  const QString name = QFileInfo(path).fileName();
  // ".hidden" alone is a name, not an extension.
  return name.lastIndexOf(QLatin1Char('.')) > 0 ? path : path + QLatin1Char('.') + suffix;
}

QString DocumentsFolder() {
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  // Qt falls back to ~/Documents where the desktop names no folder of its own.
  const bool named = QDir::cleanPath(documents) != QDir::cleanPath(QDir::home().filePath(QStringLiteral("Documents")));
  if (!documents.isEmpty() && (named || QFileInfo(documents).isDir())) return documents;
  return QDir::homePath();
}

QString AskSavePath(QWidget* parent, const QString& title, const QString& proposed, const QString& filter,
                    const QString& suffix) {
  const QFileInfo start(proposed);
  const QString folder = start.isDir() || proposed.isEmpty() ? proposed : start.absolutePath();
  // A dialog opened on a folder that is not there proposes the folder's name as the file's.
  if (!folder.isEmpty()) QDir().mkpath(folder);
  QFileDialog dialog(parent, title, folder, filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  // The dialog adds it before it asks whether to replace a file of that name.
  dialog.setDefaultSuffix(suffix);
  if (!start.isDir() && !proposed.isEmpty()) dialog.selectFile(start.fileName());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  // A native dialog may leave the suffix to its caller.
  return WithDefaultSuffix(dialog.selectedFiles().constFirst(), suffix);
}
