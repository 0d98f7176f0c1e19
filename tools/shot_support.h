#pragma once
// What the screenshot programs share: the output folder from the command line, the operator's
// locale, letting the event loop run, and saving a window's picture.
#include <QWidget>
#include <functional>

// Takes the output folder from the only argument and sets the Czech locale; false (after a
// message on standard error) when the arguments or the folder are not right.
bool StartShots(int argc, char** argv, const char* program);
// Lets timers, polls and repaints run for a while; `each` runs between turns, with the seconds
// passed so far.
void Settle(int ms, const std::function<void(double)>& each = {});
// Saves the window's picture into the output folder and names the file on standard output.
void Save(QWidget* window, const char* file);
// 0 when every picture was saved, else 1.
int ShotsStatus();
