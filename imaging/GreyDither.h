// Grey JPEG pictures are shown in PaletteColours grey levels, dithered exactly as the
// JPEG library's one-pass quantizer dithers them (Floyd-Steinberg, even rows
// left to right, odd rows right to left), pixel for pixel. It is done here
// rather than by the library because the library's quantizer serves any
// number of components through three dependent table lookups a pixel, and
// took three times as long as decoding the picture.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace pictavo {

// The colours of a picture shown on a 256-colour screen: its palette less
// the 20 colours the system keeps for itself.
inline constexpr int PaletteColours = 236;

class GreyDither {
public:
    static constexpr int Levels = PaletteColours;
    // The grey value of each level, darkest first: 0 and 255 at the ends,
    // the rest evenly spaced between.
    static const std::array<std::uint8_t, Levels>& LevelValues();

    explicit GreyDither(int width);
    // Dithers the next row of grey samples into level numbers.
    void toLevels(const std::uint8_t* grey, std::uint8_t* levels);
    // The same, written as blue, green, red of each level's grey value.
    void toBgr(const std::uint8_t* grey, std::uint8_t* bgr);

private:
    template <int Step, bool Bgr>
    void row(const std::uint8_t* grey, std::uint8_t* out);
    template <bool Bgr>
    void next(const std::uint8_t* grey, std::uint8_t* out);

    int width_;
    bool leftward_ = false;
    // Errors in sixteenths, one a column, plus one before the first column
    // and one after the last. Ahead of the pass they hold the errors the row
    // above left; behind it, those this row leaves for the next.
    std::vector<std::int16_t> errors_;
};

}  // namespace pictavo
