// Checks a screenshot of the X screen (xwd's format, as `xwd -root` writes it
// on a 24- or 32-bit TrueColor screen): its size, and that the picture fills
// it, that is each cell of a 4 x 4 grid holds lit pixels and the picture is
// not one flat colour. Optionally writes the picture as a PPM file.
//
// usage: screen_check SHOT.xwd WIDTH HEIGHT [OUT.ppm]
// Exit status 0 when every check holds; one line per failed check otherwise.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::uint32_t bigEndian32(const unsigned char* p)
{
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

int shiftOf(std::uint32_t mask)
{
    int shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s SHOT.xwd WIDTH HEIGHT [OUT.ppm]\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 100) {
        std::printf("FAIL: %s is not an xwd file\n", argv[1]);
        return 1;
    }
    auto field = [&](int index) { return bigEndian32(&file[4 * index]); };
    const std::uint32_t headerSize = field(0);
    const std::uint32_t width = field(4);
    const std::uint32_t height = field(5);
    const std::uint32_t byteOrder = field(7);
    const std::uint32_t bitsPerPixel = field(11);
    const std::uint32_t bytesPerLine = field(12);
    const std::uint32_t redMask = field(14);
    const std::uint32_t greenMask = field(15);
    const std::uint32_t blueMask = field(16);
    const std::uint32_t colours = field(19);
    const std::size_t pixelStart = headerSize + 12 * std::size_t{colours};
    if (bitsPerPixel != 32 || file.size() < pixelStart + std::size_t{bytesPerLine} * height) {
        std::printf("FAIL: unsupported or truncated xwd file (%u bits per pixel)\n", bitsPerPixel);
        return 1;
    }
    const long wantWidth = std::strtol(argv[2], nullptr, 10);
    const long wantHeight = std::strtol(argv[3], nullptr, 10);
    int failures = 0;
    if (width != wantWidth || height != wantHeight) {
        std::printf("FAIL: the screen is %ux%u, not %ldx%ld\n", width, height, wantWidth, wantHeight);
        ++failures;
    }

    std::vector<unsigned char> rgb(std::size_t{width} * height * 3);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const unsigned char* p = &file[pixelStart + std::size_t{y} * bytesPerLine + 4 * x];
            const std::uint32_t v = byteOrder ? bigEndian32(p)
                                              : std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 |
                                                    std::uint32_t{p[1]} << 8 | p[0];
            unsigned char* o = &rgb[(std::size_t{y} * width + x) * 3];
            o[0] = static_cast<unsigned char>((v & redMask) >> shiftOf(redMask));
            o[1] = static_cast<unsigned char>((v & greenMask) >> shiftOf(greenMask));
            o[2] = static_cast<unsigned char>((v & blueMask) >> shiftOf(blueMask));
        }
    }

    constexpr int GRID = 4;
    for (int cy = 0; cy < GRID; ++cy) {
        for (int cx = 0; cx < GRID; ++cx) {
            std::size_t lit = 0;
            for (std::uint32_t y = cy * height / GRID; y < (cy + 1) * height / GRID; ++y) {
                for (std::uint32_t x = cx * width / GRID; x < (cx + 1) * width / GRID; ++x) {
                    const unsigned char* o = &rgb[(std::size_t{y} * width + x) * 3];
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
            std::fprintf(out, "P6\n%u %u\n255\n", width, height);
            std::fwrite(rgb.data(), 1, rgb.size(), out);
            std::fclose(out);
        }
    }
    if (!failures) {
        std::printf("ok: %ux%u picture fills the screen\n", width, height);
    }
    return failures ? 1 : 0;
}
