#pragma once

#include <cstdint>

// The small value types that the drawing code speaks in: device or logical
// integer coordinates and 0x00BBGGRR colours (red in the low byte), as stored
// in the settings.

using COLORREF = uint32_t;

constexpr COLORREF RGB(int r, int g, int b)
{
    return COLORREF(r & 0xFF) | (COLORREF(g & 0xFF) << 8) | (COLORREF(b & 0xFF) << 16);
}
constexpr int GetRValue(COLORREF c)
{
    return int(c & 0xFF);
}
constexpr int GetGValue(COLORREF c)
{
    return int((c >> 8) & 0xFF);
}
constexpr int GetBValue(COLORREF c)
{
    return int((c >> 16) & 0xFF);
}

struct POINT
{
    int x = 0;
    int y = 0;
    friend bool operator==(const POINT &, const POINT &) = default;
};

struct SIZE
{
    int cx = 0;
    int cy = 0;
    friend bool operator==(const SIZE &, const SIZE &) = default;
};

// Right and bottom are exclusive for fills, as on the device.
struct RECT
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    friend bool operator==(const RECT &, const RECT &) = default;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
    void Normalize()
    {
        if (left > right) {
            const int t = left;
            left = right;
            right = t;
        }
        if (top > bottom) {
            const int t = top;
            top = bottom;
            bottom = t;
        }
    }
};

// A solid, one pixel wide pen. A default-constructed pen is an empty slot of
// a pen table (nothing was created there).
struct CPen
{
    COLORREF color = 0;
    bool valid = false;

    CPen() = default;
    explicit CPen(COLORREF c) : color(c), valid(true) {}
    bool IsNull() const { return !valid; }
};
