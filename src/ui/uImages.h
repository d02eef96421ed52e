#pragma once
// The program's pictures, drawn from the SVG files compiled into it. Rendered pixmaps are kept,
// so every picture is drawn once per size.
#include "core/uTrayState.h"

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QVector>

// name: file name under Images/ without ".svg".
QPixmap ProgramImage(const QString& name, int size);
QIcon ProgramIcon(const QString& name, int size = 16);
// The frames of one tray image list, 32 by 32.
const QVector<QPixmap>& TrayImages(TTrayImageList list);
