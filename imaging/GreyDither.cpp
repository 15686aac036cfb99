#include "imaging/GreyDither.h"

#include <cstdlib>

namespace pictavo {
namespace {

constexpr int Top = 255;
constexpr int Steps = GreyDither::Levels - 1;

// Levels lie at most two apart, so the error a pixel leaves is -1, 0 or 1,
// and what a row leaves for a pixel below (1, 5 and 3 sixteenths of three
// such errors) lies within +-9. A pixel's outcome therefore depends only on
// its sample, that error from above, and the last pixel's error: small
// enough to look up whole, which takes the lookups out of the chain from
// one pixel to the next.
constexpr int Carry = 9;
constexpr int Carries = 2 * Carry + 1;
constexpr int FieldBits = 16;

struct Tables {
    std::array<std::uint8_t, GreyDither::Levels> values{};
    // For sample g and error from above c, at g * Carries + c + Carry: what
    // the pixel becomes after the last pixel left error e, in the 16 bits
    // from 16 * (e + 1): 16 * (its own error + 1), which is where the next
    // pixel's outcome lies in its entry, in the low byte, and its level (or,
    // in `greys`, the level's grey value) above it. One lookup a pixel, and
    // from one pixel to the next only a shift and a mask.
    std::array<std::uint64_t, (Top + 1) * Carries> levels{}, greys{};

    Tables()
    {
        for (int j = 0; j < GreyDither::Levels; ++j)
            values[j] = static_cast<std::uint8_t>((j * Top + Steps / 2) / Steps);
        // The nearest level of each value: breakpoints halfway between levels.
        std::array<std::uint8_t, Top + 1> nearest{};
        for (int v = 0, j = 0; v <= Top; ++v) {
            while (v > ((2 * j + 1) * Top + Steps) / (2 * Steps)) ++j;
            nearest[v] = static_cast<std::uint8_t>(j);
            if (std::abs(v - values[j]) > 1) std::abort();  // the bound above no longer holds
        }
        for (int g = 0; g <= Top; ++g)
            for (int c = -Carry; c <= Carry; ++c) {
                const int key = g * Carries + c + Carry;
                for (int e = -1; e <= 1; ++e) {
                    // Sixteenths rounded; the shift floors, so adding 8 rounds either sign.
                    int v = ((7 * e + c + 8) >> 4) + g;
                    v = v < 0 ? 0 : (v > Top ? Top : v);
                    const int j = nearest[v];
                    const auto next = static_cast<std::uint64_t>(FieldBits * (v - values[j] + 1));
                    const int at = FieldBits * (e + 1);
                    levels[key] |= (next | std::uint64_t(j) << 8) << at;
                    greys[key] |= (next | std::uint64_t(values[j]) << 8) << at;
                }
            }
    }
};

const Tables& Table()
{
    static const Tables tables;
    return tables;
}

}  // namespace

const std::array<std::uint8_t, GreyDither::Levels>& GreyDither::LevelValues() { return Table().values; }

GreyDither::GreyDither(int width) : width_(width), errors_(static_cast<std::size_t>(width) + 2, 0) {}

void GreyDither::toLevels(const std::uint8_t* grey, std::uint8_t* levels) { next<false>(grey, levels); }
void GreyDither::toBgr(const std::uint8_t* grey, std::uint8_t* bgr) { next<true>(grey, bgr); }

template <bool Bgr>
void GreyDither::next(const std::uint8_t* grey, std::uint8_t* out)
{
    if (leftward_) row<-1, Bgr>(grey, out);
    else row<1, Bgr>(grey, out);
    leftward_ = !leftward_;
}

// The error a pixel leaves goes 7/16 to the next pixel in the row, and 3/16,
// 5/16 and 1/16 to the pixels below behind, below, and below ahead.
template <int Step, bool Bgr>
void GreyDither::row(const std::uint8_t* grey, std::uint8_t* out)
{
    const std::uint64_t* table = Bgr ? Table().greys.data() : Table().levels.data();
    const int first = Step > 0 ? 0 : width_ - 1;
    // errors_[x + 1] belongs to column x; `slot` is the column just behind.
    std::int16_t* slot = errors_.data() + first + 1 - Step;
    unsigned at = FieldBits;   // where the outcome lies: the last pixel left no error
    int last = 0, before = 0;  // the errors of the last two pixels
    for (int x = first, n = width_; n > 0; --n, x += Step, slot += Step) {
        const int key = grey[x] * Carries + slot[Step] + Carry;
        const auto field = static_cast<unsigned>(table[key] >> at);
        at = field & (FieldBits | 2 * FieldBits);  // 0, 16 or 32
        const int error = static_cast<int>(at / FieldBits) - 1;
        const auto v = static_cast<std::uint8_t>(field >> 8);
        if constexpr (Bgr) {
            std::uint8_t* p = out + 3 * x;
            p[0] = p[1] = p[2] = v;
        } else {
            out[x] = v;
        }
        slot[0] = static_cast<std::int16_t>(before + 5 * last + 3 * error);
        before = last;
        last = error;
    }
    slot[0] = static_cast<std::int16_t>(before + 5 * last);
}

}  // namespace pictavo
