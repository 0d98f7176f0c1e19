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

#include "sim/module_model.h"

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
// Writes a temporary file beside it (a fresh name, created exclusively, with the old file's
// owner and mode), flushes it to the disk and renames it over the old one, so that a crash
// leaves either the old file or the new one. Creates missing directories.
bool SaveSimState(const std::string& path, const std::vector<SimModule::Memory>& modules,
                  std::string* error = nullptr);
// Whether SaveSimState can write beside path: writes the temporary file and removes it again,
// leaving any file at path as it is.
bool CanSaveSimState(const std::string& path, std::string* error = nullptr);
// Removes the temporary files a store killed half-way left beside path (this user's only).
void RemoveStaleSimStateTemps(const std::string& path);
