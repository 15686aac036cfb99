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

struct Tables {
    std::array<std::uint8_t, GreyDither::Levels> values{};
    // For sample g and error from above c: the error this pixel leaves after
    // the last pixel left e, as 4 * (error + 1) in bits 4 * (e + 1) onwards.
    std::array<std::uint16_t, (Top + 1) * Carries> next{};
    // The level this pixel takes, at 3 * (g * Carries + c + Carry) + e + 1.
    std::array<std::uint8_t, (Top + 1) * Carries * 3> level{};

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
                    next[key] = static_cast<std::uint16_t>(next[key] | (4 * (v - values[j] + 1)) << (4 * (e + 1)));
                    level[3 * key + e + 1] = static_cast<std::uint8_t>(j);
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
    const Tables& t = Table();
    const int first = Step > 0 ? 0 : width_ - 1;
    // errors_[x + 1] belongs to column x; `slot` is the column just behind.
    std::int16_t* slot = errors_.data() + first + 1 - Step;
    int state = 4;              // 4 * (the last pixel's error + 1)
    int last = 0, before = 0;  // the errors of the last two pixels
    for (int x = first, n = width_; n > 0; --n, x += Step, slot += Step) {
        const int key = grey[x] * Carries + slot[Step] + Carry;
        const int previous = state;
        state = (t.next[key] >> previous) & 0xF;
        const int error = state / 4 - 1;
        const std::uint8_t level = t.level[3 * key + previous / 4];
        if constexpr (Bgr) {
            std::uint8_t* p = out + 3 * x;
            p[0] = p[1] = p[2] = t.values[level];
        } else {
            out[x] = level;
        }
        slot[0] = static_cast<std::int16_t>(before + 5 * last + 3 * error);
        before = last;
        last = error;
    }
    slot[0] = static_cast<std::int16_t>(before + 5 * last);
}

}  // namespace pictavo
