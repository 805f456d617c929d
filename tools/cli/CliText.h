#pragma once

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Text helpers of the command line tool: columns that line up on a terminal even with Chinese
// texts.

// summaryLine, the window's line above its table, comes from here.
#include "DeviceRowList.h"

// Columns a text takes on a terminal: East Asian wide characters take two, combining marks none.
int displayWidth(const juce::String& text);

// The text followed by spaces up to `width` columns.
juce::String padToWidth(const juce::String& text, int width);

// Lines of cells, each column as wide as its widest cell, columns two spaces apart, no trailing
// spaces.
using TextRow = std::vector<juce::String>;
std::string formatColumns(const std::vector<TextRow>& rows);

// A progress bar of `width` cells for a percentage (0 to 100): "[#####.....]".
std::string progressBar(int percent, int width);

// UTF-8 of a text, for the output streams.
inline std::string utf8(const juce::String& text)
{
    return text.toStdString();
}
