// Feeds arbitrary text to the translation table parser (UTF-8 and UTF-16 detection included).
#include "TranslationHelper.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Decoded as the program reads translations.csv (File::loadFileAsString reads through a
    // stream). The framework's createStringFromData, given a buffer that holds only a UTF-8 byte
    // order mark, reads one byte past it; the stream's buffer has zeroed room after the data.
    juce::MemoryInputStream stream(data, size, false);
    const juce::String text = stream.readEntireStreamAsString();
    juce::StringPairArray pairs;
    parseTranslationTable(text, "english", "chinese", '~', pairs);
    for (int i = 0; i < pairs.size(); ++i)
        (void) pairs.getValue(pairs.getAllKeys()[i], {});
    return 0;
}
