#pragma once
// The simulator's own state file: the configuration memory of every module on the line, so
// that it survives a restart of the simulator as it survives a power cycle. A short text file:
//
//   qx510-sim 2
//   module
//   00 00 00 ... (64 bytes as hexadecimal pairs)
//   module
//   ...
//
// A file of the single-module simulator ("qx510-sim 1" and one memory without "module") is
// still read, so that a module saved before the line existed is not lost.

#include <cstddef>
#include <string>
#include <vector>

#include "sim/line/module_model.h"

// $XDG_STATE_HOME/qx510-sim/module.state, else ~/.local/state/qx510-sim/module.state.
std::string DefaultSimStatePath();

// A real state file is about 200 bytes a module, 32 modules at most; anything much larger is
// not one.
constexpr size_t SimStateMaxBytes = 16384;

enum class SimStateLoad {
  Loaded,
  Missing,     // no file at the path
  Invalid,     // a regular file, but not a state file (or unreadable, or too large)
  NotAFile,    // a FIFO, device, directory or socket: never read, never replaced
};

// Modules are changed only when Loaded (1..32 memories). Reads regular files only, at most
// SimStateMaxBytes; a FIFO at the path never blocks the caller.
SimStateLoad LoadSimState(const std::string& path, std::vector<SimModule::Memory>& modules,
                          std::string* error = nullptr);
// Writes the state through the checked writer (base/files/checked_file.h): a store that fails
// leaves the earlier file as it was, and a FIFO or device at path is refused, never replaced.
// Creates missing directories. False with a Czech reason naming the file.
bool SaveSimState(const std::string& path, const std::vector<SimModule::Memory>& modules,
                  std::string* error = nullptr);
// Whether SaveSimState can be expected to succeed: the folder exists (made if missing) and takes
// new files, and nothing other than a regular file is at path. Writes nothing.
bool CanSaveSimState(const std::string& path, std::string* error = nullptr);
// Removes the temporary files a store killed half-way left beside path (this user's only).
void RemoveStaleSimStateTemps(const std::string& path);

// One simulator per state file: two that stored into one file would overwrite each other's
// lines. A simulator holds its state file, from before it reads it until after its last store,
// by an advisory lock on `<path>.lock` beside it (sim/lock_file.h): the kernel drops the lock
// when the simulator ends, however it ends, so a lock file a dead simulator left blocks
// nobody. The file names the holder's process id and endpoint for whoever is refused.
struct SimStateHold {
  int fd = -1;
  std::string path;  // the lock file
};
// False with a one-line reason (naming the holder's PID and endpoint when another simulator
// holds the file) when the state file cannot be held. Creates missing directories.
bool HoldSimState(const std::string& path, const std::string& endpoint, SimStateHold* hold,
                  std::string* error = nullptr);
// Lets the state file go and removes the lock file; nothing when none is held.
void ReleaseSimState(SimStateHold& hold);
