#include "log_file_win32.h"

#include <windows.h>

namespace win32_platform {

std::FILE* openLog(const char* path)
{
    // The entry itself, not what it leads to; asked for its attributes only,
    // shared with every other user, so that opening it changes nothing.
    HANDLE entry = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                               nullptr);
    if (entry != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION information{};
        const bool known = GetFileInformationByHandle(entry, &information) != 0;
        const DWORD type = GetFileType(entry);
        CloseHandle(entry);
        if (known && (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            std::fprintf(stderr, "demo: no shader log: %s is a symbolic link, which is not followed\n", path);
            return nullptr;
        }
        if (type != FILE_TYPE_DISK) {
            std::fprintf(stderr, "demo: no shader log: %s is not a file on a disk\n", path);
            return nullptr;
        }
    }
    return std::fopen(path, "wb");  // null in a read-only folder: skipped without a word
}

}  // namespace win32_platform
