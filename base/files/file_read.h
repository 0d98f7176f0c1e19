#pragma once
// The one way the programs read a file, plain C++ so that the serial drivers read their port
// mapping with it too (base/files/checked_file.h wraps it for Qt).
//
// What is at the path is looked at before it is opened, and opened without blocking: a FIFO,
// a device, a socket or a folder there is refused and never opened for reading, so a FIFO
// without a writer cannot hang a program and a serial device is never touched by mistake. The
// file is read to its end and refused whole when it is larger than the caller's limit; it is
// never cut. The reasons are Czech (UTF-8), without the file's name, for the caller's sentence
// ("Soubor %1 nelze přečíst: %2.").

#include <sys/types.h>

#include <cstddef>
#include <string>

enum class FileReadResult {
  Read,     // bytes hold the whole file
  Missing,  // nothing at the path (or a folder on the way is missing)
  Refused,  // no regular file, larger than the limit, or it could not be read: reason says why
};

FileReadResult ReadWholeFile(const std::string& path, std::size_t limit, std::string& bytes, std::string& reason);

// "je to roura (FIFO)", "je to složka", ... for a node that is no regular file.
std::string FileKindText(mode_t mode);
// "není obyčejný soubor, je to roura (FIFO)".
std::string NotRegularFileText(mode_t mode);
// "1 MiB", "64 KiB", "1000 B": a limit as the messages and the handbook give it.
std::string ByteSizeText(std::size_t bytes);
