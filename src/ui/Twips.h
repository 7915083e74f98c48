#pragma once

#include <QRect>
#include <QtMath>

// Sizes and positions of the window are kept in twips, 1/1440 inch: 15 twips to a pixel at
// 96 dots per inch.
namespace Twips {

inline constexpr int kPerPixel = 15;

inline int toPixels(double twips)
{
    return qRound(twips / kPerPixel);
}

inline int fromPixels(int pixels)
{
    return pixels * kPerPixel;
}

inline QRect rect(int left, int top, int width, int height)
{
    return {toPixels(left), toPixels(top), toPixels(width), toPixels(height)};
}

} // namespace Twips
