#pragma once
// The program's pictures in the resources, drawn at the size asked for: the program's icon
// ("icons/qvoksb") and the tool-bar buttons' pictures ("toolbar/open", ...). They are SVG
// drawings; a build without Qt's SVG module (the Windows one) carries them as PNG files rendered
// from the same drawings at build time.
#include <QPixmap>
#include <QSize>
#include <QString>

// name without extension; size in device-independent pixels, ratio the device pixel ratio.
QPixmap picture(const QString &name, QSize size, qreal ratio = 1.0);
