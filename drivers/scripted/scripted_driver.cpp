// The scripted test driver: answers every request from a script that the test sets through
// the Script_ entries and records every entry call. One source, built once per library
// prefix; QX510_SCRIPTED_INIT selects the Init signature of that prefix (0: handle and word 0,
// 1: handle alone, 2: handle and the parameter block).
#include <array>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "drivers/driver_abi.h"
#include "drivers/scripted/scripted_control.h"

#ifndef QX510_SCRIPTED_INIT
#error "QX510_SCRIPTED_INIT must name the Init signature"
#endif

namespace {

constexpr uint8_t CmdReadConfig = 102;
constexpr uint8_t CmdWriteConfig = 103;
constexpr uint32_t DefaultHandle = 0x51;
// Statuses of the driver's own for calls it cannot serve.
constexpr uint32_t StatusBadArgument = 2;

// Upper bytes of the result words carry noise: only the low bytes are the module's answer,
// and a caller that reads more than that should notice.
constexpr uint32_t ResponseNoise = 0xA5C3E100u;
constexpr uint32_t AuxNoise = 0x5A3C1E00u;
// What the result words hold after a failed exchange: nothing a caller may use.
constexpr uint32_t FailedNoise = 0x000000EEu;

struct Script {
  uint8_t config[256] = {};
  std::map<uint8_t, uint8_t> readBack;
  std::map<std::pair<uint8_t, uint8_t>, std::array<uint8_t, 5>> answers;
  std::map<int32_t, uint32_t> failAt;                       // k-th Send -> status
  std::map<std::pair<uint8_t, int32_t>, uint32_t> failCmd;  // (command, key or -1) -> status
  uint32_t initStatus = 0;
  uint32_t setConfigStatus = 0;
  uint32_t handle = DefaultHandle;
  uint32_t sendDelayMs = 0;
  bool statusByReturn = false;
  bool logging = true;
  int32_t sendCount = 0;
  std::vector<ScriptLogEntry> log;
  uint32_t lastConfig[3] = {};
};

Script& State() {
  static Script script;
  return script;
}

void Record(const ScriptLogEntry& entry) {
  if (State().logging) State().log.push_back(entry);
}

ScriptLogEntry NewEntry(ScriptCallKind kind) {
  ScriptLogEntry e;
  std::memset(&e, 0, sizeof e);
  e.kind = kind;
  return e;
}

// The status the script gives the k-th Send of this command and key, 0 when none.
uint32_t ScriptedFailure(const Script& s, uint8_t command, uint8_t index, uint8_t data1) {
  if (auto it = s.failAt.find(s.sendCount); it != s.failAt.end()) return it->second;
  const int32_t key = (command == CmdReadConfig || command == CmdWriteConfig) ? data1 : index;
  if (auto it = s.failCmd.find({command, key}); it != s.failCmd.end()) return it->second;
  if (auto it = s.failCmd.find({command, -1}); it != s.failCmd.end()) return it->second;
  return 0;
}

std::array<uint8_t, 5> Answer(Script& s, uint8_t command, uint8_t index, const uint32_t* request) {
  const uint8_t address = uint8_t(request[4]);
  if (command == CmdReadConfig) {
    const auto it = s.readBack.find(address);
    return {0, 0, 0, it != s.readBack.end() ? it->second : s.config[address], 0};
  }
  if (command == CmdWriteConfig) {
    s.config[address] = uint8_t(request[6]);
    return {};
  }
  const auto it = s.answers.find({command, index});
  return it != s.answers.end() ? it->second : std::array<uint8_t, 5>{};
}

void WriteText(const std::string& text, uint32_t* buffer) {
  // Drivers start their texts in slot 0.
  for (uint32_t i = 0; i < QX510_DRIVER_RESPONSE_WORDS; ++i)
    buffer[i] = i < text.size() ? uint8_t(text[i]) : 0u;
}

}  // namespace

#define ENTRY extern "C" QX510_DRIVER_EXPORT

ENTRY uint32_t QX510_DRIVER_ENTRY(Version)(uint32_t* version) {
  if (version != nullptr) *version = 0x0100;
  return 0;
}

#if QX510_SCRIPTED_INIT == 0
ENTRY uint32_t QX510_DRIVER_ENTRY(Init)(uint32_t* handle, uint32_t word0) {
  ScriptLogEntry e = NewEntry(ScriptCallInit);
  e.word0 = word0;
#elif QX510_SCRIPTED_INIT == 1
ENTRY uint32_t QX510_DRIVER_ENTRY(Init)(uint32_t* handle) {
  ScriptLogEntry e = NewEntry(ScriptCallInit);
#else
ENTRY uint32_t QX510_DRIVER_ENTRY(Init)(uint32_t* handle, const uintptr_t* block) {
  ScriptLogEntry e = NewEntry(ScriptCallInit);
  if (block != nullptr) {
    std::memcpy(e.block, block, sizeof e.block);
    // The block and the text it points to live only for the duration of this call.
    if (const char* ip = reinterpret_cast<const char*>(block[0])) {
      const size_t n = strnlen(ip, SCRIPT_IP_TEXT_MAX - 1);
      std::memcpy(e.ipText, ip, n);
    }
  }
#endif
  Record(e);
  if (handle == nullptr) return StatusBadArgument;
  if (State().initStatus != 0) return State().initStatus;
  *handle = State().handle;
  return 0;
}

ENTRY uint32_t QX510_DRIVER_ENTRY(SetConfig)(uint32_t handle, uint32_t a, uint32_t b, uint32_t c) {
  ScriptLogEntry e = NewEntry(ScriptCallSetConfig);
  e.handle = handle;
  e.config[0] = a;
  e.config[1] = b;
  e.config[2] = c;
  Record(e);
  if (State().setConfigStatus != 0) return State().setConfigStatus;
  State().lastConfig[0] = a;
  State().lastConfig[1] = b;
  State().lastConfig[2] = c;
  return 0;
}

ENTRY uint32_t QX510_DRIVER_ENTRY(GetConfig)(uint32_t, uint32_t* a, uint32_t* b, uint32_t* c) {
  if (a == nullptr || b == nullptr || c == nullptr) return StatusBadArgument;
  *a = State().lastConfig[0];
  *b = State().lastConfig[1];
  *c = State().lastConfig[2];
  return 0;
}

ENTRY uint32_t QX510_DRIVER_ENTRY(Send)(uint32_t handle, const uint32_t* request, uint32_t* response,
                                        uint32_t* aux, uint32_t* status) {
  Script& s = State();
  if (request == nullptr || response == nullptr || aux == nullptr || status == nullptr)
    return StatusBadArgument;
  ++s.sendCount;
  if (s.logging) {
    ScriptLogEntry e = NewEntry(ScriptCallSend);
    e.handle = handle;
    std::memcpy(e.request, request, sizeof e.request);
    s.log.push_back(e);
  }
  if (s.sendDelayMs != 0) std::this_thread::sleep_for(std::chrono::milliseconds(s.sendDelayMs));

  const uint8_t command = uint8_t(request[1]);
  const uint8_t index = uint8_t(request[2]);
  const uint32_t failure = ScriptedFailure(s, command, index, uint8_t(request[4]));
  if (failure != 0) {
    for (int i = 0; i < 4; ++i) response[i] = FailedNoise;
    *aux = FailedNoise;
    if (s.statusByReturn) {
      *status = 0;
      return failure;
    }
    *status = failure;
    return 0;
  }
  const std::array<uint8_t, 5> data = Answer(s, command, index, request);
  *aux = AuxNoise | data[0];
  for (int i = 0; i < 4; ++i) response[i] = ResponseNoise | data[size_t(i) + 1];
  *status = 0;
  return 0;
}

ENTRY uint32_t QX510_DRIVER_ENTRY(Done)(uint32_t* handle) {
  ScriptLogEntry e = NewEntry(ScriptCallDone);
  e.handle = handle != nullptr ? *handle : 0;
  Record(e);
  if (handle == nullptr) return StatusBadArgument;
  *handle = 0;
  return 0;
}

ENTRY uint32_t QX510_DRIVER_ENTRY(Error)(uint32_t code, uint32_t* buffer) {
  ScriptLogEntry e = NewEntry(ScriptCallError);
  e.code = code;
  Record(e);
  if (buffer == nullptr) return StatusBadArgument;
  // Windows-1250: 0xE8 is the small c with caron.
  WriteText(code == 0 ? std::string("Bez chyby") : "Chyba \xE8. " + std::to_string(code), buffer);
  return 0;
}

// ---- control entries ----

ENTRY void Script_Reset() {
  Script& s = State();
  s = Script();
}

ENTRY void Script_SetConfigByte(uint32_t address, uint32_t value) {
  State().config[uint8_t(address)] = uint8_t(value);
}

ENTRY uint32_t Script_GetConfigByte(uint32_t address) { return State().config[uint8_t(address)]; }

ENTRY void Script_SetReadBack(uint32_t address, uint32_t value) {
  State().readBack[uint8_t(address)] = uint8_t(value);
}

ENTRY void Script_SetAnswer(uint32_t command, uint32_t index, const uint8_t* data5) {
  std::array<uint8_t, 5> data{};
  if (data5 != nullptr) std::memcpy(data.data(), data5, data.size());
  State().answers[{uint8_t(command), uint8_t(index)}] = data;
}

ENTRY void Script_FailExchange(int32_t k, uint32_t status) { State().failAt[k] = status; }

ENTRY void Script_FailCommand(uint32_t command, int32_t key, uint32_t status) {
  State().failCmd[{uint8_t(command), key < 0 ? -1 : key}] = status;
}

ENTRY void Script_SetInitStatus(uint32_t status) { State().initStatus = status; }
ENTRY void Script_SetSetConfigStatus(uint32_t status) { State().setConfigStatus = status; }
ENTRY void Script_SetHandle(uint32_t handle) { State().handle = handle; }
ENTRY void Script_SetSendDelayMs(uint32_t ms) { State().sendDelayMs = ms; }
ENTRY void Script_SetStatusByReturn(uint32_t byReturn) { State().statusByReturn = byReturn != 0; }
ENTRY void Script_SetLogging(uint32_t on) { State().logging = on != 0; }

ENTRY uint32_t Script_LogCount() { return uint32_t(State().log.size()); }

ENTRY int32_t Script_LogEntry(uint32_t i, ScriptLogEntry* entry) {
  if (entry == nullptr || i >= State().log.size()) return -1;
  *entry = State().log[i];
  return 0;
}

// The Send count starts again, so failures armed by count belong to the count that ends here.
ENTRY void Script_ClearLog() {
  State().log.clear();
  State().sendCount = 0;
  State().failAt.clear();
}
