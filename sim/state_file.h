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

#include <string>
#include <vector>

#include "sim/module_model.h"

// $XDG_STATE_HOME/qx510-sim/module.state, else ~/.local/state/qx510-sim/module.state.
std::string DefaultSimStatePath();

// False (modules untouched) when the file is missing or not a valid state file.
bool LoadSimState(const std::string& path, std::vector<SimModule::Memory>& modules, std::string* error = nullptr);
// Writes a temporary file beside it and renames it over the old one, so that a crash never
// leaves half a file. Creates missing directories.
bool SaveSimState(const std::string& path, const std::vector<SimModule::Memory>& modules,
                  std::string* error = nullptr);
