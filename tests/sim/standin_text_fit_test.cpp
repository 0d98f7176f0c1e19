// Every status text of the stand-in drivers reads whole where the tool shows it: in the status
// bar of every window that shows a driver's status (after its leading blank), and in the
// connection dialog's status line after "Chyba inicializace připojení - ", in the default font.
#include <gtest/gtest.h>

#include <QLabel>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/tdata.h"
#include "calib/tform6.h"
#include "config/tform12.h"
#include "config/tform13.h"
#include "config/tform14.h"
#include "connect/tform2.h"
#include "live/tform11.h"
#include "live/tform15.h"
#include "live/tform3.h"
#include "live/tform9.h"
#include "tests/sim/standin_support.h"

namespace {

constexpr uint32_t LineBusy = 12;

// Room for text in a label as QLabel lays it out: inside the frame, less the margins and the
// indent a framed label takes when none is set.
int TextRoom(const QLabel& label) {
  int indent = label.indent();
  if (indent < 0) indent = label.frameWidth() > 0 ? label.fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 : 0;
  return label.contentsRect().width() - 2 * label.margin() - indent;
}

struct Place {
  const char* window;
  std::function<std::unique_ptr<QWidget>()> make;
  const char* label;
  QString prefix;
};

template <class W>
std::function<std::unique_ptr<QWidget>()> Make(TData* data) {
  return [data] {
    auto w = std::make_unique<W>();
    w->setData(data);
    return std::unique_ptr<QWidget>(std::move(w));
  };
}

TEST(StandinTexts, FitWhereverTheToolShowsThem) {
  // Every code of every driver, and the busy line's text with the longest process id.
  std::vector<std::pair<std::string, QString>> texts;
  for (int kind = 0; kind < 5; ++kind) {
    StandinLib lib(kind);
    for (uint32_t code = 0; code < 100; ++code)
      texts.emplace_back(std::string(StandinPrefixes[kind]) + " " + std::to_string(code),
                         QString::fromStdString(lib.errorText(code)));
    texts.emplace_back(std::string(StandinPrefixes[kind]) + " busy",
                       QString::fromStdString(lib.errorText(LineBusy)) + QStringLiteral(" (PID 4194304)"));
  }

  TData data{};
  InitData(&data);
  const QString blank = QStringLiteral(" ");
  const Place places[] = {
      {"TForm2", Make<TForm2>(&data), "Panel1", TForm2::InitFailedText},
      {"TForm3", Make<TForm3>(&data), "StatusPanel0", blank},
      {"TForm9", Make<TForm9>(&data), "StatusPanel0", blank},
      {"TForm11", Make<TForm11>(&data), "StatusPanel0", blank},
      {"TForm15", Make<TForm15>(&data), "StatusPanel0", blank},
      {"TForm12", Make<TForm12>(&data), "StatusPanel0", blank},
      {"TForm13", Make<TForm13>(&data), "StatusPanel0", blank},
      {"TForm14", Make<TForm14>(&data), "StatusPanel0", blank},
      {"TForm6", Make<TForm6>(&data), "StatusPanel0", blank},
  };
  for (const Place& p : places) {
    SCOPED_TRACE(p.window);
    const auto window = p.make();
    window->show();
    const auto* label = window->findChild<QLabel*>(QLatin1String(p.label));
    ASSERT_NE(label, nullptr);
    const int room = TextRoom(*label);
    ASSERT_GT(room, 100);
    for (const auto& [what, text] : texts) {
      const QString shown = p.prefix + text;
      EXPECT_LE(label->fontMetrics().horizontalAdvance(shown), room) << what << ": " << shown.toStdString();
    }
  }
}

}  // namespace
