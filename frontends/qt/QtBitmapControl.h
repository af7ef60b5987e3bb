#pragma once
// The bitmap control on Qt: a child widget that holds its own copy of a
// bitmap resource and hands its painting to an IPaintHandler.
#include "platform/Geometry.h"

class QWidget;
class IPaintHandler;

// A child control of `parent` showing bitmap resource `bitmapId`, sized to
// the bitmap at the requested rectangle's top-left corner (the requested
// size when there is no such bitmap); its paint requests go to `painter`.
QWidget* CreateQtBitmapControl(QWidget* parent, int id, int bitmapId, const Rect& requested,
                               IPaintHandler* painter);
