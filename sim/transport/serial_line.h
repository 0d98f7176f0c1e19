#pragma once
// The simulator's serial line: a pseudo-terminal whose slave the drivers open through a
// symbolic link (--pty), or a real port with a second adapter on the same wire (--serial).
// Requests arrive as the compact frame (sim/serial_frame.h), delimited by the inter-frame
// silence and checked by their CRC; a frame cut short or spoilt is counted as unreadable and
// dropped. Served on SimServer's thread, which polls fd() and calls tick() at due().
//
// On the pseudo-terminal the line's rate is whatever the driver set on its slave: read from
// the simulator's own descriptor of the same slave for every request, so a module at another
// rate does not answer. That descriptor is also what keeps the master from reading EIO while
// no driver holds the slave. A pseudo-terminal does not pace, so the simulator writes each
// answer byte when its last bit would have crossed the wire; a real port paces itself and
// gets the whole answer when it starts.

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/line/wire_line.h"
#include "sim/transport/serial_framer.h"

class SimServer;

// What the PC's adapter does to the bytes it hands the driver, played on a pseudo-terminal
// (a real port has a real adapter): a USB chip holds what it receives for its latency timer
// before it passes it on, and a 2-wire adapter's receiver hears its own transmitter.
struct SimAdapter {
  std::chrono::milliseconds latency{0};
  bool echo = false;
};

class SimSerialLine {
 public:
  enum class Kind { Pty, Device };
  // Pty: `path` becomes a symbolic link to the new slave, starting raw 8N1 at `rate`. A link
  // left there by a simulator of this user that died (one of the user's own, to a
  // pseudo-terminal that is gone) is taken over; anything else there is refused. Device: the
  // port at `path`, held exclusively, raw 8N1 at `rate`.
  static std::unique_ptr<SimSerialLine> Open(Kind kind, const std::string& path, int32_t rate, simline::Wire wire,
                                             std::string* error, SimAdapter adapter = {});
  ~SimSerialLine();
  SimSerialLine(const SimSerialLine&) = delete;
  SimSerialLine& operator=(const SimSerialLine&) = delete;

  Kind kind() const { return kind_; }
  const std::string& path() const { return path_; }      // the link, or the port
  const std::string& device() const { return device_; }  // the slave's own path, or the port
  int32_t lineRate() const;                              // 0: a rate no module uses

  // Serving thread only.
  int fd() const { return fd_; }
  short events() const;  // for poll
  std::optional<simline::TimePoint> due() const;
  void serve(SimServer& server, short revents, simline::TimePoint now);

 private:
  SimSerialLine(Kind kind, std::string path, simline::Wire wire, SimAdapter adapter);
  void receive(simline::TimePoint now);
  void answer(SimServer& server, const simline::SerialFramer::Frame& frame);
  void flush(simline::TimePoint now);
  // One byte for the driver, once its last bit has crossed the wire at `onWire`.
  void hand(simline::TimePoint onWire, uint8_t byte);
  void releaseAbandoned();

  struct Output {
    simline::TimePoint due;
    std::vector<uint8_t> bytes;
  };

  Kind kind_;
  std::string path_;
  std::string device_;
  simline::Wire wire_;
  SimAdapter adapter_;
  simline::TimePoint heldUntil_{};  // the adapter's latency timer runs out here
  simline::TimePoint echoEnd_{};    // the echo of the request's last byte so far
  // A driver killed while it held the pseudo-terminal leaves it exclusive and at its own
  // settings: the line gets back the ones it started with once nobody holds it.
  termios started_{};
  simline::TimePoint nextAbandonCheck_{};
  int fd_ = -1;
  int slave_ = -1;
  bool ownsLink_ = false;
  int32_t deviceRate_ = 0;
  simline::SerialFramer framer_;
  std::deque<Output> out_;
  bool blocked_ = false;  // the last write did not go out whole: wait until it can
  // A real two-wire adapter may hear its own answer: those bytes, while they come back in
  // order, are not a request.
  std::vector<uint8_t> echo_;
  simline::TimePoint echoUntil_{};
};
