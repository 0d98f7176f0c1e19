#pragma once
// The words of a served exchange, shared by the window's traffic pane and `ctl traffic`: the
// command's name, what became of the request, and the record as one JSON line.

#include <QString>

#include <cstdint>
#include <string>

struct SimLogEntry;

// "čtení stavu" for 100; "příkaz 57" for a code the module does not know.
QString SimCommandName(uint8_t command);

// What the module did with a request, as the traffic filter groups it.
enum class SimOutcome { Ok, Refused, Silent };
SimOutcome SimOutcomeOf(const SimLogEntry& entry);
// "v pořádku", "stav 20", "bez odpovědi".
QString SimStatusText(const SimLogEntry& entry);

// Five data bytes as "00 2A FF 00 10".
QString SimDataText(const uint8_t* data);

// The time of an exchange in ISO 8601 with milliseconds and the given offset from UTC.
QString SimTimeText(const SimLogEntry& entry, int utcOffsetSeconds);

// The record of one exchange as a compact JSON object (no newline).
std::string SimTrafficJson(const SimLogEntry& entry, int utcOffsetSeconds);
