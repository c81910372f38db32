// Prints the application manifest of a Windows executable: the resource of
// type 24 (RT_MANIFEST) and id 1, the one that the loader reads when it
// starts the program, found by walking the PE file's resource directory
// (type, then id, then the first language).
//
// usage: pe_manifest FILE.exe
// Exit status 0 with the manifest on stdout; 1 when the file has none; 2 on
// bad arguments or a file that is not a PE image.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::vector<unsigned char> file;

bool inside(std::size_t at, std::size_t bytes)
{
    return at <= file.size() && bytes <= file.size() - at;
}

std::uint32_t read16(std::size_t at)
{
    return inside(at, 2) ? file[at] | file[at + 1] << 8 : 0;
}

std::uint32_t read32(std::size_t at)
{
    return inside(at, 4) ? read16(at) | read16(at + 2) << 16 : 0;
}

struct Section {
    std::uint32_t address;
    std::uint32_t size;
    std::uint32_t fileOffset;
};
std::vector<Section> sections;

// The file offset of a virtual address, or 0 when no section holds it.
std::size_t offsetOf(std::uint32_t address)
{
    for (const Section& s : sections) {
        if (address >= s.address && address - s.address < s.size) {
            return s.fileOffset + (address - s.address);
        }
    }
    return 0;
}

// In the resource directory at `directory` (a file offset; the offsets in
// its entries count from the resource section's start), the entry with the numeric id `id` (or the first one
// when `id` is negative): its target's offset from the section's start, with the high bit
// set when that is a directory. 0 when there is none.
std::uint32_t findEntry(std::size_t directory, long id)
{
    const std::uint32_t named = read16(directory + 12);
    const std::uint32_t numbered = read16(directory + 14);
    for (std::uint32_t k = 0; k < named + numbered; ++k) {
        const std::size_t entry = directory + 16 + 8 * std::size_t{k};
        const std::uint32_t name = read32(entry);
        if (id < 0 || (!(name & 0x80000000u) && name == static_cast<std::uint32_t>(id))) {
            return read32(entry + 4);
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 || !std::strcmp(argv[1], "--help")) {
        std::fprintf(argc == 2 ? stdout : stderr, "usage: %s FILE.exe\n", argv[0]);
        return argc == 2 ? 0 : 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const std::size_t pe = read32(0x3c);
    if (!in.is_open() || file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z' || !inside(pe, 24) ||
        std::memcmp(&file[pe], "PE\0\0", 4)) {
        std::fprintf(stderr, "pe_manifest: %s is not a PE image\n", argv[1]);
        return 2;
    }
    const std::size_t optional = pe + 24;
    const std::uint32_t magic = read16(optional);
    const std::size_t directories = optional + (magic == 0x20b ? 112 : 96);
    const std::uint32_t directoryCount = read32(optional + (magic == 0x20b ? 108 : 92));
    const std::size_t sectionTable = optional + read16(pe + 20);
    for (std::uint32_t k = 0; k < read16(pe + 6); ++k) {
        const std::size_t s = sectionTable + 40 * std::size_t{k};
        sections.push_back({read32(s + 12), std::max(read32(s + 8), read32(s + 16)), read32(s + 20)});
    }
    const std::size_t base = directoryCount > 2 ? offsetOf(read32(directories + 16)) : 0;
    if (!base) {
        std::fprintf(stderr, "pe_manifest: %s has no resources\n", argv[1]);
        return 1;
    }
    const std::uint32_t type = findEntry(base, 24);
    const std::uint32_t name = type & 0x80000000u ? findEntry(base + (type & 0x7fffffffu), 1) : 0;
    const std::uint32_t language = name & 0x80000000u ? findEntry(base + (name & 0x7fffffffu), -1) : 0;
    if (!language || (language & 0x80000000u)) {
        std::fprintf(stderr, "pe_manifest: %s has no manifest (resource type 24, id 1)\n", argv[1]);
        return 1;
    }
    const std::size_t data = offsetOf(read32(base + language));
    const std::uint32_t size = read32(base + language + 4);
    if (!data || !inside(data, size)) {
        std::fprintf(stderr, "pe_manifest: the manifest of %s lies outside the file\n", argv[1]);
        return 2;
    }
    std::fwrite(&file[data], 1, size, stdout);
    return 0;
}
