#pragma once

// Where the frame goes on a drawable of another shape: the largest rectangle
// of the frame's aspect ratio that fits, centred, with bars on the two sides
// that are left over. Window pixels; the centring is the same for GL's
// bottom-left origin as for a top-left one.

struct ScreenRect {
    int x;
    int y;
    int width;
    int height;
};

inline ScreenRect letterbox(int drawableWidth, int drawableHeight, int frameWidth, int frameHeight)
{
    if (drawableWidth <= 0 || drawableHeight <= 0) {
        return {0, 0, 0, 0};
    }
    const long long w = drawableWidth;
    const long long h = drawableHeight;
    ScreenRect rect{0, 0, drawableWidth, drawableHeight};
    if (w * frameHeight <= h * frameWidth) {
        // Narrower than the frame: full width, bars above and below.
        rect.height = static_cast<int>((w * frameHeight * 2 + frameWidth) / (2LL * frameWidth));
    } else {
        // Wider: full height, bars left and right.
        rect.width = static_cast<int>((h * frameWidth * 2 + frameHeight) / (2LL * frameHeight));
    }
    rect.x = (drawableWidth - rect.width) / 2;
    rect.y = (drawableHeight - rect.height) / 2;
    return rect;
}
