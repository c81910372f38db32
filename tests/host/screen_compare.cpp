// Compares what the X screen shows with the offscreen capture of the same
// frame: the picture placed at X,Y on the screen, drawn at scale N and shown
// pixel for pixel (N = 1: the frame itself), against the capture's PNG of the
// full-resolution frame (or of the rectangle of it that starts at FX,FY, as
// `capture --rect` writes it). A pixel drawn at scale N stands for the full
// frame's pixel at N times its index (rows counted from the bottom, as GL
// does), so screen pixel (c, r) of the picture is compared with the frame's
// pixel (N*c, N*r + N-1) in the PNG's top-down rows.
//
// usage: screen_compare SHOT.xwd FRAME.png [--place X,Y] [--scale N]
//                       [--frame-origin FX,FY] [--tolerance T] [--bars]
//                       [--ppm OUT.ppm]
//   --bars       every screen pixel outside the picture must be black
//   --tolerance  the largest difference allowed in any channel (default 0)
// Prints what it compared; exit status 0 when every check holds.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "png_read.h"  // tests/tools/capture
#include "xwd_read.h"

namespace {

bool pair(const char* text, int& a, int& b)
{
    return std::sscanf(text, "%d,%d", &a, &b) == 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SHOT.xwd FRAME.png [--place X,Y] [--scale N] [--frame-origin FX,FY] "
                             "[--tolerance T] [--bars] [--ppm OUT.ppm]\n", argv[0]);
        return 2;
    }
    int placeX = 0;
    int placeY = 0;
    int scale = 1;
    int originX = 0;
    int originY = 0;
    int tolerance = 0;
    bool bars = false;
    const char* ppm = nullptr;
    for (int i = 3; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--place") && hasValue && pair(argv[i + 1], placeX, placeY)) {
            ++i;
        } else if (!std::strcmp(argv[i], "--scale") && hasValue) {
            scale = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--frame-origin") && hasValue && pair(argv[i + 1], originX, originY)) {
            ++i;
        } else if (!std::strcmp(argv[i], "--tolerance") && hasValue) {
            tolerance = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--bars")) {
            bars = true;
        } else if (!std::strcmp(argv[i], "--ppm") && hasValue) {
            ppm = argv[++i];
        } else {
            std::fprintf(stderr, "screen_compare: bad argument '%s'\n", argv[i]);
            return 2;
        }
    }
    if (scale < 1 || 1920 % scale || 1080 % scale) {
        std::fprintf(stderr, "screen_compare: bad scale %d\n", scale);
        return 2;
    }
    std::string error;
    const RgbImage shot = readXwd(argv[1], error);
    if (!shot.width) {
        std::printf("FAIL: %s\n", error.c_str());
        return 1;
    }
    const RgbImage frame = readPng(argv[2]);  // the frame as capture writes it
    if (!frame.width) {
        std::printf("FAIL: %s is not a PNG file\n", argv[2]);
        return 1;
    }
    if (ppm) {
        writePpm(ppm, shot);
    }
    const int pictureWidth = 1920 / scale;
    const int pictureHeight = 1080 / scale;
    if (placeX < 0 || placeY < 0 || placeX + pictureWidth > shot.width || placeY + pictureHeight > shot.height) {
        std::printf("FAIL: a %dx%d picture at %d,%d does not fit the %dx%d screenshot\n", pictureWidth,
                    pictureHeight, placeX, placeY, shot.width, shot.height);
        return 1;
    }

    long compared = 0;
    long differing = 0;
    int largest = 0;
    int firstX = -1;
    int firstY = -1;
    for (int r = 0; r < pictureHeight; ++r) {
        for (int c = 0; c < pictureWidth; ++c) {
            const int fx = scale * c - originX;
            const int fy = scale * r + scale - 1 - originY;
            if (fx < 0 || fy < 0 || fx >= frame.width || fy >= frame.height) {
                continue;
            }
            const std::uint8_t* s = shot.at(placeX + c, placeY + r);
            const std::uint8_t* f = frame.at(fx, fy);
            int worst = 0;
            for (int k = 0; k < 3; ++k) {
                worst = std::max(worst, std::abs(int{s[k]} - int{f[k]}));
            }
            ++compared;
            if (worst > 0) {
                ++differing;
                if (firstX < 0) {
                    firstX = placeX + c;
                    firstY = placeY + r;
                }
            }
            largest = std::max(largest, worst);
        }
    }
    int failures = 0;
    std::printf("picture at %d,%d, scale %d: %ld pixels compared, %ld differ, largest difference %d", placeX,
                placeY, scale, compared, differing, largest);
    if (differing) {
        std::printf(" (first at screen %d,%d)", firstX, firstY);
    }
    std::printf("\n");
    if (compared == 0) {
        std::printf("FAIL: no pixel of the picture lies in the capture\n");
        ++failures;
    }
    if (largest > tolerance) {
        std::printf("FAIL: a difference of %d is more than %d\n", largest, tolerance);
        ++failures;
    }
    if (bars) {
        long lit = 0;
        for (int y = 0; y < shot.height; ++y) {
            for (int x = 0; x < shot.width; ++x) {
                const bool inside = x >= placeX && x < placeX + pictureWidth && y >= placeY && y < placeY + pictureHeight;
                const std::uint8_t* s = shot.at(x, y);
                lit += !inside && (s[0] | s[1] | s[2]) != 0;
            }
        }
        std::printf("outside the picture: %ld pixels that are not black\n", lit);
        if (lit) {
            std::printf("FAIL: the bars are not black\n");
            ++failures;
        }
    }
    return failures ? 1 : 0;
}
