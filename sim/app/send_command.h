#pragma once
// `qx510-sim send [--endpoint PATH | --udp PORT] [--rate BD] [--timeout MS] ADDRESS COMMAND
// INDEX [D0 D1 D2 D3 D4]`: one exchange with a running simulator through a stand-in driver
// beside this program (KSER660.DLL over the endpoint, KNET1660.DLL to 127.0.0.1:PORT), as the
// tool would make it. Prints the status, its driver text and the five result bytes; exit
// status 0 for status 0, 1 for any other, 2 when the arguments or the driver are wrong.
int RunSendCommand(int argc, char** argv);
