#include "imaging/ReduceBitmap.h"

#include "imaging/BoxReducer.h"
#include "imaging/Sharpen.h"

namespace pictavo {

void ReduceBitmap(Raster24& source, Raster24& destination, bool sharpen)
{
    source.make24Bit();
    destination.make24Bit();
    const int sw = source.width(), sh = source.height();
    const int dw = destination.width(), dh = destination.height();

    if (sw <= dw && sh <= dh) {  // never enlarge
        destination.assign(&source);
        return;
    }

    BoxReducer reducer(destination, sw, sh);
    const Raster24& src = source;  // read without taking a private copy
    for (int r = 0; r < sh && !reducer.done(); ++r) reducer.addRow(src.scanLine(r));
    if (sharpen && dh >= 3) Sharpen(destination);
}

}  // namespace pictavo
