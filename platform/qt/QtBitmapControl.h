#pragma once
// The logo's bitmap control on Qt.
#include "platform/Geometry.h"

class QWidget;
class IPaintHandler;

// A child control of `parent` showing bitmap resource `bitmapId`, placed at
// the requested rectangle's top-left corner; its paint requests go to `painter`.
QWidget* CreateQtBitmapControl(QWidget* parent, int id, int bitmapId, const Rect& requested,
                               IPaintHandler* painter);
