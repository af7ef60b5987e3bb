#pragma once
// The bitmap control on Qt: a child widget that holds its own copy of a
// bitmap resource and hands its painting to an IPaintHandler.
#include "platform/Geometry.h"

#include <functional>

class QWidget;
class IPaintHandler;

// Asked at every paint for the handler; none (null) paints a plain static
// control. The control never keeps a handler, which may go away before it.
using PaintHandlerLookup = std::function<IPaintHandler*()>;

// A child control of `parent` showing bitmap resource `bitmapId`, sized to
// the bitmap at the requested rectangle's top-left corner (the requested
// size when there is no such bitmap); its paint requests go to the handler
// that `painter` finds.
QWidget* CreateQtBitmapControl(QWidget* parent, int id, int bitmapId, const Rect& requested,
                               PaintHandlerLookup painter);
