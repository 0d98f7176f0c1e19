// The trend's export (picture and CSV) and its readout under the cursor.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <qcustomplot.h>

#include "base/exchange/csv_format.h"
#include "line/trend/trend_export.h"
#include "line/trend/trend_plot.h"
#include "tests/support/file_faults.h"

namespace {

const QLocale Czech(QLocale::Czech, QLocale::Czechia);

class TrendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    for (int i = 0; i < 100; ++i) series_.append(t0_ + i * 0.1, 4.0 + i * 0.01);
    plot_.resize(800, 400);
    plot_.setSeries(&series_, QStringLiteral("mA"));
    plot_.show();
    plot_.setView(t0_ + 2.0, t0_ + 4.95);  // readings 20..49
  }
  QTemporaryDir dir_;
  const double t0_ = QDateTime(QDate(2024, 5, 2), QTime(8, 0)).toMSecsSinceEpoch() / 1000.0;
  TrendSeries series_;
  TrendPlot plot_;
};

TEST_F(TrendTest, ExportsTheShownSpanAsPictureAndCsv) {
  QString error;
  const QString png = dir_.filePath(QStringLiteral("trend.png"));
  ASSERT_TRUE(plot_.exportPng(png, error)) << error.toStdString();
  QImage image;
  ASSERT_TRUE(image.load(png, "PNG"));
  EXPECT_GE(image.width(), 320);
  // The picture says what it shows above the plot: a title band, not the plot's own white.
  QImage chart = plot_.plot()->toPixmap(plot_.plot()->width(), plot_.plot()->height()).toImage().convertToFormat(image.format());
  EXPECT_EQ(image.width(), chart.width());
  EXPECT_GT(image.height(), chart.height());
  EXPECT_EQ(image.copy(0, image.height() - chart.height(), chart.width(), chart.height()), chart);
  EXPECT_EQ(TrendSpanText(t0_ + 2.0, t0_ + 4.95, Czech), QStringLiteral("2. 5. 2024 08:00:02 – 08:00:04"));

  const QString csv = dir_.filePath(QStringLiteral("trend.csv"));
  ASSERT_TRUE(plot_.exportCsv(csv, error)) << error.toStdString();
  QFile file(csv);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF")) << "the byte order mark a spreadsheet needs for the Czech letters";
  const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 31);
  EXPECT_EQ(lines[0], QStringLiteral("Čas;Místní čas;Hodnota [mA]"));
  for (int i = 1; i < lines.size(); ++i) {
    const QStringList cells = lines[i].split(QLatin1Char(';'));
    ASSERT_EQ(cells.size(), 3) << lines[i].toStdString();
    bool ok = false;
    EXPECT_NEAR(Czech.toDouble(cells[2], &ok), 4.0 + (19 + i) * 0.01, 1e-9);
    EXPECT_TRUE(ok) << cells[2].toStdString();
    const QDateTime at = QDateTime::fromString(cells[0], Qt::ISODateWithMs);
    EXPECT_NEAR(at.toMSecsSinceEpoch() / 1000.0, t0_ + (19 + i) * 0.1, 1e-3) << cells[0].toStdString();
    EXPECT_EQ(QDateTime::fromString(cells[1], CsvFormat::ForLocale(Czech).localTimePattern()), at) << cells[1].toStdString();
  }
  EXPECT_FALSE(plot_.exportCsv(dir_.filePath(QStringLiteral("chybí/trend.csv")), error));
  EXPECT_FALSE(error.isEmpty());
}

// An export that cannot be written whole (a full disk) leaves the earlier one; a device or
// FIFO chosen as the file is refused and stays what it was.
TEST_F(TrendTest, AFailedExportKeepsTheEarlierFile) {
  const std::vector<OddNode> nodes = OddNodes(dir_.path());
  const struct {
    const char* name;
    bool (TrendPlot::*write)(const QString&, QString&) const;
  } exports[] = {{"trend.png", &TrendPlot::exportPng}, {"trend.csv", &TrendPlot::exportCsv}};
  for (const auto& e : exports) {
    SCOPED_TRACE(e.name);
    const QString path = dir_.filePath(QString::fromLatin1(e.name));
    QString error;
    ASSERT_TRUE((plot_.*e.write)(path, error)) << error.toStdString();
    const QByteArray before = FileBytes(path);
    plot_.setView(t0_ + 1.0, t0_ + 8.0);
    {
      FileSizeLimit limit(100);
      EXPECT_FALSE((plot_.*e.write)(path, error));
    }
    EXPECT_EQ(error, QStringLiteral("soubor by byl větší, než systém dovoluje"));
    EXPECT_EQ(FileBytes(path), before);
    for (const OddNode& node : nodes) {
      EXPECT_FALSE((plot_.*e.write)(node.path, error));
      EXPECT_TRUE(error.startsWith(QStringLiteral("není obyčejný soubor"))) << error.toStdString();
      EXPECT_EQ(NodeType(node.path), node.type);
    }
  }
  EXPECT_EQ(QDir(dir_.path()).entryList({QStringLiteral("trend*")}, QDir::Files | QDir::Hidden),
            (QStringList{QStringLiteral("trend.csv"), QStringLiteral("trend.png")}));
}

TEST_F(TrendTest, ReadsOutTheReadingUnderTheCursorAndZoomsValuesWithCtrl) {
  QCustomPlot* chart = plot_.plot();
  const int x = int(chart->xAxis->coordToPixel(t0_ + 3.0));
  QTest::mouseMove(chart, QPoint(x, chart->height() / 2));
  EXPECT_EQ(plot_.readoutText(), QStringLiteral("Kurzor: 08:00:03,000  4,3 mA"));

  const QCPRange times = chart->xAxis->range(), values = chart->yAxis->range();
  const QPointF at(x, chart->height() / 2.0);
  QWheelEvent wheel(at, chart->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::ControlModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(chart, &wheel);
  EXPECT_EQ(chart->xAxis->range(), times);
  EXPECT_LT(chart->yAxis->range().size(), values.size());
  EXPECT_TRUE(plot_.valuesZoomed());
  plot_.redraw();
  EXPECT_LT(chart->yAxis->range().size(), values.size()) << "a repaint keeps the operator's value range";
  plot_.fitValues();
  EXPECT_NEAR(chart->yAxis->range().lower, values.lower, 1e-9);
  EXPECT_NEAR(chart->yAxis->range().upper, values.upper, 1e-9);
}

}  // namespace
