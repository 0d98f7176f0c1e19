#pragma once
// The bytes a module puts on the serial wire for what the line made of a request
// (SimBus::Outcome), with the fault that acted carried over from the socket frame: a cut
// frame stays cut, bits spoilt on the way stay spoilt (the CRC catches them), a collision is
// a run of bytes no frame starts in for as long as the colliding answers hold the wire, a
// wrong value stays a sound frame. An answer that would carry a wrong
// sequence number over a socket carries a wrong tag: either way it reads as the answer to
// some other request.

#include <cstdint>
#include <vector>

#include "sim/line/sim_bus.h"
#include "sim/serial_frame.h"

std::vector<uint8_t> SerialAnswerBytes(const SimBus::Outcome& outcome, const serialframe::WireRequest& request);
