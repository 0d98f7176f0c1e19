// Every status text of the stand-in drivers reads whole where the tool shows it: in the status
// bar of every window that shows a driver's status (after its leading blank), and in the
// connection dialog's status line after "Chyba inicializace připojení - ", in the default font.
#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/settings/tdata.h"
#include "calib/tform6.h"
#include "config/tform12.h"
#include "config/tform13.h"
#include "config/tform14.h"
#include "connect/tform2.h"
#include "live/tform11.h"
#include "live/tform15.h"
#include "live/tform3.h"
#include "live/tform9.h"
#include "tests/sim/sim_line.h"
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
  // A lock the driver cannot use is named by its path after the reason: the path may run past
  // the edge (the companion and the Error entry give it whole), the reason reads whole. A FIFO
  // where the lock file belongs, and (as root) another user's file.
  {
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    const auto sim = StartLine(runtime, {{0, 4}});  // so that the hold can be seen at its path
    ASSERT_TRUE(sim);
    qputenv(simproto::EndpointEnv, QByteArray::fromStdString(sim->localPath()));
    StandinLib lib(0);
    for (const bool foreign : {false, true}) {
      if (foreign && ::geteuid() != 0) continue;
      uint32_t h = 0;
      ASSERT_EQ(lib.initWord(&h, 1), 0u);
      const QStringList locks = QDir(runtime.path()).entryList({"qx510-line-*.lock"}, QDir::Files);
      ASSERT_EQ(locks.size(), 1);
      const std::string path = runtime.filePath(locks[0]).toStdString();
      ASSERT_EQ(lib.done(&h), 0u);
      if (foreign) {
        ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0666));
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
      } else {
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
      }
      EXPECT_EQ(lib.initWord(&h, 1), 13u);
      const QString text = QString::fromStdString(lib.errorText(13));
      ASSERT_TRUE(text.contains(QStringLiteral(": /"))) << text.toStdString();
      texts.emplace_back("lock refused: reason", text.left(text.indexOf(QStringLiteral(": /")) + 1));
      ::unlink(path.c_str());
    }
    qunsetenv(simproto::EndpointEnv);
    qputenv("XDG_RUNTIME_DIR", saved);
    if (saved.isEmpty()) qunsetenv("XDG_RUNTIME_DIR");
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
