#include "QuandrilApp/Shell/MenuGaugeImage.h"

#include <QPainter>
#include <QPainterPath>

namespace Quandril::App::MenuGaugeImage {

QImage make(double used, bool warning, qreal devicePixelRatio)
{
    QImage image(QSize(width, height) * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    image.setText(QLatin1String(descriptionKey), description(warning));

    // Free space above the total, or a total of 0, gives a share outside 0...1 (or none at all).
    const double share = used > 0 ? std::min(used, 1.0) : 0.0;
    const QRectF bounds(0, 0, width, height);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    QPainterPath outline;
    outline.addRoundedRect(bounds.adjusted(0.75, 0.75, -0.75, -0.75), 4, 4);
    painter.strokePath(outline, QPen(Qt::black, 1.5));

    QPainterPath fill;
    fill.addRoundedRect(QRectF(2, 2, std::max(2.0, (width - 4) * share), height - 4), 2.5, 2.5);
    painter.fillPath(fill, Qt::black);

    if (warning) {
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.fillRect(QRectF(width - 6, 0, 2, height), Qt::transparent);
    }
    return image;
}

QString description(bool warning)
{
    return warning ? QStringLiteral("Free space, under your goal") : QStringLiteral("Free space");
}

QImage tinted(const QImage& image, const QColor& colour)
{
    QImage out = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&out);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(out.rect(), colour);
    painter.end();
    return out;
}

} // namespace Quandril::App::MenuGaugeImage
