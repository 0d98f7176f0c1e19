#include "base/settings/driver_params.h"

#include "base/settings/tdata.h"

void FillDriverParams(TData& d) {
  d.DriverParams.fill(0);
  switch (d.Interface) {
    case InterfaceSerial: d.DriverParams[0] = d.ComPort; break;
    case InterfaceIsa: d.DriverParams[0] = d.IsaBaseAddress; break;
    case InterfaceLan:
      // The driver reads the text through word 0 during Init; data() gives it a buffer of its own.
      d.DriverParams[0] = reinterpret_cast<uintptr_t>(d.IpAddress.data());
      d.DriverParams[1] = static_cast<uintptr_t>(d.UdpPort);
      d.DriverParams[2] = static_cast<uintptr_t>(d.UdpTimeout);
      break;
    default: break;
  }
}
