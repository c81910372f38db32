// Checks a screenshot of the X screen (xwd's format): its size, and that the
// picture fills it, that is each cell of a 4 x 4 grid holds lit pixels and
// the picture is not one flat colour. Optionally writes the picture as a PPM
// file.
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
    ScreenImage shot;
    std::string error;
    if (!readXwd(argv[1], shot, error)) {
        std::printf("FAIL: %s\n", error.c_str());
        return 1;
    }
    const long wantWidth = std::strtol(argv[2], nullptr, 10);
    const long wantHeight = std::strtol(argv[3], nullptr, 10);
    int failures = 0;
    if (shot.width != wantWidth || shot.height != wantHeight) {
        std::printf("FAIL: the screen is %dx%d, not %ldx%ld\n", shot.width, shot.height, wantWidth, wantHeight);
        ++failures;
    }

    constexpr int GRID = 4;
    for (int cy = 0; cy < GRID; ++cy) {
        for (int cx = 0; cx < GRID; ++cx) {
            std::size_t lit = 0;
            for (int y = cy * shot.height / GRID; y < (cy + 1) * shot.height / GRID; ++y) {
                for (int x = cx * shot.width / GRID; x < (cx + 1) * shot.width / GRID; ++x) {
                    const std::uint8_t* o = shot.at(x, y);
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
    for (std::size_t i = 3; i < shot.rgb.size() && flat; ++i) {
        flat = shot.rgb[i] == shot.rgb[i % 3];
    }
    if (flat) {
        std::printf("FAIL: the screen is one flat colour\n");
        ++failures;
    }
    if (argc > 4) {
        writePpm(argv[4], shot);
    }
    if (!failures) {
        std::printf("ok: %dx%d picture fills the screen\n", shot.width, shot.height);
    }
    return failures ? 1 : 0;
}
