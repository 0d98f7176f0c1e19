#pragma once

#include <QWidget>
#include <chrono>

// Fixes the window's client area to w x h pixels and centres it on the screen.
void SetFixedClientSize(QWidget* window, int w, int h);
void CenterOnScreen(QWidget* window);

// The pause the configuration sequences make between exchanges: lets the toolkit handle
// pending user-interface messages and returns ms milliseconds after `since`, never sooner
// (later only when the handling itself took longer). A sequence passes the moment its last
// exchange ended, so that what it showed meanwhile is part of the pause, not added to it.
void ProcessMessagesAndWait(int ms, std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now());
