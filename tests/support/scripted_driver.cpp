#include "tests/support/scripted_driver.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "base/settings/tdata.h"
#include "base/exchange/driver_loader.h"
#include "drivers/scripted/scripted_control.h"

struct ScriptedDriver::Api {
  ScriptResetFn reset;
  ScriptSetConfigByteFn setConfigByte;
  ScriptGetConfigByteFn getConfigByte;
  ScriptSetReadBackFn setReadBack;
  ScriptSetAnswerFn setAnswer;
  ScriptFailExchangeFn failExchange;
  ScriptFailCommandFn failCommand;
  ScriptSetValueFn setInitStatus;
  ScriptSetValueFn setSetConfigStatus;
  ScriptSetValueFn setHandle;
  ScriptSetValueFn setSendDelayMs;
  ScriptSetValueFn setStatusByReturn;
  ScriptSetValueFn setLogging;
  ScriptLogCountFn logCount;
  ScriptLogEntryFn logEntry;
  ScriptClearLogFn clearLog;
};

ScriptedDriver::ScriptedDriver(uint8_t iface) : ScriptedDriver(iface, ExecutableDirectory()) {}

ScriptedDriver::ScriptedDriver(uint8_t iface, const std::string& directory) {
  if (iface >= 5) throw std::invalid_argument("no scripted driver for interface " + std::to_string(iface));
  const std::string path = directory + "/" + DriverLibraryName(iface).toStdString();
  library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library_ == nullptr) throw std::runtime_error("cannot open " + path + ": " + dlerror());

  auto get = [this, &path](const char* name) {
    void* fn = dlsym(library_, name);
    if (fn == nullptr) throw std::runtime_error(path + " lacks " + name);
    return fn;
  };
  api_ = new Api{
      reinterpret_cast<ScriptResetFn>(get("Script_Reset")),
      reinterpret_cast<ScriptSetConfigByteFn>(get("Script_SetConfigByte")),
      reinterpret_cast<ScriptGetConfigByteFn>(get("Script_GetConfigByte")),
      reinterpret_cast<ScriptSetReadBackFn>(get("Script_SetReadBack")),
      reinterpret_cast<ScriptSetAnswerFn>(get("Script_SetAnswer")),
      reinterpret_cast<ScriptFailExchangeFn>(get("Script_FailExchange")),
      reinterpret_cast<ScriptFailCommandFn>(get("Script_FailCommand")),
      reinterpret_cast<ScriptSetValueFn>(get("Script_SetInitStatus")),
      reinterpret_cast<ScriptSetValueFn>(get("Script_SetSetConfigStatus")),
      reinterpret_cast<ScriptSetValueFn>(get("Script_SetHandle")),
      reinterpret_cast<ScriptSetValueFn>(get("Script_SetSendDelayMs")),
      reinterpret_cast<ScriptSetValueFn>(get("Script_SetStatusByReturn")),
      reinterpret_cast<ScriptSetValueFn>(get("Script_SetLogging")),
      reinterpret_cast<ScriptLogCountFn>(get("Script_LogCount")),
      reinterpret_cast<ScriptLogEntryFn>(get("Script_LogEntry")),
      reinterpret_cast<ScriptClearLogFn>(get("Script_ClearLog")),
  };
  reset();
}

ScriptedDriver::~ScriptedDriver() {
  delete api_;
  if (library_ != nullptr) dlclose(library_);
}

void ScriptedDriver::reset() { api_->reset(); }

void ScriptedDriver::setConfigByte(uint8_t address, uint8_t value) { api_->setConfigByte(address, value); }
uint8_t ScriptedDriver::configByte(uint8_t address) const { return uint8_t(api_->getConfigByte(address)); }
void ScriptedDriver::setReadBack(uint8_t address, uint8_t value) { api_->setReadBack(address, value); }
void ScriptedDriver::setAnswer(uint8_t command, uint8_t index, std::array<uint8_t, 5> data) {
  api_->setAnswer(command, index, data.data());
}
void ScriptedDriver::failExchange(int k, uint32_t status) { api_->failExchange(k, status); }
void ScriptedDriver::failCommand(uint8_t command, int key, uint32_t status) {
  api_->failCommand(command, key, status);
}
void ScriptedDriver::setInitStatus(uint32_t status) { api_->setInitStatus(status); }
void ScriptedDriver::setSetConfigStatus(uint32_t status) { api_->setSetConfigStatus(status); }
void ScriptedDriver::setHandle(uint32_t handle) { api_->setHandle(handle); }
void ScriptedDriver::setSendDelayMs(int ms) { api_->setSendDelayMs(uint32_t(ms < 0 ? 0 : ms)); }
void ScriptedDriver::setStatusByReturn(bool byReturn) { api_->setStatusByReturn(byReturn ? 1 : 0); }
void ScriptedDriver::setLogging(bool on) { api_->setLogging(on ? 1 : 0); }

std::vector<LoggedCall> ScriptedDriver::calls() const {
  std::vector<LoggedCall> out;
  const uint32_t n = api_->logCount();
  out.reserve(n);
  for (uint32_t i = 0; i < n; ++i) {
    ScriptLogEntry e{};
    if (api_->logEntry(i, &e) != 0) break;
    LoggedCall c;
    c.kind = LoggedCall::Kind(e.kind);
    c.handle = e.handle;
    c.word0 = e.word0;
    std::copy(std::begin(e.block), std::end(e.block), c.block.begin());
    e.ipText[SCRIPT_IP_TEXT_MAX - 1] = '\0';
    c.ipText = e.ipText;
    std::copy(std::begin(e.config), std::end(e.config), c.config.begin());
    std::copy(std::begin(e.request), std::end(e.request), c.request.begin());
    c.code = e.code;
    out.push_back(std::move(c));
  }
  return out;
}

std::vector<std::array<uint32_t, 8>> ScriptedDriver::requests() const {
  std::vector<std::array<uint32_t, 8>> out;
  for (const LoggedCall& c : calls())
    if (c.kind == LoggedCall::Send) out.push_back(c.request);
  return out;
}

int ScriptedDriver::count(LoggedCall::Kind kind) const {
  int n = 0;
  for (const LoggedCall& c : calls()) n += c.kind == kind ? 1 : 0;
  return n;
}

std::vector<LoggedCall::Kind> ScriptedDriver::kinds() const {
  std::vector<LoggedCall::Kind> out;
  for (const LoggedCall& c : calls()) out.push_back(c.kind);
  return out;
}

void ScriptedDriver::clearLog() { api_->clearLog(); }

std::string ScriptedErrorText(uint32_t code) {
  return code == 0 ? std::string("Bez chyby") : "Chyba č. " + std::to_string(code);
}

void ConnectScripted(TData& data) {
  // The parameter block as the connection dialog fills it; IpAddress stays alive in data.
  data.DriverParams.fill(0);
  switch (data.Interface) {
    case InterfaceSerial:
      data.DriverParams[0] = data.ComPort;
      break;
    case InterfaceIsa:
      data.DriverParams[0] = data.IsaBaseAddress;
      break;
    case InterfaceLan:
      data.DriverParams[0] = reinterpret_cast<uintptr_t>(data.IpAddress.constData());
      data.DriverParams[1] = uintptr_t(uint32_t(data.UdpPort));
      data.DriverParams[2] = uintptr_t(uint32_t(data.UdpTimeout));
      break;
    default:
      break;
  }
  uint32_t handle = data.DriverHandle;
  const uint32_t status = DriverInit(data.Interface, &handle, data.DriverParams);
  ASSERT_EQ(status, 0u) << "scripted driver of interface " << int(data.Interface) << " did not start";
  data.DriverHandle = handle;
  data.Connected = true;
}

void DisconnectScripted(TData& data) {
  uint32_t handle = data.DriverHandle;
  DriverDone(data.Interface, &handle);
  data.DriverHandle = handle;
  data.Connected = false;
}
