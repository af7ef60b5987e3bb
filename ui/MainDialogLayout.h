#pragma once
#include "ui/DialogLayout.h"

#include <cstdint>

// The main dialog's layout table: the log pane grows with the window, the
// rows under it follow its bottom edge, "&Clear Log" and the controls grouped
// with it keep their distance from the right edge, the group box stretches.
// The monitor's chart lies over the pane's lower part and keeps its share of it.
constexpr int32_t MainDialogLayoutRows = 11;
extern const LayoutRule kMainDialogLayout[MainDialogLayoutRows];
