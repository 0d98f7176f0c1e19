#pragma once
// One program per line: a stand-in driver holds the line it opened (a serial port, an ISA card
// at its base address, the PCI card, the USB converter, a LAN converter at its address and
// port) for as long as the handle lives. The hold is an advisory lock on a file in the user's
// private runtime folder (sim/lock_file.h), so the kernel drops it when the holder ends,
// however it ends. The file holds the holder's process id for whoever is refused.

#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace standin {

struct LineTake {
  enum Result { Taken, Busy, Failed } result = Failed;
  int fd = -1;          // Taken: the lock's descriptor
  std::string path;     // the lock file; empty when the private folder could not be had
  pid_t holder = 0;     // Busy: who holds the line, 0 when the file does not say
  // Failed: why, in Czech (UTF-8). With a path: what is wrong with that file ("patří jinému
  // uživateli"); without: what is wrong with the private folder, its path included.
  std::string problem;
};

// `line` names the line within the lock folder, in characters safe for a file name.
LineTake TakeLine(const std::string& line);
// Lets a taken line go and removes its lock file. A holder that ends without it leaves the
// file behind, for the next one to take over.
void ReleaseLine(int fd, const std::string& path);

// The name of a line reached through the simulator's local endpoint: the endpoint stands in
// for the machine the cards and ports sit in, so each simulator's lines are its own.
std::string LocalLineName(const std::string& line, const std::string& endpoint);

// The name of the LAN converter at this IPv4 address and UDP port (network byte order in
// `address`), the same for every address text that reaches the same converter (see the
// definition for how addresses of this host are told).
std::string LanLineName(in_addr address, uint16_t port);

}  // namespace standin
