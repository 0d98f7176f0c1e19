#pragma once

#include <QWidget>

// Fixes the window's client area to w x h pixels and centres it on the screen.
void SetFixedClientSize(QWidget* window, int w, int h);
void CenterOnScreen(QWidget* window);

// Lets the toolkit handle pending user-interface messages, then waits ms milliseconds:
// the pause the configuration sequences make between exchanges.
void ProcessMessagesAndWait(int ms);
