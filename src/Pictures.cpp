#include "Pictures.h"

#include <QImage>
#include <QPainter>
#ifdef QVOKSB_HAVE_SVG
#include <QSvgRenderer>
#endif

// The pictures are compiled into the window library; a static library needs them registered.
static void initPictures()
{
    Q_INIT_RESOURCE(resources);
#ifndef QVOKSB_HAVE_SVG
    Q_INIT_RESOURCE(pictures);
#endif
}

QPixmap picture(const QString &name, QSize size, qreal ratio)
{
    initPictures();
    QPixmap pm(size * ratio);
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    const QRectF area(QPointF(0, 0), QSizeF(size));
#ifdef QVOKSB_HAVE_SVG
    QSvgRenderer svg(QStringLiteral(":/%1.svg").arg(name));
    svg.render(&p, area);
#else
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(area, QImage(QStringLiteral(":/pictures/%1.png").arg(name)));
#endif
    p.end();
    return pm;
}
