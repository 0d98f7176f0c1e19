#pragma once

class QString;
class QWidget;

// A question with the buttons "Ano" and "Ne" (Alt+A, Alt+N) that Return does not answer: "Ne" and Escape
// say no; only a click on "Ano", or Space while it has the focus, says yes. For a question
// whose yes acts on a module or cuts its work short.
bool AskYesNo(QWidget* parent, const QString& title, const QString& text);
