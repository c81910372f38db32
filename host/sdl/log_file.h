#pragma once

// The shader log on Linux: opened without following a symbolic link and
// without waiting (O_NOFOLLOW | O_NONBLOCK), so that a link planted at its
// name cannot make the demo overwrite another file, and a named pipe that
// nobody reads cannot hold up the start. An ordinary file is created or
// emptied as fopen(path, "wb") does; a pipe with a reader, a terminal or a
// device is written as it is. Whatever cannot be opened that way gives null,
// after one line on stderr for a link or a pipe ("demo: no shader log: ...");
// a read-only folder skips the log without a word, as it always has.

#include <cstdio>

namespace sdl_platform {

std::FILE* openLog(const char* path);

}  // namespace sdl_platform
