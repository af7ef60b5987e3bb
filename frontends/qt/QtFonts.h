#pragma once
// Fonts for the dialog: the face its template is measured with, and the
// log pane's font built from a LogFont request.
#include "platform/Window.h"

#include <QFont>

struct DialogTemplate;

// The template's font, or the installed sans face nearest to it in metrics.
QFont DialogFont(const DialogTemplate& dialog);

// The nearest installed font to a request. A fixed-pitch request always gets
// a face whose characters are all equally wide.
QFont FontFromLogFont(const LogFont& request);

// True when narrow and wide characters advance alike (Qt's own flag is not
// reliable for every face).
bool IsFixedPitch(const QFont& font);
