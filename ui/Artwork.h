// The windows' stored pictures, read through the picture-format registry.
#pragma once

#include "imaging/Raster24.h"

#include <QImage>
#include <QString>

namespace pictavo::ui {

// A copy of the raster as a Qt image (made 24-bit first).
QImage ToImage(Raster24 raster);

// A stored picture from the program's resources: empty when its class is not
// registered.
QImage StoredPicture(const QString& resource);

// The application icon, a 16-colour bitmap.
QImage MainIcon();

}  // namespace pictavo::ui
