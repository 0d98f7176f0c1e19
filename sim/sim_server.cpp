#include "sim/sim_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/text/errno_text.h"
#include "sim/control/sim_control.h"
#include "sim/line/state_file.h"
#include "sim/transport/serial_line.h"

namespace {
void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

std::string Errno(const std::string& what) { return what + ": " + CzechErrnoText(errno); }

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

constexpr int AddrBaudCode = 62;
constexpr int AddrBusAddress = 63;
}  // namespace

// An answer held back by a delay fault until its time comes.
struct SimServer::Delayed {
  std::chrono::steady_clock::time_point due;
  SimSocketReply reply;
  std::vector<uint8_t> frame;
};

SimServer::SimServer(SimServerOptions options) : options_(std::move(options)), line_(options_.wire) {}

SimServer::~SimServer() { stop(); }

bool SimServer::start(std::string* error) {
  if (running()) return true;
  stopping_ = false;
  // Held before the file is read and kept until after the last store in stop(): two simulators
  // never store into one state file, and a refused one touches nothing of it.
  if (!options_.statePath.empty()) {
    const std::string endpoint =
        !options_.serveLocal ? std::string() : options_.localPath.empty() ? simproto::DefaultEndpointPath() : options_.localPath;
    if (!HoldSimState(options_.statePath, endpoint, &stateHold_, error)) return false;
  }
  if (startServing(error)) return true;
  ReleaseSimState(stateHold_);
  return false;
}

bool SimServer::startServing(std::string* error) {
  if (!loadLine(error)) return false;

  if (options_.udpPort >= 0 && !udp_.open(options_.udpHost, options_.udpPort, error)) {
    closeAll();
    return false;
  }

  if (options_.serveLocal) {
    std::string why;
    localPath_ = options_.localPath.empty() ? simproto::DefaultEndpointPath(&why) : options_.localPath;
    if (localPath_.empty()) {
      SetError(error, why);
      closeAll();
      return false;
    }
    if (!local_.open(localPath_, error)) {
      closeAll();
      return false;
    }
  }

  if (options_.serveLocal && options_.serveControl) {
    controlPath_ = options_.controlPath.empty() ? localPath_ + ".ctl" : options_.controlPath;
    control_ = std::make_unique<SimControlListener>(this, options_.controlLimits);
    if (!control_->start(controlPath_, error)) {
      control_.reset();
      closeAll();
      return false;
    }
  }

  if (!openSerialLine(error)) {
    closeAll();
    return false;
  }
  paceTimer_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  if (paceTimer_ < 0) {
    SetError(error, Errno("timerfd"));
    closeAll();
    return false;
  }

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    SetError(error, Errno("pipe"));
    closeAll();
    return false;
  }
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  // A file that could not be read may still hold a line somebody wants back: it is kept
  // aside, never stored over, once this simulator is sure to run.
  if (!stateWarning_.empty()) {
    const std::string aside = options_.statePath + ".invalid";
    if (::rename(options_.statePath.c_str(), aside.c_str()) != 0) {
      SetError(error, stateWarning_ + "; soubor nelze odložit jako " + aside + ": " + CzechErrnoText(errno));
      closeAll();
      return false;
    }
    stateWarning_ += "; soubor zůstává jako " + aside;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stateUsable_ = !options_.statePath.empty();
  }
  thread_ = std::thread([this] { run(); });
  return true;
}

// The line to start with: the options' (each keeping its memory when the state file saved one
// set up alike, two alike the first two such in order), else the state file's, else one
// factory module. Modules set up alike are allowed: their answers collide, as on a real line.
bool SimServer::loadLine(std::string* error) {
  stateWarning_.clear();
  std::vector<SimModule::Memory> saved;
  if (!options_.statePath.empty()) {
    std::string why;
    switch (LoadSimState(options_.statePath, saved, &why)) {
      case SimStateLoad::Loaded:
      case SimStateLoad::Missing:
        break;
      case SimStateLoad::Invalid:
        stateWarning_ = why;  // start from the factory values; the file is kept aside by start()
        break;
      case SimStateLoad::NotAFile:
        SetError(error, why);  // never replaced by a state file
        return false;
    }
    RemoveStaleSimStateTemps(options_.statePath);
    // A module whose memory would silently vanish at the next restart is no module.
    if (!CanSaveSimState(options_.statePath, &why)) {
      SetError(error, "konfigurační paměť nelze ukládat: " + why);
      return false;
    }
  }
  std::vector<SimModule::Memory> line;
  std::vector<std::chrono::nanoseconds> turnarounds;
  std::vector<bool> taken(saved.size(), false);  // each saved memory goes to one module at most
  for (const SimModuleSpec& wanted : options_.modules) {
    size_t same = 0;
    while (same < saved.size() && (taken[same] || saved[same][AddrBusAddress] != wanted.address ||
                                   saved[same][AddrBaudCode] != wanted.baudCode))
      ++same;
    SimModule::Memory memory = SimModule::FactoryMemory();
    memory[AddrBusAddress] = wanted.address;
    memory[AddrBaudCode] = wanted.baudCode;
    if (same < saved.size()) {
      taken[same] = true;
      memory = saved[same];
    }
    line.push_back(memory);
    turnarounds.push_back(wanted.turnaround);
  }
  if (line.empty()) line = saved;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!line.empty()) {
    std::string why;
    if (!bus_.replace(line, &why)) {
      SetError(error, why);
      return false;
    }
    for (size_t i = 0; i < turnarounds.size(); ++i) bus_.setTurnaround(int(i), turnarounds[i]);
  }
  savedGeneration_ = bus_.generation();
  // Nothing is stored until start() has succeeded: a simulator that could not start (another
  // one serves the endpoint, say) must not replace the file that one is keeping.
  stateUsable_ = false;
  // A line given on the command line that differs from the saved one is stored at once.
  if (!options_.statePath.empty() && !options_.modules.empty() && bus_.memories() != saved) {
    savedGeneration_ = {~uint64_t(0), 0};
    storePending_ = true;
  }
  return true;
}

void SimServer::stop() {
  if (control_) control_->stop();
  control_.reset();
  if (thread_.joinable()) {
    stopping_ = true;
    wake();
    thread_.join();
  }
  closeAll();
  store();  // what the coalescing still held back
  {
    // The state file is let go: nothing is stored into it from here on.
    std::lock_guard<std::mutex> lock(mutex_);
    stateUsable_ = false;
  }
  ReleaseSimState(stateHold_);
}

void SimServer::wake() {
  if (wakeWrite_ < 0) return;
  const char byte = 1;
  [[maybe_unused]] auto n = ::write(wakeWrite_, &byte, 1);  // a full pipe wakes it anyway
}

// The serial line's rate, unless given, is the first module's: the one a driver would use.
bool SimServer::openSerialLine(std::string* error) {
  const bool pty = !options_.ptyLink.empty();
  if (!pty && options_.serialDevice.empty()) return true;
  if (pty && !options_.serialDevice.empty()) {
    SetError(error, "simulátor obslouží jen jednu sériovou linku: --pty, nebo --serial");
    return false;
  }
  const int32_t rate = options_.serialRate > 0 ? options_.serialRate : snapshot(0).baudRate();
  serial_ = SimSerialLine::Open(pty ? SimSerialLine::Kind::Pty : SimSerialLine::Kind::Device,
                                pty ? options_.ptyLink : options_.serialDevice, rate, options_.wire, error,
                                options_.adapter);
  return serial_ != nullptr;
}

void SimServer::closeAll() {
  serial_.reset();  // removes the link it made
  CloseFd(paceTimer_);
  udp_.close();
  local_.close();
  CloseFd(wakeRead_);
  CloseFd(wakeWrite_);
}

// An absolute deadline on CLOCK_MONOTONIC (steady_clock's clock), so a late wake-up never
// shifts the frames after it.
void SimServer::armPaceTimer(std::optional<Clock::time_point> at) {
  itimerspec timer{};
  if (at) {
    const auto ns = std::max<int64_t>(1, std::chrono::duration_cast<std::chrono::nanoseconds>(at->time_since_epoch()).count());
    timer.it_value.tv_sec = time_t(ns / 1'000'000'000);
    timer.it_value.tv_nsec = long(ns % 1'000'000'000);
  }
  ::timerfd_settime(paceTimer_, TFD_TIMER_ABSTIME, &timer, nullptr);
}

void SimServer::run() {
  // The kernel's default slack (50 us) on every wake-up would stretch a frame at 115200 Bd.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  std::vector<pollfd> fds;
  while (!stopping_) {
    ++loopRounds_;
    const auto now = Clock::now();
    const bool accepting = local_.listening() && now >= local_.pausedUntil();
    fds.clear();
    fds.push_back({wakeRead_, POLLIN, 0});
    fds.push_back({paceTimer_, POLLIN, 0});
    if (serial_) fds.push_back({serial_->fd(), serial_->events(), 0});
    if (udp_.fd() >= 0) fds.push_back({udp_.fd(), POLLIN, 0});
    if (accepting) fds.push_back({local_.listenFd(), POLLIN, 0});
    const size_t firstClient = fds.size();
    for (int c : local_.clients()) fds.push_back({c, POLLIN, 0});

    auto wakeAt = storeDue();
    auto paceAt = deliverDelayed();
    if (serial_) {
      serial_->serve(*this, 0, Clock::now());
      if (const auto next = serial_->due(); next && (!paceAt || *next < *paceAt)) paceAt = next;
    }
    armPaceTimer(paceAt);
    if (local_.listening() && !accepting && (!wakeAt || local_.pausedUntil() < *wakeAt)) wakeAt = local_.pausedUntil();
    int timeoutMs = -1;
    if (wakeAt) timeoutMs = int(std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(*wakeAt - now).count()));
    if (::poll(fds.data(), fds.size(), timeoutMs) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) {
      char drain[64];
      while (::read(wakeRead_, drain, sizeof drain) > 0) {
      }
    }
    if (stopping_) break;

    for (size_t i = 1; i < fds.size(); ++i) {
      const short revents = fds[i].revents;
      if (!revents) continue;
      const int fd = fds[i].fd;
      if (fd == paceTimer_) {
        uint64_t expirations = 0;
        [[maybe_unused]] auto n = ::read(paceTimer_, &expirations, sizeof expirations);
      } else if (serial_ && fd == serial_->fd()) {
        serial_->serve(*this, revents, Clock::now());
      } else if (i >= firstClient) {
        const bool hungUp = (revents & (POLLHUP | POLLERR)) != 0 && !(revents & POLLIN);
        if (hungUp || !local_.serve(*this, fd)) {
          // Its held-back answers die with it, before the descriptor number is reused.
          std::erase_if(delayed_, [&](const Delayed& d) { return !d.reply.udp && d.reply.fd == fd; });
          local_.drop(fd);
        }
      } else if (fd == udp_.fd()) {
        udp_.receive(*this);
      } else if (fd == local_.listenFd()) {
        local_.accept();
      }
    }
    if (const auto due = storeDue(); due && Clock::now() >= *due) store();
  }
  local_.closeClients();
}

SimBus::Outcome SimServer::handleFrame(const uint8_t* bytes, size_t size, SimLogEntry::Channel channel) {
  const auto request = simproto::DecodeRequest(bytes, size);
  if (!request) {
    ++malformed_;
    return {};
  }
  return process(*request, channel);
}

// The socket frames are the PC's link to its converter; the wire behind the converter carries
// the compact frame, so that is what takes the line's time.
void SimServer::serveSocketFrame(const uint8_t* bytes, size_t size, SimLogEntry::Channel channel,
                                 const SimSocketReply& reply) {
  const auto request = simproto::DecodeRequest(bytes, size);
  if (!request) {
    ++malformed_;
    return;
  }
  send(serve(*request, channel, Clock::now()), reply);
}

SimServer::Served SimServer::serve(const simproto::Request& request, SimLogEntry::Channel channel,
                                   simline::TimePoint ready) {
  Served served{process(request, channel), {}};
  std::optional<simline::Answering> answering;
  if (!served.outcome.frame.empty())
    answering = simline::Answering{served.outcome.turnaround, std::chrono::milliseconds(served.outcome.delayMs),
                                   served.outcome.spread};
  served.wire = line_.carry(ready, int32_t(request.rate), answering);
  return served;
}

// The converter hands the answer on once its last byte has crossed the wire (at once on an
// instant line, unless a delay fault holds it back).
void SimServer::send(const Served& served, const SimSocketReply& reply) {
  if (served.outcome.frame.empty() || !served.wire.answer) return;
  const Clock::time_point due = served.wire.answer->end;
  if (due <= Clock::now()) {
    reply.deliver(served.outcome.frame);
    return;
  }
  delayed_.push_back({due, reply, served.outcome.frame});
}

std::optional<SimServer::Clock::time_point> SimServer::deliverDelayed() {
  const auto now = Clock::now();
  std::optional<Clock::time_point> next;
  std::erase_if(delayed_, [&](const Delayed& d) {
    if (d.due <= now) {
      d.reply.deliver(d.frame);
      return true;
    }
    if (!next || d.due < *next) next = d.due;
    return false;
  });
  return next;
}

SimBus::Outcome SimServer::process(const simproto::Request& request, SimLogEntry::Channel channel) {
  std::lock_guard<std::mutex> lock(mutex_);
  PersistGuard guard{this};
  SimBus::Outcome outcome = bus_.dispatch(request);
  const uint64_t serial = ++requests_;
  const size_t slot = size_t((serial - 1) % LogCapacity);
  if (log_.size() <= slot) log_.resize(slot + 1);
  SimLogEntry& entry = log_[slot];
  entry.channel = channel;
  entry.serial = serial;
  entry.time = std::chrono::system_clock::now();
  entry.request = request;
  entry.answer = outcome.answer;
  entry.module = outcome.module;
  entry.note = outcome.note;
  return outcome;
}

void SimServer::scheduleStoreLocked() {
  if (!stateUsable_ || storePending_ || bus_.generation() == savedGeneration_) return;
  storePending_ = true;
  wake();  // the serving thread stores when the interval allows
}

std::optional<SimServer::Clock::time_point> SimServer::storeDue() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!storePending_) return std::nullopt;
  return lastStoreAt_ + (lastStoreFailed_ ? StoreRetryInterval : StoreInterval);
}

void SimServer::store() {
  std::lock_guard<std::mutex> storing(storeMutex_);
  std::vector<SimModule::Memory> memories;
  SimBus::Generation generation{};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stateUsable_ || bus_.generation() == savedGeneration_) {
      storePending_ = false;
      return;
    }
    memories = bus_.memories();
    generation = bus_.generation();
  }
  // The disk is written outside the module's lock, so requests are not held up by it.
  std::string why;
  const bool ok = SaveSimState(options_.statePath, memories, &why);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lastStoreAt_ = Clock::now();
    lastStoreFailed_ = !ok;
    if (ok) {
      savedGeneration_ = generation;
      storeError_.clear();
      ++stores_;
    } else {
      storeError_ = why;
    }
    storePending_ = bus_.generation() != savedGeneration_;
  }
  if (!ok && options_.onStoreFailure) options_.onStoreFailure(why);
  notifyChanged();  // a failed store, or the end of one, shows in the window
}

void SimServer::notifyChanged() {
  std::lock_guard<std::mutex> lock(listenerMutex_);
  if (listener_) listener_();
}

void SimServer::setChangeListener(std::function<void()> listener) {
  std::lock_guard<std::mutex> lock(listenerMutex_);
  listener_ = std::move(listener);
}

SimModule SimServer::snapshot(int index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bus_.module(index);
}

SimBus SimServer::busSnapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bus_;
}

int SimServer::moduleCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bus_.size();
}

std::vector<SimLogEntry> SimServer::recentLog() const { return logSince(0); }

std::vector<SimLogEntry> SimServer::logSince(uint64_t serial, size_t max) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint64_t last = requests_.load();
  const uint64_t oldest = last > log_.size() ? last - log_.size() + 1 : 1;
  std::vector<SimLogEntry> entries;
  for (uint64_t s = std::max(serial + 1, oldest); s <= last && entries.size() < max; ++s)
    entries.push_back(log_[size_t((s - 1) % LogCapacity)]);
  return entries;
}

void SimServer::setSourceVoltage(double volts) {
  withModule([&](SimModule& m) { m.setSourceVoltage(volts); });
}
void SimServer::setSourceCurrent(double milliamps) {
  withModule([&](SimModule& m) { m.setSourceCurrent(milliamps); });
}
void SimServer::setShortCircuit(bool on) {
  withModule([&](SimModule& m) { m.setShortCircuit(on); });
}
void SimServer::setInputSwitches(uint32_t switches) {
  withModule([&](SimModule& m) { m.setInputSwitches(switches); });
}
void SimServer::raiseStatusBits(uint32_t mask) {
  withModule([&](SimModule& m) { m.raiseStatusBits(mask); });
}
// Switching the power is where the module's memory must be safe, whatever the interval.
void SimServer::setPowered(bool on) {
  withModule([&](SimModule& m) { m.setPowered(on); });
  store();
}
void SimServer::powerCycle() {
  withModule([](SimModule& m) { m.powerCycle(); });
  store();
}
