# Sets the search path of the Linux archive's program FILE to exactly
# $ORIGIN/lib (the build leaves an empty entry after it, which the loader
# would read as the current folder), in place: CMake's own ELF editor.
# Usage: cmake -DFILE=program -P set_rpath.cmake
file(RPATH_SET FILE "${FILE}" NEW_RPATH "\$ORIGIN/lib")
