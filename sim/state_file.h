#pragma once
// The simulator's own state file: the module's configuration memory, so that it survives a
// restart of the simulator as it survives a power cycle. A short text file:
//
//   qx510-sim 1
//   00 00 00 ... (64 bytes as hexadecimal pairs)

#include <cstddef>
#include <string>

#include "sim/module_model.h"

// $XDG_STATE_HOME/qx510-sim/module.state, else ~/.local/state/qx510-sim/module.state.
std::string DefaultSimStatePath();

// A real state file is about 200 bytes; anything much larger is not one.
constexpr size_t SimStateMaxBytes = 4096;

enum class SimStateLoad {
  Loaded,
  Missing,     // no file at the path
  Invalid,     // a regular file, but not a state file (or unreadable, or too large)
  NotAFile,    // a FIFO, device, directory or socket: never read, never replaced
};

// Memory is changed only when Loaded. Reads regular files only, at most SimStateMaxBytes;
// a FIFO at the path never blocks the caller.
SimStateLoad LoadSimState(const std::string& path, SimModule::Memory& memory, std::string* error = nullptr);
// Writes a temporary file beside it, flushes it to the disk and renames it over the old one,
// so that a crash leaves either the old file or the new one. Creates missing directories.
bool SaveSimState(const std::string& path, const SimModule::Memory& memory, std::string* error = nullptr);
// Whether SaveSimState can write beside path: writes the temporary file and removes it again,
// leaving any file at path as it is.
bool CanSaveSimState(const std::string& path, std::string* error = nullptr);
