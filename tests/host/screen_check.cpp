// Checks a screenshot of the X screen (xwd's format, as `xwd -root` writes it
// on a 24- or 32-bit TrueColor screen): its size, and that the picture fills
// it, that is each cell of a 4 x 4 grid holds lit pixels and the picture is
// not one flat colour. With --picture X,Y,W,H the picture must fill that part
// of the screen instead, reaching each of its four edges (its first and last
// rows and columns hold lit pixels), and every pixel outside it must be
// black: a picture letterboxed into that place. Optionally writes the
// screenshot as a PPM file.
//
// usage: screen_check SHOT.xwd WIDTH HEIGHT [--picture X,Y,W,H] [OUT.ppm]
// Exit status 0 when every check holds; one line per failed check otherwise.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "xwd_read.h"

namespace {

bool lit(const RgbImage& image, int x, int y)
{
    const std::uint8_t* o = image.at(x, y);
    return (o[0] | o[1] | o[2]) != 0;
}

// The lit pixels of the rectangle [x0, x1) x [y0, y1).
std::size_t litIn(const RgbImage& image, int x0, int y0, int x1, int y1)
{
    std::size_t count = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            count += lit(image, x, y);
        }
    }
    return count;
}

} // namespace

int main(int argc, char** argv)
{
    int px = 0;
    int py = 0;
    int pw = 0;
    int ph = 0;
    bool placed = false;
    const char* ppm = nullptr;
    bool argsOk = argc >= 4;
    for (int k = 4; k < argc && argsOk; ++k) {
        if (!std::strcmp(argv[k], "--picture") && k + 1 < argc) {
            placed = true;
            argsOk = std::sscanf(argv[++k], "%d,%d,%d,%d", &px, &py, &pw, &ph) == 4 && px >= 0 && py >= 0 &&
                     pw > 0 && ph > 0;
        } else if (!ppm && argv[k][0] != '-') {
            ppm = argv[k];
        } else {
            argsOk = false;
        }
    }
    if (!argsOk) {
        std::fprintf(stderr, "usage: %s SHOT.xwd WIDTH HEIGHT [--picture X,Y,W,H] [OUT.ppm]\n", argv[0]);
        return 2;
    }
    std::string error;
    const RgbImage image = readXwd(argv[1], error);
    if (!image.width) {
        std::printf("FAIL: %s\n", error.c_str());
        return 1;
    }
    const long wantWidth = std::strtol(argv[2], nullptr, 10);
    const long wantHeight = std::strtol(argv[3], nullptr, 10);
    const int width = image.width;
    const int height = image.height;
    const std::vector<std::uint8_t>& rgb = image.rgb;
    if (ppm) {
        writePpm(ppm, image);
    }
    if (width != wantWidth || height != wantHeight) {
        std::printf("FAIL: the screen is %dx%d, not %ldx%ld\n", width, height, wantWidth, wantHeight);
        return 1;
    }
    if (!placed) {
        pw = width;
        ph = height;
    } else if (px + pw > width || py + ph > height) {
        std::printf("FAIL: the picture's place %d,%d,%d,%d lies outside the %dx%d screen\n", px, py, pw, ph, width,
                    height);
        return 1;
    }
    int failures = 0;

    constexpr int GRID = 4;
    for (int cy = 0; cy < GRID; ++cy) {
        for (int cx = 0; cx < GRID; ++cx) {
            if (!litIn(image, px + cx * pw / GRID, py + cy * ph / GRID, px + (cx + 1) * pw / GRID,
                       py + (cy + 1) * ph / GRID)) {
                std::printf("FAIL: grid cell (%d, %d) of the picture is black: the picture does not fill it\n", cx,
                            cy);
                ++failures;
            }
        }
    }
    bool flat = true;
    for (std::size_t i = 3; i < rgb.size() && flat; ++i) {
        flat = rgb[i] == rgb[i % 3];
    }
    if (flat) {
        std::printf("FAIL: the screen is one flat colour\n");
        ++failures;
    }
    if (placed) {
        const struct {
            const char* name;
            int x0, y0, x1, y1;
        } edges[] = {
            {"top row", px, py, px + pw, py + 1},
            {"bottom row", px, py + ph - 1, px + pw, py + ph},
            {"left column", px, py, px + 1, py + ph},
            {"right column", px + pw - 1, py, px + pw, py + ph},
        };
        for (const auto& e : edges) {
            if (!litIn(image, e.x0, e.y0, e.x1, e.y1)) {
                std::printf("FAIL: the picture's %s is black: the picture does not reach that edge\n", e.name);
                ++failures;
            }
        }
        const std::size_t outside = litIn(image, 0, 0, width, height) - litIn(image, px, py, px + pw, py + ph);
        if (outside) {
            std::printf("FAIL: %zu pixels outside the picture are not black\n", outside);
            ++failures;
        }
    }
    if (!failures) {
        if (placed) {
            std::printf("ok: the %dx%d picture fills its place at %d,%d on the %dx%d screen, black around it\n", pw,
                        ph, px, py, width, height);
        } else {
            std::printf("ok: %dx%d picture fills the screen\n", width, height);
        }
    }
    return failures ? 1 : 0;
}
