#include "line/calibration/calibration_certificate.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QLocale>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <cmath>

#include "base/calibration/calibration_constants.h"
#include "base/calibration/calibration_record.h"
#include "base/files/checked_file.h"
#include "base/text/value_format.h"
#include "line/common/pdf_document.h"

namespace {

// As the line report: DejaVu Sans (fonts-dejavu-core) carries every Czech letter and the PDF
// writer embeds the subset used.
const QString FontFamily = QStringLiteral("DejaVu Sans");

// Rows of a readings table at most; a longer series shows its first rows and says how many
// more there are (mean and spread stay those of the whole series). When the page has no room
// for them (long texts), fewer.
constexpr int MostTableRows = 10;
// The program's message on the page, at most; the record keeps it whole.
constexpr int MostEndTextChars = 400;

enum Style { Title, Heading, Text, Small, Bold, StyleCount };

const char* const InterfaceNames[] = {"Standardní COMx", "ISA karta ZK-660", "PCI karta ZK-1660",
                                      "USB konvertor ZC-1660", "LAN konvertor QN-1660"};

QString InterfaceText(uint8_t iface) {
  return iface < std::size(InterfaceNames) ? QString::fromUtf8(InterfaceNames[iface]) : QStringLiteral("rozhraní %1").arg(iface);
}

QString Number(double value, int decimals) {
  // No "-0,0000" for a value that rounds to zero.
  const double shown = std::fabs(value) < 0.5 * std::pow(10.0, -decimals) ? 0.0 : value;
  return QLocale().toString(shown, 'f', decimals);
}

QString Signed(double value, int decimals) {
  const QString text = Number(value, decimals);
  return text.startsWith(QLatin1Char('-')) || text == Number(0, decimals) ? text : QLatin1Char('+') + text;
}

QString TimeText(const QDateTime& t) {
  if (!t.isValid()) return QStringLiteral("neznámý");
  const int offset = t.offsetFromUtc();
  const QString sign = offset < 0 ? QStringLiteral("-") : QStringLiteral("+");
  const int minutes = std::abs(offset) / 60;
  return t.toString(QStringLiteral("d. M. yyyy HH:mm:ss")) +
         QStringLiteral(" (UTC%1%2:%3)").arg(sign).arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString ConstantsText(const CalibrationConstantsValue& c) {
  if (!c.known) return QStringLiteral("neznámé");
  return QStringLiteral("zesílení %1 (%2), posun %3").arg(c.gain).arg(Number(c.gain / 10000.0, 4)).arg(c.offset);
}

class Page {
 public:
  // dry: nothing is painted, only measured, to learn whether the page holds it all.
  Page(QPdfWriter& writer, bool dry) : writer_(writer), dry_(dry) {
    for (int s = 0; s < StyleCount; ++s) {
      QFont f(FontFamily);
      f.setPointSizeF(s == Title ? 17 : s == Heading ? 10.5 : s == Small ? 8 : 9.5);
      f.setBold(s == Title || s == Heading || s == Bold);
      // No ligatures, so that text taken from the PDF reads as it was written.
      f.setStyleStrategy(QFont::PreferNoShaping);
      fonts_[s] = f;
    }
    width_ = writer.width();
    height_ = writer.height();
  }

  bool fontCarriesCzech() const {
    for (int s : {Text, Bold}) {
      const QFontMetricsF m(fonts_[s], &writer_);
      for (QChar c : QStringLiteral("ěščřžýáíéůúťďňĚŠČŘŽÝÁÍÉŮÚŤĎŇ±"))
        if (!m.inFont(c)) return false;
    }
    return true;
  }

  bool begin() { return dry_ || painter_.begin(&writer_); }
  bool end() { return dry_ || painter_.end(); }

  double width() const { return width_; }
  double height() const { return height_; }
  double y() const { return y_; }
  void skip(double lines) { y_ += lines * lineHeight(Text); }
  double lineHeight(int style) const { return QFontMetricsF(fonts_[style], &writer_).lineSpacing() * 1.12; }
  double pen() const { return writer_.resolution() / 150.0; }

  // Texts at fractions of the width on one line; a text wider than its cell is cut in the
  // middle rather than drawn over the next one. align: right-aligned cells end at their x.
  void row(int style, const QVector<std::pair<double, QString>>& cells, const QVector<bool>& right = {}) {
    if (dry_) {
      y_ += lineHeight(style);
      return;
    }
    painter_.setFont(fonts_[style]);
    const QFontMetricsF m(fonts_[style], &writer_);
    for (qsizetype i = 0; i < cells.size(); ++i) {
      const bool alignRight = i < right.size() && right.at(i);
      const double x = cells.at(i).first * width_;
      QString text = cells.at(i).second;
      if (!alignRight) {
        const double end = i + 1 < cells.size() ? cells.at(i + 1).first * width_ : width_;
        text = m.elidedText(text, Qt::ElideMiddle, std::max(0.0, end - x - m.averageCharWidth()));
        painter_.drawText(QPointF(x, y_ + m.ascent()), text);
      } else {
        painter_.drawText(QPointF(x - m.horizontalAdvance(text), y_ + m.ascent()), text);
      }
    }
    y_ += lineHeight(style);
  }

  // A label and its value.
  void field(const QString& label, const QString& value, double labelX = 0.02, double valueX = 0.27) {
    row(Text, {{labelX, label}, {valueX, value}});
  }
  void pair(const QString& l1, const QString& v1, const QString& l2, const QString& v2) {
    row(Text, {{0.02, l1}, {0.2, v1}, {0.52, l2}, {0.7, v2}});
  }

  void heading(const QString& text) {
    y_ += lineHeight(Text) * 0.45;
    row(Heading, {{0, text}});
    rule(0.35);
  }

  void rule(double gapLines = 0.3, double from = 0, double to = 1) {
    if (!dry_) {
      painter_.setPen(QPen(Qt::black, pen()));
      painter_.drawLine(QPointF(from * width_, y_), QPointF(to * width_, y_));
    }
    y_ += lineHeight(Small) * gapLines;
  }

  // Text wrapped to the width, for the verdict and the end's text.
  void paragraph(int style, const QString& text, double x = 0.02) {
    const QRectF box(x * width_, y_, (1 - x) * width_, height_);
    const int flags = Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop;
    const QRectF used = QFontMetricsF(fonts_[style], &writer_).boundingRect(box, flags, text);
    if (!dry_) {
      painter_.setFont(fonts_[style]);
      painter_.drawText(box, flags, text);
    }
    y_ += used.height() + lineHeight(style) * 0.12;
  }

  // A line to write on, at the baseline of the row just written.
  void blank(double from, double to) {
    if (dry_) return;
    const double baseline = y_ - lineHeight(Text) + QFontMetricsF(fonts_[Text], &writer_).ascent();
    painter_.setPen(QPen(Qt::black, pen()));
    painter_.drawLine(QPointF(from * width_, baseline), QPointF(to * width_, baseline));
  }

  void frame(double top, double bottom) {
    if (dry_) return;
    painter_.setPen(QPen(Qt::black, pen() * 2));
    painter_.drawRect(QRectF(0, top, width_, bottom - top));
  }

  void footer(const QString& left, const QString& right) {
    if (dry_) return;
    painter_.setFont(fonts_[Small]);
    const QFontMetricsF m(fonts_[Small], &writer_);
    painter_.drawText(QPointF(0, height_ - m.descent()), left);
    painter_.drawText(QPointF(width_ - m.horizontalAdvance(right), height_ - m.descent()), right);
  }

 private:
  QPdfWriter& writer_;
  bool dry_;
  QPainter painter_;
  QFont fonts_[StyleCount];
  double width_ = 0, height_ = 0, y_ = 0;
};

// Column positions of a readings table: number left-aligned, the numbers right-aligned at
// the right edge of their column.
constexpr double ColNumber = 0.04, ColReference = 0.30, ColValue = 0.50, ColError = 0.70, ColPercent = 0.97;

void ReadingsTable(Page& page, const CalibrationRecord& r, const QString& title, const ReadingSeries& series,
                   int tableRows) {
  page.heading(title);
  if (series.empty()) {
    page.field(QString(), QStringLiteral("neměřeno"), 0.02, 0.04);
    return;
  }
  const QString unit = r.unit();
  const QVector<bool> right = {false, true, true, true, true};
  page.row(Bold, {{ColNumber, QStringLiteral("Měření")},
                  {ColReference, QStringLiteral("Reference [%1]").arg(unit)},
                  {ColValue, QStringLiteral("Naměřeno [%1]").arg(unit)},
                  {ColError, QStringLiteral("Odchylka [%1]").arg(unit)},
                  {ColPercent, QStringLiteral("Odchylka [% rozsahu]")}},
           right);
  page.rule(0.25, 0.02, 1);
  const qsizetype shown = std::min<qsizetype>(series.readings.size(), tableRows);
  const double span = RangeSpan(r.range);
  for (qsizetype i = 0; i < shown; ++i) {
    const CalibrationReading& x = series.readings.at(i);
    page.row(Text, {{ColNumber, QString::number(i + 1)},
                    {ColReference, DerivedFigure(x.reference)},
                    {ColValue, ReadingFigure(x.value)},
                    {ColError, DerivedFigure(x.error(), true)},
                    {ColPercent, Signed(x.error() / span * 100.0, 3)}},
             right);
  }
  if (series.readings.size() > shown)
    page.row(Small, {{ColNumber, QStringLiteral("… a další měření (%1 z %2 neuvedeno); průměr a rozpětí jsou ze všech")
                                     .arg(series.readings.size() - shown)
                                     .arg(series.readings.size())}});
  page.rule(0.25, 0.02, 1);
  page.row(Bold, {{ColNumber, QStringLiteral("Průměr")},
                  {ColValue, DerivedFigure(series.mean())},
                  {ColError, DerivedFigure(series.meanError(), true)},
                  {ColPercent, Signed(series.meanError() / span * 100.0, 3)}},
           {false, true, true, true});
  page.row(Text, {{ColNumber, QStringLiteral("Rozpětí (max − min): %1 %2").arg(DerivedFigure(series.spread()), unit)},
                  {0.6, QStringLiteral("Výsledek: %1").arg(VerdictText(JudgeReadings(series, r.tolerance())))}});
}

// Paints the page (or with `dry` only measures it); false when it does not fit.
bool Paint(QPdfWriter& writer, const CalibrationRecord& r, int tableRows, bool dry, QString& error) {
  Page page(writer, dry);
  if (!page.fontCarriesCzech()) {
    error = QStringLiteral("Písmo %1 s českými znaky chybí (balík fonts-dejavu-core).").arg(FontFamily);
    return false;
  }
  if (!page.begin()) {
    error = QStringLiteral("Protokol se nepodařilo vykreslit.");
    return false;
  }
  const QString unit = r.unit();
  page.row(Title, {{0, QStringLiteral("Kalibrační protokol")}});
  page.row(Text, {{0, QStringLiteral("č. %1").arg(CertificateNumber(r))},
                  {0.5, QStringLiteral("Analogový vstup modulu QX-510")}});
  page.rule(0.4);

  page.heading(QStringLiteral("Kalibrovaný modul"));
  page.pair(QStringLiteral("Označení:"), r.tag.isEmpty() ? QStringLiteral("(nezadáno)") : r.tag,
            QStringLiteral("Identifikace:"), r.ident.isEmpty() ? QStringLiteral("(neznámá)") : r.ident);
  page.pair(QStringLiteral("Adresa:"), QString::number(r.address), QStringLiteral("Rychlost:"),
            QStringLiteral("%1 Bd").arg(r.rate));
  page.pair(QStringLiteral("Vstup:"), QStringLiteral("vstup %1").arg(r.input), QStringLiteral("Rozsah:"),
            r.range == RangeCurrent ? QStringLiteral("proudový, 0–20 mA") : QStringLiteral("napěťový, 0–10 V"));
  // The port and its device after the interface, on its one line (a long device path is cut
  // in the middle).
  page.field(QStringLiteral("Rozhraní:"),
             InterfaceText(r.interfaceType) + (r.connection.isEmpty() ? QString() : QStringLiteral(", ") + r.connection), 0.02, 0.2);

  page.heading(QStringLiteral("Referenční přístroj"));
  page.pair(QStringLiteral("Přístroj:"), r.referenceName.isEmpty() ? QStringLiteral("(nezadáno)") : r.referenceName,
            QStringLiteral("Výrobní číslo:"), r.referenceSerial.isEmpty() ? QStringLiteral("(nezadáno)") : r.referenceSerial);
  QString validity = QStringLiteral("(nezadáno)");
  if (r.referenceValidUntil.isValid()) {
    validity = r.referenceValidUntil.toString(QStringLiteral("d. M. yyyy"));
    if (r.started.isValid() && r.referenceValidUntil < r.started.date())
      validity += QStringLiteral(" – v době kalibrace PROŠLÁ");
  }
  page.field(QStringLiteral("Kalibrace přístroje platí do:"), validity, 0.02, 0.35);

  page.heading(QStringLiteral("Průběh kalibrace"));
  page.field(QStringLiteral("Zahájena:"), TimeText(r.started), 0.02, 0.2);
  page.field(QStringLiteral("Ukončena:"), TimeText(r.ended), 0.02, 0.2);
  page.field(QStringLiteral("Tolerance:"), QStringLiteral("±%1 %2 (%3 % rozsahu %4 %2)")
                                              .arg(DerivedFigure(r.tolerance()), unit, QLocale().toString(r.tolerancePercent),
                                                   QLocale().toString(RangeSpan(r.range))),
             0.02, 0.2);
  page.pair(QStringLiteral("Provedl:"), r.operatorName.isEmpty() ? QStringLiteral("(nezadáno)") : r.operatorName,
            QStringLiteral("Výsledek:"), EndText(r.end));
  if (!r.endText.isEmpty()) {
    const QString text = r.endText.size() > MostEndTextChars ? r.endText.left(MostEndTextChars) + QStringLiteral("…") : r.endText;
    page.paragraph(Small, QStringLiteral("Zpráva programu: %1").arg(text));
  }
  page.field(QStringLiteral("Konstanty před kalibrací:"), ConstantsText(r.constantsBefore), 0.02, 0.35);
  page.field(QStringLiteral("Konstanty po kalibraci:"), ConstantsText(r.constantsAfter), 0.02, 0.35);

  ReadingsTable(page, r, QStringLiteral("Stav před kalibrací"), r.asFound, tableRows);
  ReadingsTable(page, r, QStringLiteral("Stav po kalibraci"), r.asLeft, tableRows);

  // The verdict in a frame of its own.
  page.skip(0.6);
  const double top = page.y();
  page.skip(0.3);
  page.row(Heading, {{0.02, QStringLiteral("Závěr")}});
  page.paragraph(Bold, VerdictSentence(r));
  page.skip(0.2);
  page.frame(top, page.y());

  page.skip(0.6);
  page.paragraph(Small, QStringLiteral("Pečeť záznamu SHA-256: %1")
                            .arg(r.seal.isEmpty() ? QStringLiteral("(záznam dosud neuložen)") : QString::fromLatin1(r.seal)), 0);
  page.paragraph(Small, QStringLiteral("Podpis záznamu: %1").arg(SignatureText(r)), 0);

  // Signature line near the foot of the page.
  const double signatureY = std::max(page.y() + page.lineHeight(Text) * 2.5, page.height() - page.lineHeight(Text) * 4.5);
  page.skip((signatureY - page.y()) / page.lineHeight(Text));
  page.row(Text, {{0, QStringLiteral("Kalibraci provedl: %1").arg(r.operatorName)},
                  {0.5, QStringLiteral("Datum:")},
                  {0.7, QStringLiteral("Podpis:")}});
  page.blank(0.59, 0.68);
  page.blank(0.78, 1.0);
  page.footer(QStringLiteral("Vytvořeno programem qx510-line %1").arg(QCoreApplication::applicationVersion()),
              QStringLiteral("Strana 1 z 1"));
  if (page.y() > page.height() - page.lineHeight(Small) * 1.5) {
    page.end();
    error = QStringLiteral("Protokol se nevešel na jednu stranu.");
    return false;
  }
  if (!page.end()) {
    error = QStringLiteral("Protokol se nepodařilo vykreslit.");
    return false;
  }
  return true;
}

}  // namespace

QByteArray RenderCalibrationCertificate(const CalibrationRecord& record, QString& error) {
  return RenderA4Pdf(QStringLiteral("Kalibrační protokol %1").arg(CertificateNumber(record)),
                     QStringLiteral("qx510-line %1").arg(QCoreApplication::applicationVersion()), QMarginsF(20, 15, 15, 15),
                     [&record](QPdfWriter& writer, QString& failure) {
                       // As many rows of readings as the page holds beside everything else.
                       int rows = MostTableRows;
                       while (rows > 1 && !Paint(writer, record, rows, true, failure)) --rows;
                       return Paint(writer, record, rows, false, failure);
                     },
                     error);
}

bool WriteCalibrationCertificate(const CalibrationRecord& record, const QString& path, QString& error) {
  const QByteArray pdf = RenderCalibrationCertificate(record, error);
  if (pdf.isEmpty()) return false;
  return WriteFileChecked(path, pdf, &error);
}
