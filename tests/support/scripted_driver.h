#pragma once

// Test-side control of the scripted test driver: the libraries KSER660.DLL .. KNET1660.DLL
// built from drivers/scripted, placed beside every test executable that uses them. They
// answer from a script that the test sets and record every entry call in order (Version and
// GetConfig aside), Error calls included.
//
// A ScriptedDriver opens the library of one interface itself (and keeps it loaded for its
// lifetime), so the script set before DriverInit is what the loader's library sees.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct TData;

struct LoggedCall {
  enum Kind { Init, SetConfig, Send, Done, Error } kind;
  uint32_t handle = 0;                  // SetConfig, Send, Done: the handle passed in
  uint32_t word0 = 0;                   // Init of types 0 and 1
  std::array<uintptr_t, 16> block{};    // Init of type 4: the 16 words as passed
  std::string ipText;                   // Init of type 4: the text word 0 pointed to, copied during the call
  std::array<uint32_t, 3> config{};     // SetConfig: a, b, c
  std::array<uint32_t, 8> request{};    // Send: the eight request words
  uint32_t code = 0;                    // Error: the code asked about
};

class ScriptedDriver {
 public:
  explicit ScriptedDriver(uint8_t iface);  // opens and resets the library of iface
  // The same from another directory, e.g. one of the variants lacking an entry.
  ScriptedDriver(uint8_t iface, const std::string& directory);
  ~ScriptedDriver();
  ScriptedDriver(const ScriptedDriver&) = delete;
  ScriptedDriver& operator=(const ScriptedDriver&) = delete;

  void reset();  // empty script, empty log, handle 0x51, statuses 0

  // --- script ---
  // Configuration memory answered by command 102; command 103 stores into it.
  void setConfigByte(uint8_t address, uint8_t value);
  uint8_t configByte(uint8_t address) const;
  // Command 102 at this address answers value whatever was written there.
  void setReadBack(uint8_t address, uint8_t value);
  // Data0..Data4 answered to a command and index: 0/0 a measured value, 0/64 the inputs,
  // 100/0 the status register, 200/0..2 identification characters. Unscripted: all 0.
  void setAnswer(uint8_t command, uint8_t index, std::array<uint8_t, 5> data);
  // The k-th Send counted from the last reset or clearLog (1-based, Sends already made
  // included) fails with status. reset and clearLog disarm it.
  void failExchange(int k, uint32_t status);
  // Every Send of this command fails with status; for 102/103 `key` is the configuration
  // address (Data1), otherwise the Index; -1 matches any.
  void failCommand(uint8_t command, int key, uint32_t status);
  void setInitStatus(uint32_t status);
  void setSetConfigStatus(uint32_t status);
  void setHandle(uint32_t handle);       // what Init writes through its pointer
  void setSendDelayMs(int ms);           // each Send blocks this long (a stalling line)
  // Report a failing status through Send's return value instead of its status pointer.
  void setStatusByReturn(bool byReturn);
  // Stop (false) or resume recording; benchmarks switch it off. reset() turns it back on.
  void setLogging(bool on);

  // --- log ---
  std::vector<LoggedCall> calls() const;
  std::vector<std::array<uint32_t, 8>> requests() const;  // the Send requests alone
  int count(LoggedCall::Kind kind) const;
  std::vector<LoggedCall::Kind> kinds() const;  // the order of the calls alone
  // Empties the log and starts the Send count again; failures armed by failExchange go
  // with it, those of failCommand stay.
  void clearLog();

 private:
  struct Api;
  void* library_ = nullptr;
  Api* api_ = nullptr;
};

// The driver's Error text: "Bez chyby" for 0, "Chyba č. <code>" for any other code below 100.
std::string ScriptedErrorText(uint32_t code);  // UTF-8

// Loads the scripted library of data.Interface through DriverInit and marks data connected
// (Connected true, DriverHandle set), as the connection dialog would.
void ConnectScripted(TData& data);
// DriverDone and data back to not connected.
void DisconnectScripted(TData& data);
