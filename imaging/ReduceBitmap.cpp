#include "imaging/ReduceBitmap.h"

#include "imaging/Reduction.h"

namespace pictavo {

void ReduceBitmap(Raster24& source, Raster24& destination, bool sharpen)
{
    source.make24Bit();
    destination.make24Bit();
    Reduction reduction({.width = source.width(),
                         .height = source.height(),
                         .targetWidth = destination.width(),
                         .targetHeight = destination.height(),
                         .sharpen = sharpen});
    if (reduction.copies()) {
        destination.assign(&source);  // shares the pixels until either is written
        return;
    }
    const Raster24& src = source;  // read without taking a private copy
    for (int r = 0; r < src.height() && !reduction.done(); ++r) reduction.addRow(src.scanLine(r));
    destination = reduction.finish();
}

}  // namespace pictavo
