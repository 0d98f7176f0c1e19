#include "line/common/pdf_document.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPdfWriter>

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
