// The simulated module's handling of request frames as one channel delivers them, in
// sequences on one module so that writes, reads and power cycles meet. Input: frames, each
// after a byte giving its length (low five bits); a byte of 0xFF power-cycles the module.
#include <algorithm>

#include "fuzz/fuzz_check.h"
#include "sim/sim_server.h"

#ifndef QX510_FUZZ_CHANNEL
#error "QX510_FUZZ_CHANNEL names the channel: Lan or Local"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SimServer server;  // never started: no sockets, no state file
  size_t i = 0;
  while (i < size) {
    const uint8_t head = data[i++];
    if (head == 0xFF) {
      server.powerCycle();
      continue;
    }
    const size_t n = std::min<size_t>(head & 0x1F, size - i);
    const uint8_t* frame = data + i;
    i += n;
    const auto request = simproto::DecodeRequest(frame, n);
    const auto answer = server.handleFrame(frame, n, SimLogEntry::QX510_FUZZ_CHANNEL);
    if (answer.frame.empty()) continue;
    FuzzCheck(request.has_value(), "only a well-formed request is answered");
    // No fault is armed, so whatever goes back is a whole answer frame.
    const auto decoded = simproto::DecodeAnswer(answer.frame.data(), answer.frame.size());
    FuzzCheck(decoded.has_value(), "the answer is a well-formed frame");
    FuzzCheck(decoded->seq == request->seq && decoded->address == request->address &&
                  decoded->command == request->command,
              "the answer echoes the request's sequence number, address and command");
    const uint8_t s = decoded->status;
    FuzzCheck(s == simproto::ModuleStatus::Ok || (s >= simproto::ModuleStatus::UnknownCommand &&
                                                   s <= simproto::ModuleStatus::CopiesDiffer),
              "the status is one the module gives");
  }
  FuzzCheck(server.recentLog().size() <= SimServer::LogCapacity, "the log stays bounded");
  return 0;
}
