// The read and verified-write sequences, the buttons around them and re-entry, for each of
// the three configuration windows.
#include <QApplication>
#include <QTimer>

#include "config/tform12.h"
#include "config/tform13.h"
#include "config/tform14.h"
#include "config_test_support.h"

namespace {

struct Kind {
  const char* name;
  std::unique_ptr<ConfigWindow> (*make)();
  std::vector<uint8_t> addresses;     // in transfer order
  std::vector<std::size_t> imageBytes;
  std::vector<uint8_t> values;        // what the module holds or is given, valid for the window
  std::vector<int> percents;          // progress after each byte
  const char* firstInput;             // where the focus is when the window opens
};

void PrintTo(const Kind& kind, std::ostream* os) { *os << kind.name; }

template <typename W>
std::unique_ptr<ConfigWindow> Make() { return std::make_unique<W>(); }

const Kind Kinds[] = {
    {"Address", &Make<TForm12>, {63, 62}, {0, 1}, {0x2A, 7}, {50, 100}, "Edit1"},
    {"Analog", &Make<TForm13>, {0}, {2}, {1}, {100}, "ComboBox1"},
    {"Digital", &Make<TForm14>,
     {32, 35, 38, 41, 33, 36, 39, 42, 34, 37, 40, 43},
     {17, 18, 19, 20, 9, 10, 11, 12, 13, 14, 15, 16},
     {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x3C, 0xC3, 0x5A, 0xA5},
     {8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 100},
     "CheckBox1"},
};

const QString ReadDone = QStringLiteral(" Konfigurace přečtena.");
const QString WriteDone = QStringLiteral(" Konfigurace zapsána.");
const QString Mismatch = QStringLiteral(" Chyba zápisu dat.");

class ConfigSequence : public ConfigFixture, public ::testing::WithParamInterface<Kind> {
 protected:
  const Kind& kind = GetParam();
  int n() const { return int(kind.addresses.size()); }
  ModuleConfigImage defaults{};

  void SetUp() override {
    ConfigFixture::SetUp();
    defaults = data.ModuleConfig;
    restart();
  }
  // A fresh script holding the values (a scripted failure stays armed until a reset).
  void restart() {
    driver.reset();
    for (int i = 0; i < n(); ++i) driver.setConfigByte(kind.addresses[i], kind.values[i]);
  }
  std::unique_ptr<ConfigWindow> open() {
    auto window = kind.make();
    window->setData(&data);
    Show(window.get());
    return window;
  }
  // The defaults with the first `count` bytes of the transfer replaced by their values.
  ModuleConfigImage withValues(int count) const {
    ModuleConfigImage image = defaults;
    for (int i = 0; i < count; ++i) ImageByte(image, kind.imageBytes[i]) = kind.values[i];
    return image;
  }
  std::vector<Request> reads(int count) const {
    std::vector<Request> out;
    for (int i = 0; i < count; ++i) out.push_back(ReadRequest(5, kind.addresses[i]));
    return out;
  }
  std::vector<Request> writes(int exchanges) const {
    std::vector<Request> out;
    for (int i = 0; int(out.size()) < exchanges; ++i) {
      out.push_back(WriteRequest(5, kind.addresses[i], kind.values[i]));
      if (int(out.size()) < exchanges) out.push_back(ReadRequest(5, kind.addresses[i]));
    }
    return out;
  }
  // A write through "Zapsat" begins with the verdict of the window check, one blank.
  QStringList progress(bool reading, int done) const {
    const QString head = reading ? QStringLiteral(" Probíhá čtení konfigurace z modulu (")
                                 : QStringLiteral(" Probíhá zápis konfigurace do modulu (");
    // A write first shows the input check's verdict, " ": the panel of a window just opened
    // shows it already, so it is not painted again.
    QStringList out{head + QStringLiteral("0 %)")};
    for (int i = 0; i < done; ++i) out << head + QString::number(kind.percents[i]) + " %)";
    return out;
  }
};

TEST_P(ConfigSequence, ReadTakesEveryByteAndOkHandsItOver) {
  auto window = open();
  StatusRecorder status(window.get());
  Button(window.get(), 2)->click();

  EXPECT_EQ(driver.requests(), reads(n()));
  EXPECT_EQ(status.texts, progress(true, n()) << ReadDone);
  EXPECT_EQ(window->workingCopy(), withValues(n()));
  EXPECT_EQ(data.ModuleConfig, defaults);

  // A restore from the task bar is no new showing: what was read stays.
  window->showMinimized();
  QTest::qWait(20);
  window->showNormal();
  QTest::qWait(20);
  EXPECT_EQ(PanelText(window.get()), ReadDone);

  Button(window.get(), 3)->click();  // stores what the window now shows
  EXPECT_EQ(data.ModuleConfig, withValues(n()));
  EXPECT_EQ(data.ModuleAddress, 5);  // the tool's own connection is not the module's setting
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->result(), QDialog::Accepted);
}

TEST_P(ConfigSequence, WriteVerifiesEveryByteAndCancelKeepsTData) {
  for (int i = 0; i < n(); ++i) driver.setConfigByte(kind.addresses[i], uint8_t(~kind.values[i]));
  auto window = open();
  window->ZapisOkno(withValues(n()));
  StatusRecorder status(window.get());
  Button(window.get(), 1)->click();

  EXPECT_EQ(driver.requests(), writes(2 * n()));
  EXPECT_EQ(status.texts, progress(false, n()) << WriteDone);
  for (int i = 0; i < n(); ++i) EXPECT_EQ(driver.configByte(kind.addresses[i]), kind.values[i]);
  EXPECT_EQ(data.ModuleConfig, defaults);

  // A new bus address or rate written to the module does not move the tool's own connection.
  const int32_t rate = data.BaudRate;
  driver.clearLog();
  Button(window.get(), 2)->click();
  EXPECT_EQ(driver.requests(), reads(n()));
  EXPECT_EQ(data.ModuleAddress, 5);
  EXPECT_EQ(data.BaudRate, rate);

  Button(window.get(), 4)->click();
  EXPECT_EQ(data.ModuleConfig, defaults);
  EXPECT_EQ(window->result(), QDialog::Rejected);
}

TEST_P(ConfigSequence, ReadStopsAtTheFailingExchangeAndShowsWhatArrived) {
  for (int k = 1; k <= n(); ++k) {
    SCOPED_TRACE(k);
    auto window = open();
    window->ZapisOkno(withValues(n()));  // an edit not yet taken over, replaced by the refill
    restart();
    driver.failExchange(k, 7);
    StatusRecorder status(window.get());
    Button(window.get(), 2)->click();

    EXPECT_EQ(driver.requests(), reads(k));
    EXPECT_EQ(status.texts, progress(true, k - 1) << DriverFailure(7));
    EXPECT_EQ(window->workingCopy(), withValues(k - 1));
    Button(window.get(), 3)->click();  // stores what the window shows after the refill
    EXPECT_EQ(data.ModuleConfig, withValues(k - 1));
    data.ModuleConfig = defaults;
  }
}

// A failing exchange k (write or read-back), or a read-back of byte m that differs, ends the
// write there.
TEST_P(ConfigSequence, WriteStopsAtTheFirstFailure) {
  for (int k = 1; k <= 3 * n(); ++k) {
    const bool mismatch = k > 2 * n();
    const int m = k - 2 * n() - 1;
    SCOPED_TRACE(k);
    auto window = open();
    window->ZapisOkno(withValues(n()));
    restart();
    if (mismatch)
      driver.setReadBack(kind.addresses[m], uint8_t(kind.values[m] ^ 0x10));
    else
      driver.failExchange(k, 9);
    StatusRecorder status(window.get());
    Button(window.get(), 1)->click();

    EXPECT_EQ(driver.requests(), writes(mismatch ? 2 * (m + 1) : k));
    EXPECT_EQ(status.texts, mismatch ? progress(false, m) << Mismatch
                                     : progress(false, (k - 1) / 2) << DriverFailure(9));
    EXPECT_EQ(data.ModuleConfig, defaults);
  }
}

// A driver result whose low byte is 0 is a failure all the same, shown as the byte 255 is,
// whether Send returns it or writes it through its status pointer.
TEST_P(ConfigSequence, ResultWithLowByteZeroFailsTheVerifiedWrite) {
  for (const uint32_t code : {0x100u, 0x10000u}) {
    for (const bool byReturn : {false, true}) {
      SCOPED_TRACE(testing::Message() << code << (byReturn ? " returned" : " through the pointer"));
      auto window = open();
      window->ZapisOkno(withValues(n()));
      restart();
      driver.setStatusByReturn(byReturn);
      driver.failExchange(2, code);  // the first read-back
      Button(window.get(), 1)->click();
      EXPECT_EQ(driver.requests(), writes(2));
      EXPECT_EQ(PanelText(window.get()), QStringLiteral(" neznámý chybový kód"));
    }
  }
}

TEST_P(ConfigSequence, WithoutConnectionNothingIsSentButOkStillStores) {
  const uint32_t handle = data.DriverHandle;
  const std::pair<bool, uint32_t> states[] = {{false, handle}, {true, 0}};
  for (auto [connected, h] : states) {
    data.Connected = connected;
    data.DriverHandle = h;
    auto window = open();
    window->ZapisOkno(withValues(n()));
    for (int b : {2, 1}) {
      Button(window.get(), b)->click();
      EXPECT_EQ(PanelText(window.get()), NotConnectedText);
    }
    EXPECT_TRUE(driver.requests().empty());
    Button(window.get(), 3)->click();
    EXPECT_EQ(data.ModuleConfig, withValues(n()));
    EXPECT_EQ(window->result(), QDialog::Accepted);
    data.ModuleConfig = defaults;
  }
  data.Connected = true;
  data.DriverHandle = handle;
}

TEST_P(ConfigSequence, WithoutTDataOnlyCancelActs) {
  auto window = kind.make();
  Show(window.get());
  for (int b : {1, 2, 3}) Button(window.get(), b)->click();
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(driver.requests().empty());
  Button(window.get(), 4)->click();
  EXPECT_FALSE(window->isVisible());
}

// Presses during a running read start nothing, and a close waits for the read to end.
TEST_P(ConfigSequence, CloseAndSecondPressDuringReadWait) {
  auto window = open();
  bool ran = false, stillOpen = false;
  QTimer::singleShot(0, window.get(), [&] {
    ran = window->sequenceRunning();
    for (int b : {2, 1, 4}) Button(window.get(), b)->click();
    window->close();  // the title bar
    stillOpen = window->isVisible();
    EXPECT_TRUE(window->windowTitle().endsWith(QStringLiteral(" – zavře se po dokončení čtení")))
        << window->windowTitle().toStdString();
  });
  Button(window.get(), 2)->click();

  ASSERT_TRUE(ran);
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(driver.requests(), reads(n()));
  EXPECT_EQ(PanelText(window.get()), ReadDone);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->result(), QDialog::Rejected);
  EXPECT_EQ(data.ModuleConfig, defaults);
}

// "Ok" pressed during a write is carried out after it: it stores the window, once.
TEST_P(ConfigSequence, OkDuringWriteActsAfterIt) {
  auto window = open();
  window->ZapisOkno(withValues(n()));
  bool ran = false;
  QTimer::singleShot(0, window.get(), [&] {
    ran = window->sequenceRunning();
    Button(window.get(), 3)->click();
    Button(window.get(), 1)->click();
    EXPECT_EQ(data.ModuleConfig, defaults);
  });
  Button(window.get(), 1)->click();

  ASSERT_TRUE(ran);
  EXPECT_EQ(driver.requests(), writes(2 * n()));
  EXPECT_EQ(data.ModuleConfig, withValues(n()));
  EXPECT_EQ(window->result(), QDialog::Accepted);
}

// The window opens with the focus on its first input, not on a button that talks to the module.
TEST_P(ConfigSequence, FocusStartsOnTheFirstInput) {
  auto window = open();
  QApplication::setActiveWindow(window.get());
  ASSERT_NE(window->focusWidget(), nullptr);
  EXPECT_EQ(window->focusWidget()->objectName(), kind.firstInput);
}

INSTANTIATE_TEST_SUITE_P(ConfigWindows, ConfigSequence, ::testing::ValuesIn(Kinds),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
