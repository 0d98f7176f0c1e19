#pragma once

struct TData;

// Fills d.DriverParams from the interface's own fields for DriverInit. For the LAN converter
// word 0 points into d.IpAddress, whose buffer is detached here so that it stays put until
// DriverInit has read it.
void FillDriverParams(TData& d);
