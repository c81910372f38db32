#include "option_reader.h"

#include "quoted.h"
#include "version.h"

#include <cstdio>
#include <vector>

namespace command_line {
namespace {

constexpr std::string_view HELP = "--help";
constexpr std::string_view HELP_SHORT = "-h";
constexpr std::string_view VERSION = "--version";

const Option* findOption(std::span<const Option> options, std::string_view name)
{
    for (const Option& option : options)
        if (option.name == name || (!option.shortName.empty() && option.shortName == name))
            return &option;
    return nullptr;
}

}  // namespace

Outcome readOptions(int argc, const char* const* argv, std::span<const Option> options, const TakeOption& take,
                    std::string& error)
{
    std::vector<bool> seen(options.size(), false);
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        std::string_view name = argument;
        std::string_view value;
        bool inlineValue = false;
        if (argument.starts_with("--")) {
            const std::size_t equals = argument.find('=');
            if (equals != std::string_view::npos) {
                name = argument.substr(0, equals);
                value = argument.substr(equals + 1);
                inlineValue = true;
            }
        }
        if (name == HELP || name == HELP_SHORT || name == VERSION) {
            const std::string alone(name == VERSION ? VERSION : HELP);
            if (inlineValue) {
                error = alone + " takes no value";
                return Outcome::Error;
            }
            if (argc != 2) {
                error = alone + " takes no other arguments";
                return Outcome::Error;
            }
            return name == VERSION ? Outcome::Version : Outcome::Help;
        }
        const Option* option = findOption(options, name);
        if (option == nullptr) {
            error = (argument.size() > 1 && argument[0] == '-' ? "unknown option " : "unexpected argument ") +
                    quoted(argument);
            return Outcome::Error;
        }
        const std::string optionName(option->name);
        const std::size_t index = static_cast<std::size_t>(option - options.data());
        if (seen[index] && !option->repeatable) {
            error = optionName + " is given twice";
            return Outcome::Error;
        }
        seen[index] = true;
        bool hasValue = inlineValue;
        switch (option->takes) {
        case Takes::Nothing:
            if (inlineValue) {
                error = optionName + " takes no value";
                return Outcome::Error;
            }
            break;
        case Takes::Value:
            if (!inlineValue) {
                if (i + 1 >= argc) {
                    error = optionName + " needs " + std::string(option->needs);
                    return Outcome::Error;
                }
                value = argv[++i];
                hasValue = true;
            }
            break;
        case Takes::OptionalValue:
            if (!inlineValue && i + 1 < argc && argv[i + 1][0] != '-') {
                value = argv[++i];
                hasValue = true;
            }
            break;
        }
        if (!take(GivenOption{*option, value, hasValue}, error))
            return Outcome::Error;
    }
    return Outcome::Run;
}

Answer helpOrErrorAnswer(std::string_view tool, Outcome outcome, const std::string& error, const std::string& usage)
{
    if (outcome == Outcome::Help)
        return {usage, 0};
    if (outcome == Outcome::Version)
        return {std::string(versionLine(std::string(tool).c_str())) + "\n", 0};
    const std::string name(tool);
    return {name + ": " + error + " (see '" + name + " --help')\n", 2};
}

int answerHelpOrError(std::string_view tool, Outcome outcome, const std::string& error, const std::string& usage)
{
    const Answer answer = helpOrErrorAnswer(tool, outcome, error, usage);
    std::fputs(answer.text.c_str(), answer.exitCode == 0 ? stdout : stderr);
    return answer.exitCode;
}

}  // namespace command_line
