#include "line/commission/commission_protocol.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPdfWriter>

#include "base/files/checked_file.h"
#include "line/common/pdf_document.h"

namespace {

// A line of the protocol: its cells at fractions of the text width, and whether it heads a module.
struct Line {
  QVector<std::pair<double, QString>> cells;
  bool heading = false;
};

QVector<Line> ModuleLines(const CommissionRecord& r) {
  QVector<Line> lines;
  // "Modul TT-101: adresa 1, 19200 Bd"
  lines.append({{{0, QStringLiteral("Modul%1: %2").arg(r.tag.isEmpty() ? QString() : QLatin1Char(' ') + r.tag, PlaceText(r.place))}},
                true});
  const auto labelled = [&lines](const QString& label, const QString& value) {
    lines.append({{{0.03, label}, {0.28, value}}});
  };
  labelled(QStringLiteral("Výsledek:"), r.ok() ? QStringLiteral("uveden do provozu") : QStringLiteral("NEUVEDEN do provozu"));
  labelled(QStringLiteral("Identifikace:"), r.ident.trimmed().isEmpty() ? QStringLiteral("neznámá") : r.ident.trimmed());
  labelled(QStringLiteral("Ověřen:"), r.ok() ? ReportTimeText(r.verifiedAt) : QStringLiteral("neověřen"));
  for (const QString& failure : r.failures) labelled(QStringLiteral("Selhání:"), failure);
  if (r.image) {
    const auto settings = ReportSettings(*r.image);
    for (const auto& [label, value] : settings) lines.append({{{0.06, label + QLatin1Char(':')}, {0.5, value}}});
  }
  return lines;
}

bool Paint(QPdfWriter& writer, const CommissionProtocol& p, QString& error) {
  QFont text(QStringLiteral("DejaVu Sans"));
  text.setPointSizeF(9);
  text.setStyleStrategy(QFont::PreferNoShaping);  // "fi" stays two letters in the text taken out
  QFont bold = text;
  bold.setBold(true);
  QFont title = bold;
  title.setPointSizeF(15);
  if (!QFontMetricsF(text, &writer).inFont(QChar(u'ř'))) {
    error = QStringLiteral("Písmo DejaVu Sans s českými znaky chybí (balík fonts-dejavu-core).");
    return false;
  }
  QVector<QVector<Line>> blocks;
  blocks.append({{{{0, QStringLiteral("Linka: %1").arg(p.lineName)}, {0.5, QStringLiteral("Vytvořen: %1").arg(ReportTimeText(p.made))}}},
                 {{{0, QStringLiteral("Dodací místo: %1").arg(PlaceText(p.delivery))},
                   {0.5, QStringLiteral("Program: qx510-line %1").arg(p.version)}}},
                 {{{0, QStringLiteral("Vzorová konfigurace: %1").arg(p.templateSource)}}}});
  int done = 0;
  for (const CommissionRecord& r : p.modules) done += r.ok();
  blocks.append({{{{0, QStringLiteral("Uvedeno do provozu: %1 z %2").arg(done).arg(p.modules.size())}}, true}});
  for (const CommissionRecord& r : p.modules) blocks.append(ModuleLines(r));

  QPainter painter;
  if (!painter.begin(&writer)) return false;
  const double width = writer.width(), bottom = writer.height() - QFontMetricsF(text, &writer).lineSpacing() * 2;
  const double step = QFontMetricsF(text, &writer).lineSpacing() * 1.2;
  double y = 0;
  int page = 1;
  const auto heading = [&] {
    painter.setFont(title);
    y = QFontMetricsF(title, &writer).ascent();
    painter.drawText(QPointF(0, y), page == 1 ? QStringLiteral("Protokol uvedení do provozu")
                                              : QStringLiteral("Protokol uvedení do provozu (strana %1)").arg(page));
    y += step * 1.5;
  };
  heading();
  for (const QVector<Line>& block : blocks) {
    // A module's lines stay on one page unless they alone fill more than a page.
    if (y + step * (block.size() + 1) > bottom && block.size() * step < bottom) {
      if (!writer.newPage()) return false;
      ++page;
      heading();
    }
    for (const Line& line : block) {
      painter.setFont(line.heading ? bold : text);
      const QFontMetricsF m(painter.font(), &writer);
      for (qsizetype i = 0; i < line.cells.size(); ++i) {
        const double x = line.cells[i].first * width;
        const double end = i + 1 < line.cells.size() ? line.cells[i + 1].first * width : width;
        painter.drawText(QPointF(x, y + m.ascent()), m.elidedText(line.cells[i].second, Qt::ElideMiddle, end - x - m.averageCharWidth()));
      }
      y += step;
    }
    y += step * 0.6;
  }
  return painter.end();
}

}  // namespace

QByteArray RenderCommissionProtocol(const CommissionProtocol& protocol, QString& error) {
  return RenderA4Pdf(QStringLiteral("Protokol uvedení do provozu – %1").arg(protocol.lineName),
                     QStringLiteral("qx510-line %1").arg(protocol.version), QMarginsF(18, 15, 15, 15),
                     [&protocol](QPdfWriter& writer, QString& failure) {
                       if (Paint(writer, protocol, failure)) return true;
                       if (failure.isEmpty()) failure = QStringLiteral("Protokol se nepodařilo vykreslit.");
                       return false;
                     },
                     error);
}

bool WriteCommissionProtocol(const CommissionProtocol& protocol, const QString& path, QString& error) {
  const QByteArray pdf = RenderCommissionProtocol(protocol, error);
  return !pdf.isEmpty() && WriteFileChecked(path, pdf, &error);
}
