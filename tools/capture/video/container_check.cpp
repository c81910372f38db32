#include "container_check.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace video {
namespace {

// Reads exactly `size` bytes at `offset`; false at the end or on an error.
bool readAt(int fd, std::uint64_t offset, unsigned char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t got = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        data += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

std::uint64_t bigEndian(const unsigned char* bytes, int count)
{
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

std::string mp4Fault(int fd, std::uint64_t size)
{
    bool index = false;
    bool media = false;
    std::uint64_t offset = 0;
    while (offset < size) {
        unsigned char header[16];
        if (size - offset < 8 || !readAt(fd, offset, header, 8))
            return "it ends inside a box header at byte " + std::to_string(offset);
        std::uint64_t boxSize = bigEndian(header, 4);
        std::uint64_t headerSize = 8;
        if (boxSize == 1) {
            if (size - offset < 16 || !readAt(fd, offset + 8, header + 8, 8))
                return "it ends inside a box header at byte " + std::to_string(offset);
            boxSize = bigEndian(header + 8, 8);
            headerSize = 16;
        }
        // A size of 0 ("to the end of the file") is what a muxer leaves
        // before it goes back to write the real one.
        if (boxSize < headerSize)
            return "a box at byte " + std::to_string(offset) + " has no size";
        if (boxSize > size - offset)
            return "it ends inside a box at byte " + std::to_string(offset);
        const std::string type(reinterpret_cast<const char*>(header + 4), 4);
        index = index || type == "moov";
        media = media || type == "mdat";
        offset += boxSize;
    }
    if (!index)
        return "it has no index (moov box)";
    if (!media)
        return "it has no media (mdat box)";
    return {};
}

// An EBML number at `offset`: its length from the first byte's leading
// zeros; an element ID keeps its marker bit, a size drops it. False when it
// does not fit the file.
bool readEbmlNumber(int fd, std::uint64_t size, std::uint64_t& offset, bool keepMarker, std::uint64_t& value,
                    bool& allOnes)
{
    unsigned char bytes[8];
    if (offset >= size || !readAt(fd, offset, bytes, 1))
        return false;
    int length = 1;
    while (length <= 8 && !(bytes[0] & (0x80 >> (length - 1))))
        ++length;
    if (length > 8 || size - offset < static_cast<std::uint64_t>(length) ||
        (length > 1 && !readAt(fd, offset + 1, bytes + 1, static_cast<std::size_t>(length - 1))))
        return false;
    value = keepMarker ? bytes[0] : bytes[0] & (0xFF >> length);
    allOnes = value == static_cast<std::uint64_t>(0xFF >> length);
    for (int i = 1; i < length; ++i) {
        value = value << 8 | bytes[i];
        allOnes = allOnes && bytes[i] == 0xFF;
    }
    offset += static_cast<std::uint64_t>(length);
    return true;
}

constexpr std::uint64_t EBML_HEADER_ID = 0x1A45DFA3;
constexpr std::uint64_t SEGMENT_ID = 0x18538067;

std::string matroskaFault(int fd, std::uint64_t size)
{
    std::uint64_t offset = 0;
    std::uint64_t id = 0, length = 0;
    bool unknown = false;
    if (!readEbmlNumber(fd, size, offset, true, id, unknown) || id != EBML_HEADER_ID ||
        !readEbmlNumber(fd, size, offset, false, length, unknown) || unknown || length > size - offset)
        return "it has no Matroska header";
    offset += length;
    if (!readEbmlNumber(fd, size, offset, true, id, unknown) || id != SEGMENT_ID ||
        !readEbmlNumber(fd, size, offset, false, length, unknown))
        return "it has no Matroska segment";
    if (unknown)
        return "its segment was never closed (its size is not written)";
    if (length != size - offset)
        return "its segment holds " + std::to_string(length) + " bytes, but the file has " +
               std::to_string(size - offset) + " after its header";
    return {};
}

}  // namespace

std::string containerFault(int fd, std::uint64_t size, const std::string& extension)
{
    if (extension == ".mp4" || extension == ".mov" || extension == ".m4v")
        return mp4Fault(fd, size);
    if (extension == ".mkv")
        return matroskaFault(fd, size);
    return {};
}

std::string containerFault(const std::string& path, const std::string& extension)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::string("it cannot be read back (") + std::strerror(errno) + ")";
    struct stat info {};
    std::string fault = ::fstat(fd, &info) != 0 ? std::string("its size cannot be read (") + std::strerror(errno) + ")"
                                                : containerFault(fd, static_cast<std::uint64_t>(info.st_size), extension);
    ::close(fd);
    return fault;
}

}  // namespace video
