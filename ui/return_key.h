#pragma once

class QWidget;

// Return presses no push button of the window: each is neither default nor auto-default,
// those created after this call included (they are disarmed whenever the window is shown,
// before a dialog would pick its default button). A button that acts on the module is
// pressed by a click, or by Space while it has the focus; Escape still rejects a dialog.
void KeepReturnFromButtons(QWidget* window);
