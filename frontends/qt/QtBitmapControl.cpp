#include "frontends/qt/QtBitmapControl.h"

#include "platform/Raster.h"
#include "res/Bitmaps.h"

#include <QImage>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <memory>

namespace {

ColorRef ToColorRef(const QColor& c)
{
    return Rgb(static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()),
               static_cast<uint8_t>(c.blue()));
}

QImage ToImage(const CRasterBitmap& bitmap)
{
    QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int32_t x = 0; x < bitmap.Width(); ++x) {
            const ColorRef c = bitmap.Pixel(x, y);
            line[x] = qRgb(RedOf(c), GreenOf(c), BlueOf(c));
        }
    }
    return image;
}

class QtBitmapControl : public QWidget {
public:
    QtBitmapControl(QWidget* parent, std::unique_ptr<CRasterBitmap> bitmap, PaintHandlerLookup painter)
        : QWidget(parent), m_bitmap(std::move(bitmap)), m_painter(std::move(painter))
    {
    }

protected:
    // The area starts as what lies under the control, the dialog's own
    // background; the handler paints over it and the result goes on screen.
    void paintEvent(QPaintEvent*) override
    {
        const QWidget* dialog = parentWidget() ? parentWidget() : this;
        CPaintContext paint(width(), height(), ToColorRef(dialog->palette().color(QPalette::Window)),
                            m_bitmap.get());
        if (IPaintHandler* handler = m_painter ? m_painter() : nullptr)
            handler->OnPaint(paint);
        else
            paint.PaintDefault();
        // A plain static control draws nothing of its own here.
        if (paint.DefaultPaintingRequested())
            return;
        QPainter(this).drawImage(0, 0, ToImage(paint.Screen()));
    }

private:
    std::unique_ptr<CRasterBitmap> m_bitmap; // the control's own copy
    PaintHandlerLookup m_painter;
};

} // namespace

QWidget* CreateQtBitmapControl(QWidget* parent, int id, int bitmapId, const Rect& requested,
                               PaintHandlerLookup painter)
{
    std::unique_ptr<CRasterBitmap> bitmap = LoadRasterBitmap(bitmapId);
    const int w = bitmap ? bitmap->Width() : requested.Width();
    const int h = bitmap ? bitmap->Height() : requested.Height();
    auto* control = new QtBitmapControl(parent, std::move(bitmap), std::move(painter));
    control->setObjectName(QStringLiteral("control%1").arg(id));
    control->setGeometry(requested.left, requested.top, std::max(0, w), std::max(0, h));
    return control;
}
