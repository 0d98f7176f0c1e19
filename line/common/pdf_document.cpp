#include "line/common/pdf_document.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPdfWriter>
#include <cstdlib>

#include "base/config/setting_labels.h"

QByteArray RenderA4Pdf(const QString& title, const QString& creator, const QMarginsF& marginsMm,
                       const std::function<bool(QPdfWriter&, QString&)>& paint, QString& error) {
  QByteArray pdf;
  QBuffer buffer(&pdf);
  buffer.open(QIODevice::WriteOnly);
  {
    // The writer finishes the file when it goes.
    QPdfWriter writer(&buffer);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, marginsMm, QPageLayout::Millimeter));
    writer.setResolution(300);
    writer.setTitle(title);
    writer.setCreator(creator);
    if (!paint(writer, error)) return {};
  }
  if (!pdf.startsWith("%PDF-") || !pdf.trimmed().endsWith("%%EOF")) {
    error = QStringLiteral("Protokol se nepodařilo vykreslit.");
    return {};
  }
  return pdf;
}

QList<std::pair<QString, QString>> ReportSettings(const ConfigImage& image) {
  QList<std::pair<QString, QString>> settings;
  for (const QString& line : NamedValues(image)) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    const QString name = line.left(eq), value = line.mid(eq + 1);
    if (const QString label = SettingLabel(name); !label.isEmpty()) settings.append({label, SettingValueText(name, value)});
  }
  return settings;
}

QString ReportTimeText(const QDateTime& time) {
  const int offset = time.offsetFromUtc() / 60;
  return time.toString(QStringLiteral("d. M. yyyy HH:mm:ss ")) +
         QStringLiteral("%1%2:%3")
             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
             .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
             .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0'));
}
