// Feeds arbitrary text to the translation table parser (UTF-8 and UTF-16 detection included).
#include "TranslationHelper.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const juce::String text = juce::String::createStringFromData(data, static_cast<int>(size));
    juce::StringPairArray pairs;
    parseTranslationTable(text, "english", "chinese", '~', pairs);
    for (int i = 0; i < pairs.size(); ++i)
        (void) pairs.getValue(pairs.getAllKeys()[i], {});
    return 0;
}
