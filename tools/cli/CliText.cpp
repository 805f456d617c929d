#include "CliText.h"

#include "StringResources.h"

#include <algorithm>

namespace
{
bool isCombining(juce::juce_wchar c)
{
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) || (c >= 0xFE20 && c <= 0xFE2F);
}

bool isWide(juce::juce_wchar c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF)
        || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF)
        || (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F)
        || (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}
} // namespace

int displayWidth(const juce::String& text)
{
    int width = 0;
    for (auto p = text.getCharPointer(); !p.isEmpty();)
    {
        const juce::juce_wchar c = p.getAndAdvance();
        if (c < 0x20 || isCombining(c))
            continue;
        width += isWide(c) ? 2 : 1;
    }
    return width;
}

juce::String padToWidth(const juce::String& text, int width)
{
    const int missing = width - displayWidth(text);
    return missing > 0 ? text + juce::String::repeatedString(" ", missing) : text;
}

std::string formatColumns(const std::vector<TextRow>& rows)
{
    std::vector<int> widths;
    for (const auto& row : rows)
    {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], displayWidth(row[i]));
    }
    std::string out;
    for (const auto& row : rows)
    {
        juce::String line;
        for (size_t i = 0; i < row.size(); ++i)
            line += (i == 0 ? juce::String() : juce::String("  ")) + (i + 1 < row.size() ? padToWidth(row[i], widths[i]) : row[i]);
        out += utf8(line.trimEnd()) + "\n";
    }
    return out;
}

std::string progressBar(int percent, int width)
{
    const int clamped = std::clamp(percent, 0, 100);
    const int filled = (clamped * width + 50) / 100;
    return "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(width - filled), '.') + "]";
}
