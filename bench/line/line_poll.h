#pragma once
// The workbench's window polling its line, as the line benchmarks measure it.
class LineWindow;

// Runs the event loop for ms milliseconds: the thread sleeps while nothing happens, as in the
// program, so that its CPU time is the window's own.
void Settle(int ms);

// Connected, polling started and the range bytes read: from here on three exchanges a module.
bool Connect(LineWindow& window);

// The whole workbench as in use: the window polling the line at its interval, every reading
// and every exchange record taken in by the window's thread. Exchanges per second over
// `seconds`, -1 when it could not connect; disconnected afterwards.
double WindowPollRate(LineWindow& window, double seconds);
