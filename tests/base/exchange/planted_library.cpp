// A library planted where a driver might be looked for: loading it runs its constructor,
// which leaves the file "loaded" in the directory it was loaded from.
#include <dlfcn.h>

#include <cstdio>
#include <string>

__attribute__((constructor)) static void LeaveMarker() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&LeaveMarker), &info) == 0 || info.dli_fname == nullptr) return;
  const std::string self = info.dli_fname;
  const size_t slash = self.rfind('/');
  const std::string marker = (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/loaded";
  if (FILE* f = std::fopen(marker.c_str(), "w")) std::fclose(f);
}
