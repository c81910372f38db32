#pragma once

// bitCast: std::bit_cast where the standard library offers it, otherwise the
// compiler builtin that std::bit_cast is made of (older libc++ releases, such
// as the one of Debian's emscripten, lack std::bit_cast but their clang has
// __builtin_bit_cast). Both reinterpret the object representation and are
// usable in constant expressions.

#include <bit>
#include <type_traits>

template <class To, class From>
    requires(sizeof(To) == sizeof(From) && std::is_trivially_copyable_v<To> &&
             std::is_trivially_copyable_v<From>)
constexpr To bitCast(const From& from) noexcept
{
#if defined(__cpp_lib_bit_cast)
    return std::bit_cast<To>(from);
#else
    return __builtin_bit_cast(To, from);
#endif
}
