#include "base/exchange/driver_loader.h"

#include <dlfcn.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <QByteArray>
#include <array>
#include <climits>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text/codepage.h"
#include "base/exchange/exchange_observer.h"
#include "base/exchange/exchange.h"
#include "drivers/driver_abi.h"

namespace {

constexpr std::array<const char*, InterfaceCount> LibraryPrefixes = {
    "KSER660", "KISA660", "KBRD1660", "KCNV1660", "KNET1660"};

// The one loader of the program. A null pointer means the entry is not available.
struct LoaderState {
  void* library = nullptr;
  DriverVersionFn Version = nullptr;
  DriverInitWordFn InitWord = nullptr;    // types 0 and 1
  DriverInitPlainFn InitPlain = nullptr;  // types 2 and 3
  DriverInitBlockFn InitBlock = nullptr;  // type 4
  DriverSetConfigFn SetConfig = nullptr;
  DriverGetConfigFn GetConfig = nullptr;
  DriverSendFn Send = nullptr;
  DriverDoneFn Done = nullptr;
  DriverErrorFn Error = nullptr;

  void clearEntries() {
    Version = nullptr;
    InitWord = nullptr;
    InitPlain = nullptr;
    InitBlock = nullptr;
    SetConfig = nullptr;
    GetConfig = nullptr;
    Send = nullptr;
    Done = nullptr;
    Error = nullptr;
  }
  void unload() {
    if (library != nullptr) dlclose(library);
    library = nullptr;
    ++loads;
  }
  uint64_t loads = 0;
};

LoaderState& Loader() {
  static LoaderState state;
  return state;
}

std::string& LibraryDirectoryOverride() {
  static std::string directory;
  return directory;
}

bool ValidInterface(uint8_t iface) { return iface < InterfaceCount; }

bool Absolute(std::string_view directory) { return !directory.empty() && directory.front() == '/'; }

// Where the dynamic linker would look for a bare name, minus every place that depends on the
// working directory: an empty or relative element of LD_LIBRARY_PATH means the working
// directory to it, and those are skipped. Then the system's library directories; the
// linker's cache lists lib*.so* files only, never a driver's file name, so it adds nothing.
std::vector<std::string> StandardDirectories() {
  std::vector<std::string> directories;
  const char* env = std::getenv("LD_LIBRARY_PATH");
  // A set-user-ID program runs without LD_LIBRARY_PATH, as the linker would.
  if (env != nullptr && getauxval(AT_SECURE) == 0) {
    std::string_view rest(env);
    while (true) {
      const size_t end = rest.find_first_of(":;");
      const std::string_view element = rest.substr(0, end);
      if (Absolute(element)) directories.emplace_back(element);
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
  }
#ifdef QX510_LIBRARY_ARCHITECTURE
  directories.push_back("/lib/" QX510_LIBRARY_ARCHITECTURE);
  directories.push_back("/usr/lib/" QX510_LIBRARY_ARCHITECTURE);
#endif
  directories.push_back("/lib");
  directories.push_back("/usr/lib");
  return directories;
}

// The chosen directory (the executable's unless a test chose another) first, then the
// standard directories; a library is only ever opened by an absolute path, so dlopen does
// no search of its own.
void* OpenLibrary(const std::string& fileName) {
  std::string directory = LibraryDirectoryOverride();
  if (directory.empty()) directory = ExecutableDirectory();
  std::vector<std::string> directories = StandardDirectories();
  if (Absolute(directory)) directories.insert(directories.begin(), directory);
  for (const std::string& dir : directories) {
    const std::string path = dir + "/" + fileName;
    if (void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return lib;
  }
  return nullptr;
}

template <typename Fn>
Fn Resolve(void* library, const char* prefix, const char* role) {
  const std::string name = std::string(prefix) + "_" + role;
  return reinterpret_cast<Fn>(dlsym(library, name.c_str()));
}

QString ErrorTableText(uint32_t code) {
  if (code >= StatusLoadFailedBase && code < StatusLoadFailedBase + InterfaceCount)
    return QStringLiteral("chyba inicializace knihovny ") + DriverLibraryName(uint8_t(code - StatusLoadFailedBase));
  if (code >= StatusBadLibraryBase && code < StatusBadLibraryBase + InterfaceCount)
    return QStringLiteral("chybná knihovna ") + DriverLibraryName(uint8_t(code - StatusBadLibraryBase));
  return QStringLiteral("neznámý chybový kód");
}

}  // namespace

std::string ExecutableDirectory() {
  std::array<char, PATH_MAX> path{};
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return {};
  std::string full(path.data(), size_t(n));
  const auto slash = full.rfind('/');
  return slash == std::string::npos ? std::string() : full.substr(0, slash);
}

QString DriverLibraryName(uint8_t iface) {
  if (!ValidInterface(iface)) return {};
  return QString::fromLatin1(LibraryPrefixes[iface]) + QStringLiteral(".DLL");
}

void DriverSetLibraryDirectory(const QString& directory) {
  LibraryDirectoryOverride() = directory.toStdString();
}

bool DriverLibraryLoaded() { return Loader().library != nullptr; }

uint64_t DriverLoadCount() { return Loader().loads; }

uint32_t DriverInit(uint8_t iface, uint32_t* handle, DriverParamBlock params) {
  // params is already the private copy: it lives until Init returns.
  LoaderState& st = Loader();
  st.clearEntries();
  // A library that an earlier Init left loaded stays mapped until this attempt holds its own
  // reference: the same file keeps its state instead of being unmapped and loaded anew. Its
  // reference is given back right after the open, so attempts never pile references up.
  void* previous = std::exchange(st.library, nullptr);
  const auto releasePrevious = [&previous] {
    if (previous != nullptr) dlclose(previous);
    previous = nullptr;
  };
  if (!ValidInterface(iface)) {
    releasePrevious();  // nothing could reach it any more
    return StatusNoEntry;
  }

  const char* prefix = LibraryPrefixes[iface];
  st.library = OpenLibrary(std::string(prefix) + ".DLL");
  releasePrevious();
  ++st.loads;
  if (st.library == nullptr) return StatusLoadFailedBase + iface;

  st.Version = Resolve<DriverVersionFn>(st.library, prefix, "Version");
  void* init = dlsym(st.library, (std::string(prefix) + "_Init").c_str());
  switch (iface) {
    case InterfaceSerial:
    case InterfaceIsa:
      st.InitWord = reinterpret_cast<DriverInitWordFn>(init);
      break;
    case InterfacePci:
    case InterfaceUsb:
      st.InitPlain = reinterpret_cast<DriverInitPlainFn>(init);
      break;
    default:
      st.InitBlock = reinterpret_cast<DriverInitBlockFn>(init);
      break;
  }
  st.SetConfig = Resolve<DriverSetConfigFn>(st.library, prefix, "SetConfig");
  st.GetConfig = Resolve<DriverGetConfigFn>(st.library, prefix, "GetConfig");
  st.Send = Resolve<DriverSendFn>(st.library, prefix, "Send");
  st.Done = Resolve<DriverDoneFn>(st.library, prefix, "Done");
  st.Error = Resolve<DriverErrorFn>(st.library, prefix, "Error");

  if (st.Version == nullptr || init == nullptr || st.SetConfig == nullptr || st.GetConfig == nullptr ||
      st.Send == nullptr || st.Done == nullptr || st.Error == nullptr) {
    st.clearEntries();
    st.unload();
    return StatusBadLibraryBase + iface;
  }

  // The library stays loaded whatever Init answers.
  switch (iface) {
    case InterfaceSerial:
    case InterfaceIsa:
      return st.InitWord(handle, uint32_t(params[0]));
    case InterfacePci:
    case InterfaceUsb:
      return st.InitPlain(handle);
    default:
      return st.InitBlock(handle, params.data());
  }
}

uint32_t DriverSetConfig(uint8_t iface, uint32_t handle, uint32_t a, uint32_t b, uint32_t c) {
  const LoaderState& st = Loader();
  if (!ValidInterface(iface) || st.SetConfig == nullptr) return StatusNoEntry;
  const uint32_t result = st.SetConfig(handle, a, b, c);
  // Every program sets the line's rate here, so the exchange records learn it here.
  if (result == 0) SetExchangeLineRate(a);
  return result;
}

uint32_t DriverSend(uint8_t iface, uint32_t handle, const uint32_t* request, uint32_t* response,
                    uint32_t* aux, uint32_t* status) {
  const LoaderState& st = Loader();
  if (!ValidInterface(iface) || st.Send == nullptr) return StatusNoEntry;
  return st.Send(handle, request, response, aux, status);
}

uint32_t DriverDone(uint8_t iface, uint32_t* handle) {
  LoaderState& st = Loader();
  if (!ValidInterface(iface) || st.Done == nullptr) return StatusNoEntry;
  const uint32_t result = st.Done(handle);
  st.clearEntries();
  st.unload();
  return result;
}

uint32_t DriverErrorText(uint8_t iface, uint32_t code, MessageBuffer* buffer) {
  if (code < 100) {
    const LoaderState& st = Loader();
    if (!ValidInterface(iface) || st.Error == nullptr) return StatusNoEntry;
    return st.Error(code, buffer->data());
  }
  StringToMessageBuffer(ErrorTableText(code), buffer);
  return 0;
}

uint32_t StringToMessageBuffer(const QString& text, MessageBuffer* buffer) {
  buffer->fill(0);
  // Cut after encoding so that every slot holds exactly one Windows-1250 character.
  const QByteArray bytes = ToCp1250(text).left(int(buffer->size()) - 1);
  for (qsizetype i = 0; i < bytes.size(); ++i) (*buffer)[size_t(i) + 1] = uint8_t(bytes[i]);
  return 0;
}

QString MessageBufferToString(const MessageBuffer& buffer) {
  QByteArray bytes;
  // Slot 0 may hold the first character or be 0; both forms read back whole.
  if (buffer[0] != 0) bytes.append(char(buffer[0] & 0xFFu));
  for (size_t i = 1; i < buffer.size() && buffer[i] != 0; ++i) bytes.append(char(buffer[i] & 0xFFu));
  return FromCp1250(bytes);
}

QString DriverStatusText(uint8_t iface, uint32_t code) {
  MessageBuffer buffer{};
  // The byte, not the whole result: the driver's Error entry only ever sees 0..99, and a
  // failure whose low byte is 0 reads as 255 does rather than as success.
  DriverErrorText(iface, StatusByte(code), &buffer);
  return MessageBufferToString(buffer);
}
