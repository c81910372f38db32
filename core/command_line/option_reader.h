#pragma once

// The command-line rules that demo, capture and render-song share:
//  - an option is spelt --name VALUE or --name=VALUE; a short spelling (-o)
//    takes its value from the next argument; an option that takes no value
//    refuses "=VALUE"; an optional value is taken from the next argument
//    only when that does not begin with '-';
//  - each option is given once; only an option marked `repeatable` may come
//    again ("--out is given twice");
//  - --help (or -h) and --version stand alone: with any other argument they
//    are a bad argument;
//  - any other word is an unknown option (it begins with '-') or an
//    unexpected argument;
//  - every refusal is one line, and quotes what it names (quoted.h).
// A tool lists its options in a table filled by name and takes each value as
// it comes:
//
//   const Option options[] = {{.name = "--out", .needs = "a file name"},
//                             {.name = "--quiet", .shortName = "-q", .takes = Takes::Nothing}};
//   const Outcome outcome = readOptions(argc, argv, options, takeOne, error);
//   if (outcome != Outcome::Run)
//       return answerHelpOrError("tool", outcome, error, usage());

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace command_line {

enum class Takes { Nothing, Value, OptionalValue };

struct Option {
    std::string_view name;            // "--out"
    std::string_view shortName = {};  // "-o", or none
    Takes takes = Takes::Value;
    // What a missing value is called: "--out needs a file name".
    std::string_view needs = "a value";
    bool repeatable = false;
};

enum class Outcome { Run, Help, Version, Error };

// One option as it was given.
struct GivenOption {
    const Option& option;
    std::string_view value;  // after '=' or the next argument; empty without one
    bool hasValue = false;   // false for an option that takes none, or an optional value left out
};

// Takes one option with its value; returns false, with one line in `error`,
// to refuse it.
using TakeOption = std::function<bool(const GivenOption& given, std::string& error)>;

// Reads argv[1..argc-1] against `options`, handing each option to `take` in
// the order given. Help only for --help alone, Version for --version alone;
// on Error, `error` is one line.
Outcome readOptions(int argc, const char* const* argv, std::span<const Option> options, const TakeOption& take,
                    std::string& error);

// For Help, Version and Error (not Run): prints `usage` or the version line
// ("TOOL 1.0.0 (git 45dca8e)") on standard output and returns 0, or prints
// "TOOL: ERROR (see 'TOOL --help')" on standard error and returns 2, the exit
// code for bad arguments.
int answerHelpOrError(std::string_view tool, Outcome outcome, const std::string& error, const std::string& usage);

// The same answer as text, for a program that shows it elsewhere (a message
// box): what answerHelpOrError prints, ending in a line feed, and its exit
// code (0 for standard output, 2 for standard error).
struct Answer {
    std::string text;
    int exitCode = 0;
};
Answer helpOrErrorAnswer(std::string_view tool, Outcome outcome, const std::string& error, const std::string& usage);

}  // namespace command_line
