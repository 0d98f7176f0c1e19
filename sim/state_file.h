#pragma once
// The simulator's own state file: the module's configuration memory, so that it survives a
// restart of the simulator as it survives a power cycle. A short text file:
//
//   qx510-sim 1
//   00 00 00 ... (64 bytes as hexadecimal pairs)

#include <string>

#include "sim/module_model.h"

// $XDG_STATE_HOME/qx510-sim/module.state, else ~/.local/state/qx510-sim/module.state.
std::string DefaultSimStatePath();

// False (memory untouched) when the file is missing or not a valid state file.
bool LoadSimState(const std::string& path, SimModule::Memory& memory, std::string* error = nullptr);
// Writes a temporary file beside it and renames it over the old one, so that a crash never
// leaves half a file. Creates missing directories.
bool SaveSimState(const std::string& path, const SimModule::Memory& memory, std::string* error = nullptr);
