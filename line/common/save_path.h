#pragma once

#include <QString>

class QWidget;

// `path` with ".suffix" added when its file name has no extension of its own.
QString WithDefaultSuffix(const QString& path, const QString& suffix);

// Where the operator's own files go by default: the documents folder the desktop names
// (XDG_DOCUMENTS_DIR, "Dokumenty" on a Czech desktop) when it exists or the desktop named it,
// else the home folder; never a "~/Documents" that nobody made.
QString DocumentsFolder();

// The save dialog, opened on `proposed` (a folder, or a file name in one, whose folder is made
// when it is missing): the chosen path with ".suffix" added when the operator typed none, the
// dialog's question about a file that exists asked of that name; empty when cancelled.
QString AskSavePath(QWidget* parent, const QString& title, const QString& proposed, const QString& filter,
                    const QString& suffix);
