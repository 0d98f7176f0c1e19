#pragma once
// A fault a trainer arms on one simulated module or on the whole line (SimBus::arm), and its
// names as the control channel and the window spell them.

#include <cstdint>
#include <optional>
#include <string>

#include "sim/protocol.h"

struct SimFault {
  enum Kind {
    Silent,     // no answer
    Delay,      // the answer leaves delayMs late
    Malformed,  // the answer is spoilt on its way, or wrong at its source, as `form` says
    Refuse,     // the module answers `status` (20..23) and does nothing
    PowerLoss,  // the power fails at the afterWrites-th configuration write
    Collision,  // a second module answers alike: what arrives is garbage
  };
  // The first four spoil the frame on its way, and the receiver's frame checks catch them;
  // WrongValue is the module itself answering a wrong value in a sound frame, which only a
  // read-back can catch.
  enum Form { WrongLength, WrongSequence, WrongAddress, FlippedBits, WrongValue };

  Kind kind = Silent;
  int command = -1;  // only requests of this command count; -1: every request
  int count = 0;     // disarms after this many requests; 0: stays until cleared
  int delayMs = 0;
  Form form = WrongLength;
  uint8_t status = simproto::ModuleStatus::UnknownCommand;
  int afterWrites = 1;
  bool keepWrite = false;  // whether the interrupted write reaches the memory
  int writesSeen = 0;

  // The kind's name as the control channel spells it, with its parameters ("delay 500 ms,
  // zbývá 2"), for lists and the control channel.
  std::string describe() const;
  static const char* KindName(Kind kind);
  static std::optional<Kind> KindFromName(const std::string& name);
  static const char* FormName(Form form);
  static std::optional<Form> FormFromName(const std::string& name);
};
