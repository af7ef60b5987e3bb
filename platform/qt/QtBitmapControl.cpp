// Placeholder until the painting bitmap control is in: an empty widget at
// the requested place.
#include "platform/qt/QtBitmapControl.h"

#include <QWidget>

QWidget* CreateQtBitmapControl(QWidget* parent, int id, int, const Rect& requested, IPaintHandler*)
{
    auto* control = new QWidget(parent);
    control->setObjectName(QStringLiteral("control%1").arg(id));
    control->setGeometry(requested.left, requested.top, requested.Width(), requested.Height());
    return control;
}
