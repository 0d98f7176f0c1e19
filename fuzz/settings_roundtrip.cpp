// Whatever lies in the settings file: loading it is safe, a save of what was loaded succeeds,
// the saved file loads back to the same settings, and repeated saves settle on one file.
#include <QFile>
#include <QTemporaryDir>

#include "base/settings/settings.h"
#include "base/settings/tdata.h"
#include "fuzz/fuzz_check.h"

namespace {
QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The fields a save writes for the interface in use.
bool SameSaved(const TData& a, const TData& b) {
  if (a.Interface != b.Interface || a.ModuleAddress != b.ModuleAddress || a.BaudRate != b.BaudRate ||
      a.ResponseTimeout != b.ResponseTimeout)
    return false;
  switch (a.Interface) {
    case InterfaceSerial: return a.ComPort == b.ComPort;
    case InterfaceIsa: return a.IsaBaseAddress == b.IsaBaseAddress;
    case InterfaceLan: return a.IpAddress == b.IpAddress && a.UdpPort == b.UdpPort && a.UdpTimeout == b.UdpTimeout;
    default: return true;
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QTemporaryDir dir;
  const QString path = dir.filePath(SettingsFileName);
  {
    QFile f(path);
    FuzzCheck(f.open(QIODevice::WriteOnly | QIODevice::Truncate), "scratch file writable");
    f.write(reinterpret_cast<const char*>(data), qint64(size));
  }

  TData loaded;
  InitData(&loaded);
  LoadConnectionSettings(&loaded, path);
  FuzzCheck(SaveConnectionSettings(&loaded, path), "a small readable file can be saved over");

  // The first saves may tidy the file (blank lines go, a comment becomes the file's own
  // comment); after that the same settings give the same file, or every save changes it again.
  QByteArray previous;
  for (int round = 0; round < 3; ++round) {
    TData again;
    InitData(&again);
    FuzzCheck(LoadConnectionSettings(&again, path), "a saved file loads");
    FuzzCheck(SameSaved(loaded, again), "a saved file loads back to the settings saved");
    FuzzCheck(SaveConnectionSettings(&again, path), "a saved file can be saved again");
    const QByteArray text = ReadAll(path);
    FuzzCheck(round < 2 || text == previous, "repeated saves settle on one file");
    previous = text;
  }
  return 0;
}
