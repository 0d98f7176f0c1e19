#pragma once

#include <QDialog>
#include <cstdint>
#include <optional>

#include "base/calibration/calibration_procedure.h"

class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class StatusBar;
struct TData;

// "Kalibrace vstupů": guided two-point calibration of the voltage or current range of an
// analog input. The button handlers block for a whole step, waits included, and process no
// messages, so no second step and no timer tick can start inside one.
class TForm6 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm6(QWidget* parent = nullptr);

  void setData(TData* data) { data_ = data; }

  // Idle, and the two steps of each range.
  enum : uint8_t {
    StateIdle = 0,
    StateVoltageZero = 1,
    StateVoltageReference = 2,
    StateCurrentZero = 11,
    StateCurrentReference = 12,
  };
  uint8_t CalibrationState = StateIdle;

  // The pause that lets the input settle before each measurement (tests shorten it).
  void setMeasurementDelayMs(int ms) { measurementDelayMs_ = ms; }

  QComboBox* ComboBox1 = nullptr;
  QComboBox* ComboBox2 = nullptr;
  QLineEdit* Edit2 = nullptr;
  QLineEdit* Edit3 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button3 = nullptr;
  QPushButton* Button4 = nullptr;
  StatusBar* StatusBar1 = nullptr;
  QTimer* Timer1 = nullptr;

 public slots:
  void FormCreate();
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Timer1Timer();
  void VypisKalibraceUkoncena();

  // Closing the window ("Cancel", its close button) abandons a running calibration first,
  // so the module gets its former bytes back; the window stays open when a byte could not be
  // written back. Escape closes an idle window only.
  void done(int result) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool CheckConnection();
  void ZeroStep();
  void ReferenceStep();
  // Command 0 for the calibrated input; on failure reports it and abandons the calibration.
  bool Measure(double& value);
  void AppendLine(const QString& line);
  // Writes back what the running calibration changed and says so in the memo; false when a
  // byte could not be written back.
  bool WriteBack();
  // WriteBack, then the abandon block: every way a started calibration ends without success.
  bool Abandon();

  TData* data_ = nullptr;
  int measurementDelayMs_ = 1000;
  uint8_t input_ = 0;
  uint8_t range_ = RangeVoltage;
  uint32_t handle_ = 0;
  uint8_t moduleAddress_ = 0;
  double zeroReading_ = 0;
  double enteredValue_ = 0;
  double referenceReading_ = 0;
  uint16_t gain_ = NeutralGain;
  uint16_t offset_ = 0;
  // From the start of a calibration until it ends: the bytes to write back.
  std::optional<CalibrationSession> session_;
  // A failed step's text stays in the status bar until the next button press: the live
  // reading's tick must not replace it with its own success.
  bool failureShown_ = false;
};
