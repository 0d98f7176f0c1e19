#pragma once

#include <QString>

class QWidget;

// `path` with ".suffix" added when its file name has no extension of its own.
QString WithDefaultSuffix(const QString& path, const QString& suffix);

// The save dialog: the chosen path with the extension added when the operator typed none;
// empty when cancelled.
QString AskSavePath(QWidget* parent, const QString& title, const QString& start, const QString& filter,
                    const QString& suffix);
