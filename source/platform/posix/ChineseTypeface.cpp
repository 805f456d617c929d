// Linux and macOS: a typeface that can draw Chinese, found through fontconfig.
//
// The framework's own font list on Linux knows only the fonts of *.ttf and *.otf files and has
// no glyph fallback, while the Chinese fonts of the distributions come as font collections
// (*.ttc). So the font that fontconfig names is loaded here from its file, and made the default
// sans-serif typeface itself rather than by name.
#include "../Platform.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace platform
{
namespace
{
struct FontFace
{
    std::string file;
    int index = 0;
    std::string family;
    int rank = 0; // smaller is better
};

// Families in the order they are preferred; any other font that covers Chinese comes after them.
const char* const kPreferredFamilies[] = { "WenQuanYi Micro Hei", "Noto Sans CJK SC", "Noto Sans SC",
                                           "Source Han Sans SC" };
constexpr int kOtherFamilyRank = 10;

int rankOf(const std::string& family, int weight, bool monospaced)
{
    int rank = kOtherFamilyRank;
    for (size_t i = 0; i < std::size(kPreferredFamilies); ++i)
        if (family == kPreferredFamilies[i])
            rank = static_cast<int>(i);
    rank *= 1000;
    if (monospaced)
        rank += 500;
    rank += std::abs(weight - FC_WEIGHT_REGULAR); // regular before light or bold
    return rank;
}

// Every scalable face installed that covers Simplified Chinese, best first.
std::vector<FontFace> chineseFaces()
{
    std::vector<FontFace> faces;
    if (FcInit() == FcFalse)
        return faces;
    std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> pattern(
        FcNameParse(reinterpret_cast<const FcChar8*>(":lang=zh-cn:scalable=true")), &FcPatternDestroy);
    std::unique_ptr<FcObjectSet, decltype(&FcObjectSetDestroy)> objects(
        FcObjectSetBuild(FC_FAMILY, FC_FILE, FC_INDEX, FC_WEIGHT, FC_SPACING, nullptr), &FcObjectSetDestroy);
    if (pattern == nullptr || objects == nullptr)
        return faces;
    std::unique_ptr<FcFontSet, decltype(&FcFontSetDestroy)> set(FcFontList(nullptr, pattern.get(), objects.get()),
                                                                &FcFontSetDestroy);
    if (set == nullptr)
        return faces;

    for (int i = 0; i < set->nfont; ++i)
    {
        FcPattern* font = set->fonts[i];
        FcChar8* file = nullptr;
        FcChar8* family = nullptr; // the first family name is the English one
        if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch
            || FcPatternGetString(font, FC_FAMILY, 0, &family) != FcResultMatch)
            continue;
        int index = 0;
        int weight = FC_WEIGHT_REGULAR;
        int spacing = FC_PROPORTIONAL;
        FcPatternGetInteger(font, FC_INDEX, 0, &index);
        FcPatternGetInteger(font, FC_WEIGHT, 0, &weight);
        FcPatternGetInteger(font, FC_SPACING, 0, &spacing);
        FontFace face;
        face.file = reinterpret_cast<const char*>(file);
        face.index = index & 0xffff; // the upper bits name an instance of a variable font
        face.family = reinterpret_cast<const char*>(family);
        const bool monospaced = spacing >= FC_DUAL || juce::String(face.family).containsIgnoreCase("Mono");
        face.rank = rankOf(face.family, weight, monospaced);
        faces.push_back(face);
    }
    std::stable_sort(faces.begin(), faces.end(), [](const FontFace& a, const FontFace& b) {
        return a.rank != b.rank ? a.rank < b.rank : a.file < b.file;
    });
    return faces;
}

// The framework loads a font from memory as the first face of the data. For a later face of a
// collection, the collection's first face offset is pointed at that face's table directory
// (the tables are found by offsets from the start of the file, so nothing else moves).
bool selectCollectionFace(juce::MemoryBlock& data, int index)
{
    if (index == 0)
        return true;
    const auto* bytes = static_cast<const uint8_t*>(data.getData());
    const size_t size = data.getSize();
    auto read32 = [&](size_t at) {
        return (uint32_t(bytes[at]) << 24) | (uint32_t(bytes[at + 1]) << 16) | (uint32_t(bytes[at + 2]) << 8)
             | uint32_t(bytes[at + 3]);
    };
    if (size < 12 || std::memcmp(bytes, "ttcf", 4) != 0)
        return false;
    const uint32_t count = read32(8);
    const size_t entry = 12 + 4 * static_cast<size_t>(index);
    if (static_cast<uint32_t>(index) >= count || entry + 4 > size)
        return false;
    data.copyFrom(bytes + entry, 12, 4);
    return true;
}

// Largest font file that is read into memory (the collections of CJK fonts are 5 to 30 MB).
constexpr juce::int64 kMaxFontFileBytes = 64 * 1024 * 1024;

juce::Typeface::Ptr loadFace(const FontFace& face)
{
    const juce::File file(juce::String::fromUTF8(face.file.c_str()));
    if (!file.existsAsFile() || file.getSize() > kMaxFontFileBytes)
        return nullptr;
    juce::MemoryBlock data;
    if (!file.loadFileAsData(data) || !selectCollectionFace(data, face.index))
        return nullptr;
    auto typeface = juce::Typeface::createSystemTypefaceFor(data.getData(), data.getSize());
    // A face the framework could not open has no name.
    if (typeface == nullptr || typeface->getName().isEmpty())
        return nullptr;
    return typeface;
}
} // namespace

std::string useChineseInterfaceTypeface()
{
    for (const FontFace& face : chineseFaces())
    {
        if (auto typeface = loadFace(face))
        {
            juce::LookAndFeel::getDefaultLookAndFeel().setDefaultSansSerifTypeface(typeface);
            return typeface->getName().toStdString();
        }
    }
    return {};
}
} // namespace platform
