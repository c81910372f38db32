#pragma once

// What demo.exe, a program without a console of its own, says to the person
// who started it. Where output has somewhere to go (started from a console
// window, whose console it attaches to, or with its output redirected) the
// text goes there; a refusal or a failure is also shown in a message box, so
// that a double-clicked demo.exe never ends without a word.

#include <string>

namespace user_messages {

// `text` (lines ending in line feeds) on standard output, or on standard
// error with `isError`, where there is one; a message box titled "demo"
// shows it when it is an error, or when there is no console to show it.
void tell(const std::string& text, bool isError);

// One line on standard error where there is one; nothing otherwise.
void note(const std::string& line);

} // namespace user_messages
