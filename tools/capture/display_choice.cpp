#include "display_choice.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace offscreen {
namespace {

std::string lowerCase(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

bool contains(std::string_view text, std::string_view part)
{
    return lowerCase(text).find(lowerCase(part)) != std::string::npos;
}

std::string listOf(const std::vector<FoundDisplay>& found)
{
    std::string list;
    for (const FoundDisplay& display : found)
        list += (list.empty() ? "" : ", ") + display.name + " (" + display.renderer + ")";
    return list;
}

}  // namespace

bool isSoftwareRenderer(std::string_view renderer)
{
    static constexpr std::array<std::string_view, 4> SOFTWARE = {"llvmpipe", "softpipe", "swiftshader", "swrast"};
    return std::any_of(SOFTWARE.begin(), SOFTWARE.end(), [&](std::string_view name) { return contains(renderer, name); });
}

std::optional<std::size_t> chooseDisplay(const std::vector<FoundDisplay>& found, std::string_view wanted,
                                         std::string& error)
{
    if (found.empty()) {
        error = "no EGL display offers the scene's OpenGL";
        return std::nullopt;
    }
    auto first = [&](auto&& fits) -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < found.size(); ++i)
            if (fits(found[i]))
                return i;
        return std::nullopt;
    };
    auto hardware = [](const FoundDisplay& d) { return !isSoftwareRenderer(d.renderer); };
    auto software = [](const FoundDisplay& d) { return isSoftwareRenderer(d.renderer); };
    std::optional<std::size_t> chosen;
    if (wanted.empty())
        chosen = first(hardware) ? first(hardware) : first(software);
    else if (lowerCase(wanted) == "hardware")
        chosen = first(hardware);
    else if (lowerCase(wanted) == "software")
        chosen = first(software);
    else
        chosen = first([&](const FoundDisplay& d) { return contains(d.name, wanted) || contains(d.renderer, wanted); });
    if (!chosen)
        error = std::string(RENDERER_VARIABLE) + "=" + std::string(wanted) + ": no such renderer among those found: " +
                listOf(found);
    return chosen;
}

}  // namespace offscreen
