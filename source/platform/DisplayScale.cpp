// The display scale rule's arithmetic, shared by every platform.
#include "Platform.h"

#include <algorithm>

namespace platform
{

float scaleToFitDisplay(int width, int height, int screenWidth, int screenHeight, float dpiScale)
{
    if (!(dpiScale > 0.0f) || width <= 0 || height <= 0)
        return 1.0f;

    const int availableWidth = static_cast<int>(screenWidth / dpiScale);
    const int availableHeight = static_cast<int>(screenHeight / dpiScale);
    if (width <= availableWidth && height <= availableHeight)
        return dpiScale;

    const float fitWidth = std::min(1.0f, static_cast<float>(static_cast<double>(availableWidth) / width));
    const float fitHeight = static_cast<float>(static_cast<double>(availableHeight) / height);
    return dpiScale * std::min(fitWidth, fitHeight);
}

} // namespace platform
