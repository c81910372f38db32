#pragma once
// Faulting memory in ahead of the thread that will use it.

#include <cstddef>

// Writes a zero byte into each page of [first, first + bytes), a range that
// holds only zeros, so that every page of it is faulted in now and nothing
// changes. A page's first write costs a fault: a microsecond on bare metal,
// tens of microseconds in some virtual machines (a read first would cost a
// second fault). Stepping a page at a time from an unaligned start lands
// once in every page. No other thread may use the range meanwhile.
inline void writeZeroPages(void* first, std::size_t bytes) {
    constexpr std::size_t PAGE_BYTES = 4096;  // the smallest page of the platforms
    auto* p = static_cast<volatile unsigned char*>(first);
    for (std::size_t i = 0; i < bytes; i += PAGE_BYTES) p[i] = 0;
    if (bytes > 0) p[bytes - 1] = 0;
}
