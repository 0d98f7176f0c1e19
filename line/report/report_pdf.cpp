#include "line/report/report_pdf.h"

#include <QFontMetricsF>
#include <QLocale>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>

#include "base/text/baud.h"
#include "base/files/checked_file.h"
#include "line/report/line_report.h"
#include "line/common/pdf_document.h"

namespace {

// DejaVu Sans comes with fonts-dejavu-core, which the install script brings; it carries every
// Czech letter, and the PDF writer embeds the subset used.
const QString FontFamily = QStringLiteral("DejaVu Sans");

enum class Style { Title, Heading, Text, Small };

// A cell starts at a fraction of the text width.
struct Cell {
  double x;
  QString text;
};
struct Row {
  Style style;
  QVector<Cell> cells;
};
// Rows kept together on one page.
using Block = QVector<Row>;

QString Milliseconds(int64_t ns) { return QLocale().toString(double(ns) / 1e6, 'f', 2) + QStringLiteral(" ms"); }

Row Labelled(const QString& label, const QString& value, Style style = Style::Text) {
  return {style, {{0.03, label}, {0.25, value}}};
}

Block SummaryBlock(const LineReport& r) {
  Block b;
  b.append({Style::Heading, {{0, QStringLiteral("Linka má %1").arg(CzechCount(r.modules.size(), "modul", "moduly", "modulů"))}}});
  b.append(Labelled(QStringLiteral("Stav a výměny:"),
                    r.live ? QStringLiteral("z běžícího programu v době vytvoření protokolu")
                           : QStringLiteral("neznámé: uložená linka, program s moduly nekomunikoval")));
  const bool file = r.saved.isValid() || !r.seal.isEmpty();
  if (!file) {
    b.append(Labelled(QStringLiteral("Poslední záloha:"), QStringLiteral("žádná zapsaná ani otevřená; konfigurace není známa")));
    return b;
  }
  // "záloha" is feminine, "soubor" masculine.
  const QString saved = (r.fileHasImages ? QStringLiteral("uložena %1") : QStringLiteral("uložen %1")).arg(ReportTimeText(r.saved));
  b.append(Labelled(r.fileHasImages ? QStringLiteral("Poslední záloha:") : QStringLiteral("Soubor linky:"),
                    r.filePath.isEmpty() ? saved : r.filePath + QStringLiteral(", ") + saved));
  b.append(Labelled(QStringLiteral("Pečeť SHA-256:"), QString::fromLatin1(r.seal), Style::Small));
  if (!r.fileHasImages)
    b.append(Labelled(QStringLiteral("Konfigurace:"), QStringLiteral("soubor je jen seznam modulů, konfiguraci neobsahuje")));
  return b;
}

Block ModuleBlock(const LineReport& r, const ReportModule& m) {
  Block b;
  b.append({Style::Heading,
            {{0, QStringLiteral("Adresa %1").arg(m.module.address)},
             {0.2, QStringLiteral("%1 Bd").arg(BaudCodeToRate(m.module.baudCode))},
             {0.4, m.module.ident.isEmpty() ? QStringLiteral("(bez identifikace)") : m.module.ident}}});
  b.append(Labelled(QStringLiteral("Stav:"), m.state.value_or(QStringLiteral("neznámý (uložená linka)"))));
  if (m.exchanges) {
    const ExchangeStats& s = *m.exchanges;
    // Three counts a row, each with room for more digits than a long watch gathers.
    const std::pair<const char*, uint64_t> counts[] = {
        {"celkem", s.total()},
        {"dobrých", s.count(ExchangeOutcome::Good)},
        {"odmítnutých", s.count(ExchangeOutcome::Refused)},
        {"poškozených", s.count(ExchangeOutcome::Damaged)},
        {"pozdních", s.count(ExchangeOutcome::Late)},
        {"bez odpovědi", s.count(ExchangeOutcome::Timeout)},
        {"jiných chyb", s.count(ExchangeOutcome::Other)},
    };
    for (int i = 0; i < int(std::size(counts)); ++i) {
      if (i % 3 == 0) b.append({Style::Text, i == 0 ? QVector<Cell>{{0.03, QStringLiteral("Výměny:")}} : QVector<Cell>{}});
      b.back().cells.append({0.25 + 0.25 * (i % 3), QStringLiteral("%1 %2").arg(QString::fromUtf8(counts[i].first)).arg(counts[i].second)});
    }
    b.append(Labelled(QStringLiteral("Doba odezvy:"),
                      s.roundTrip(1.0) < 0 ? QStringLiteral("žádná odpověď")
                                           : QStringLiteral("medián %1, max %2")
                                                 .arg(Milliseconds(s.roundTrip(0.5)), Milliseconds(s.roundTrip(1.0)))));
  } else {
    b.append(Labelled(QStringLiteral("Výměny:"), QStringLiteral("neznámé (uložená linka)")));
  }
  if (!m.image) {
    b.append(Labelled(QStringLiteral("Konfigurace:"),
                      r.fileHasImages ? QStringLiteral("v záloze není") : QStringLiteral("není známa (bez zálohy)")));
    return b;
  }
  b.append({Style::Text, {{0.03, r.live ? QStringLiteral("Konfigurace (z poslední zálohy):")
                                         : QStringLiteral("Konfigurace (ze souboru):")}}});
  // Two columns of settings, each a label and its value.
  const auto settings = ReportSettings(*m.image);
  const qsizetype half = (settings.size() + 1) / 2;
  for (qsizetype i = 0; i < half; ++i) {
    Row row{Style::Small, {}};
    for (qsizetype j : {i, i + half}) {
      if (j >= settings.size()) continue;
      const double x = j < half ? 0.06 : 0.52;
      row.cells.append({x, settings.at(j).first + QLatin1Char(':')});
      row.cells.append({x + 0.25, settings.at(j).second});
    }
    b.append(row);
  }
  return b;
}

class Renderer {
 public:
  Renderer(QPdfWriter& writer, const LineReport& report) : writer_(writer), report_(report) {
    for (Style s : {Style::Title, Style::Heading, Style::Text, Style::Small}) {
      QFont f(FontFamily);
      f.setPointSizeF(s == Style::Title ? 16 : s == Style::Heading ? 10.5 : s == Style::Text ? 9.5 : 8.5);
      f.setBold(s == Style::Title || s == Style::Heading);
      // No ligatures: text taken from the PDF reads "Konfigurace", not a glyph for "fi".
      f.setStyleStrategy(QFont::PreferNoShaping);
      fonts_[int(s)] = f;
    }
    width_ = writer.width();
    height_ = writer.height();
  }

  bool fontCarriesCzech() const {
    const QFontMetricsF m(fonts_[int(Style::Text)], &writer_);
    for (QChar c : QStringLiteral("ěščřžýáíéůúťďňĚŠČŘŽÝÁÍÉŮÚŤĎŇ"))
      if (!m.inFont(c)) return false;
    return true;
  }

  // Which blocks go on which page: a block that does not fit on what is left of a page starts
  // the next one; a block taller than a page gets a page of its own and runs over its foot.
  void paginate(const QVector<Block>& blocks) {
    pages_ = {QVector<Block>()};
    double y = bodyTop();
    for (const Block& b : blocks) {
      const double h = height(b) + gap();
      if (y + h > bodyBottom() && !pages_.back().isEmpty()) {
        pages_.append(QVector<Block>());
        y = bodyTop();
      }
      pages_.back().append(b);
      y += h;
    }
  }

  bool paint() {
    QPainter p;
    if (!p.begin(&writer_)) return false;
    for (qsizetype page = 0; page < pages_.size(); ++page) {
      if (page > 0 && !writer_.newPage()) return false;
      header(p);
      double y = bodyTop();
      for (const Block& b : pages_.at(page)) {
        for (const Row& row : b) y = paintRow(p, row, y);
        y += gap();
      }
      footer(p, int(page) + 1, int(pages_.size()));
    }
    return p.end();
  }

 private:
  double lineHeight(Style s) const { return QFontMetricsF(fonts_[int(s)], &writer_).lineSpacing() * 1.15; }
  double height(const Block& b) const {
    double h = 0;
    for (const Row& r : b) h += lineHeight(r.style);
    return h;
  }
  double gap() const { return lineHeight(Style::Text) * 0.8; }
  double headerHeight() const { return lineHeight(Style::Title) + 2 * lineHeight(Style::Small) + gap(); }
  double bodyTop() const { return headerHeight(); }
  double bodyBottom() const { return height_ - 1.5 * lineHeight(Style::Small); }

  double paintRow(QPainter& p, const Row& row, double y) const {
    p.setFont(fonts_[int(row.style)]);
    const QFontMetricsF m(fonts_[int(row.style)], &writer_);
    for (qsizetype i = 0; i < row.cells.size(); ++i) {
      const double x = row.cells.at(i).x * width_;
      const double end = i + 1 < row.cells.size() ? row.cells.at(i + 1).x * width_ : width_;
      // A text wider than its cell is cut in the middle, never drawn over the next one.
      const QString text = m.elidedText(row.cells.at(i).text, Qt::ElideMiddle, std::max(0.0, end - x - m.averageCharWidth()));
      p.drawText(QPointF(x, y + m.ascent()), text);
    }
    return y + lineHeight(row.style);
  }

  void header(QPainter& p) const {
    double y = 0;
    p.setFont(fonts_[int(Style::Title)]);
    p.drawText(QPointF(0, y + QFontMetricsF(fonts_[int(Style::Title)], &writer_).ascent()), QStringLiteral("Protokol linky"));
    y += lineHeight(Style::Title);
    y = paintRow(p, {Style::Small, {{0, QStringLiteral("Linka: %1").arg(report_.lineName)},
                                     {0.5, QStringLiteral("Počítač: %1").arg(report_.host)}}}, y);
    y = paintRow(p, {Style::Small, {{0, QStringLiteral("Vytvořen: %1").arg(ReportTimeText(report_.made))},
                                     {0.5, QStringLiteral("Program: qx510-line %1").arg(report_.version)}}}, y);
    p.setPen(QPen(Qt::black, writer_.resolution() / 150.0));
    p.drawLine(QPointF(0, y + gap() / 3), QPointF(width_, y + gap() / 3));
  }

  void footer(QPainter& p, int page, int pages) const {
    const QFontMetricsF m(fonts_[int(Style::Small)], &writer_);
    const QString text = QStringLiteral("Strana %1 z %2").arg(page).arg(pages);
    p.setFont(fonts_[int(Style::Small)]);
    p.drawText(QPointF(width_ - m.horizontalAdvance(text), height_ - m.descent()), text);
  }

  QPdfWriter& writer_;
  const LineReport& report_;
  QFont fonts_[4];
  double width_ = 0, height_ = 0;
  QVector<QVector<Block>> pages_;
};

}  // namespace

QByteArray RenderLineReport(const LineReport& report, QString& error) {
  return RenderA4Pdf(QStringLiteral("Protokol linky %1").arg(report.lineName),
                     QStringLiteral("qx510-line %1").arg(report.version), QMarginsF(18, 15, 15, 15),
                     [&report](QPdfWriter& writer, QString& failure) {
                       Renderer renderer(writer, report);
                       if (!renderer.fontCarriesCzech()) {
                         failure = QStringLiteral("Písmo %1 s českými znaky chybí (balík fonts-dejavu-core).").arg(FontFamily);
                         return false;
                       }
                       QVector<Block> blocks = {SummaryBlock(report)};
                       for (const ReportModule& m : report.modules) blocks.append(ModuleBlock(report, m));
                       renderer.paginate(blocks);
                       if (!renderer.paint()) {
                         failure = QStringLiteral("Protokol se nepodařilo vykreslit.");
                         return false;
                       }
                       return true;
                     },
                     error);
}

bool WriteLineReport(const LineReport& report, const QString& path, QString& error) {
  const QByteArray pdf = RenderLineReport(report, error);
  if (pdf.isEmpty()) return false;
  return WriteFileChecked(path, pdf, &error);
}
