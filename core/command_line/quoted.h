#pragma once

// Arguments and paths inside the tools' one-line messages: between single
// quotes, with every control character written as an escape (\n, \t, \r,
// \xHH), so that a message stays one line whatever it quotes. An argument
// is shown up to its first 80 bytes (never half a UTF-8 character), then
// "..." and its length; a path is shown whole up to the longest path the
// system takes.
//
//   quoted("5")                  ->  '5'
//   quoted("a<newline>b")        ->  'a\nb'
//   quoted(120,000 times "a")    ->  'aaaa(80 of them)...' (120000 bytes)

#include <cstddef>
#include <string>
#include <string_view>

namespace command_line {

// The most bytes of an argument that a message shows.
inline constexpr std::size_t QUOTED_ARGUMENT_BYTES = 80;

std::string quoted(std::string_view argument);

// A path: whole up to PATH_MAX bytes, longer ones (which no system call
// takes) cut as an argument is.
std::string quotedPath(std::string_view path);

}  // namespace command_line
