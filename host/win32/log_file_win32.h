#pragma once

// The shader log on Windows: an ordinary file is opened with fopen(path,
// "wb") as ever; what stands at the name is first looked at without being
// followed (FILE_FLAG_OPEN_REPARSE_POINT), so that a symbolic link or
// junction planted there cannot make the demo overwrite another file, and
// something that is not a file on a disk (a device, a pipe) cannot hold up
// the start. Those give null after one line on stderr, and the log is skipped.

#include <cstdio>

namespace win32_platform {

std::FILE* openLog(const char* path);

}  // namespace win32_platform
