#include "base/settings/tdata.h"

void InitData(TData* data) {
  if (data == nullptr) return;
  data->Interface = InterfaceSerial;
  data->ModuleAddress = 0;
  data->BaudRate = 9600;
  data->ResponseTimeout = 150;
  data->IsaBaseAddress = 0x300;
  data->ComPort = 1;
  data->IpAddress = QByteArray(DefaultIpAddress);
  data->UdpPort = 5000;
  data->UdpTimeout = 100;
  data->ConnectionStatus = QStringLiteral("Připojení modulu dosud neinicializováno");
  data->DriverHandle = 0;
  data->Connected = false;
  data->ModuleConfig = ModuleConfigImage{
      .AddressSetting = 1,
      .BaudCodeSetting = 4,
      .AinRange = {0, 0, 0, 0, 0, 0},
      .Byte8 = 6,
      .DinNegation = {0xFF, 0xFF, 0xFF, 0xFF},
      .DoutNegation = {0xFF, 0xFF, 0xFF, 0xFF},
      .DoutInitialState = {0, 0, 0, 0},
  };
  data->DriverParams.fill(0);
}
