#pragma once
// `qx510-sim ctl [--endpoint PATH | --control PATH] COMMAND [key=value ...]`: one request to a
// running simulator's control channel; prints the reply line. Exit status 0 for an "ok"
// reply, 1 for an error reply, 2 when no simulator answers or the arguments are wrong.
int RunControlCommand(int argc, char** argv);
