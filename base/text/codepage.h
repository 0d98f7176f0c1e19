#pragma once

#include <QByteArray>
#include <QString>

// Windows-1250 appears only at the edges: the settings file, message buffers, the
// identification bytes and the IP text handed to a driver. All conversions go through here.
QByteArray ToCp1250(const QString& text);
QString FromCp1250(const QByteArray& bytes);
QString FromCp1250(char byte);
