#pragma once
// Pixel checks shared by the renderer's tests.

#include <QColor>
#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

// The pixel at (x, y) is within Tolerance levels of Expected on every channel (alpha too when asked).
inline ::testing::AssertionResult PixelNear(const QImage& image, int x, int y, const QColor& expected,
                                            int tolerance, bool compareAlpha) {
    const QColor actual = image.pixelColor(x, y);
    const int worst =
        std::max({std::abs(actual.red() - expected.red()), std::abs(actual.green() - expected.green()),
                  std::abs(actual.blue() - expected.blue()),
                  compareAlpha ? std::abs(actual.alpha() - expected.alpha()) : 0});
    if (worst <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "pixel (" << x << ", " << y << ") is " << actual.name(QColor::HexArgb).toStdString()
           << ", expected " << expected.name(QColor::HexArgb).toStdString();
}
