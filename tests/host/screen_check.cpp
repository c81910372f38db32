// Checks a screenshot of the X screen (xwd's format, as `xwd -root` writes it
// on a 24- or 32-bit TrueColor screen): its size, and that the picture fills
// it, that is each cell of a 4 x 4 grid holds lit pixels and the picture is
// not one flat colour. Optionally writes the picture as a PPM file.
//
// usage: screen_check SHOT.xwd WIDTH HEIGHT [OUT.ppm]
// Exit status 0 when every check holds; one line per failed check otherwise.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "xwd_read.h"

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s SHOT.xwd WIDTH HEIGHT [OUT.ppm]\n", argv[0]);
        return 2;
    }
    std::string error;
    const XwdImage image = readXwd(argv[1], error);
    if (!image.width) {
        std::printf("FAIL: %s\n", error.c_str());
        return 1;
    }
    const long wantWidth = std::strtol(argv[2], nullptr, 10);
    const long wantHeight = std::strtol(argv[3], nullptr, 10);
    const int width = image.width;
    const int height = image.height;
    const std::vector<std::uint8_t>& rgb = image.rgb;
    int failures = 0;
    if (width != wantWidth || height != wantHeight) {
        std::printf("FAIL: the screen is %dx%d, not %ldx%ld\n", width, height, wantWidth, wantHeight);
        ++failures;
    }

    constexpr int GRID = 4;
    for (int cy = 0; cy < GRID; ++cy) {
        for (int cx = 0; cx < GRID; ++cx) {
            std::size_t lit = 0;
            for (int y = cy * height / GRID; y < (cy + 1) * height / GRID; ++y) {
                for (int x = cx * width / GRID; x < (cx + 1) * width / GRID; ++x) {
                    const std::uint8_t* o = image.at(x, y);
                    lit += (o[0] | o[1] | o[2]) != 0;
                }
            }
            if (lit == 0) {
                std::printf("FAIL: grid cell (%d, %d) of the screen is black: the picture does not fill it\n", cx, cy);
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
    if (argc > 4) {
        std::FILE* out = std::fopen(argv[4], "wb");
        if (out) {
            std::fprintf(out, "P6\n%d %d\n255\n", width, height);
            std::fwrite(rgb.data(), 1, rgb.size(), out);
            std::fclose(out);
        }
    }
    if (!failures) {
        std::printf("ok: %dx%d picture fills the screen\n", width, height);
    }
    return failures ? 1 : 0;
}
