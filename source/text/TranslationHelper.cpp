#include "TranslationHelper.h"

#include "Log.h"
#include "Platform.h"

#include <map>
#include <memory>

namespace
{
std::unique_ptr<TranslationHelper>& singleton()
{
    static std::unique_ptr<TranslationHelper> instance;
    return instance;
}
} // namespace

TranslationHelper& TranslationHelper::getInstance()
{
    auto& instance = singleton();
    if (instance == nullptr)
        instance = std::make_unique<TranslationHelper>();
    return *instance;
}

void TranslationHelper::deleteInstance()
{
    singleton().reset();
}

bool TranslationHelper::hasInstance()
{
    return singleton() != nullptr;
}

TranslationHelper::TranslationHelper() = default;

juce::File TranslationHelper::getTableFile() const
{
    if (tableFile != juce::File())
        return tableFile;
    return juce::File::getCurrentWorkingDirectory().getChildFile("translations.csv");
}

void TranslationHelper::enableFor(const juce::String& target)
{
    enabled = true;
    targetLanguage = target;
    loaded = false;
}

bool TranslationHelper::selectLanguage(bool drawsText)
{
    const auto language = platform::getUserDefaultUILanguage();
    if (platform::primaryLanguage(language) == platform::kPrimaryLanguageChinese && (!drawsText || useChineseTypeface()))
    {
        enabled = true;
        targetLanguage = "chinese";
        loaded = false;
    }
    return loadTranslations();
}

bool TranslationHelper::useChineseTypeface()
{
    // The shared fonts use the default sans-serif typeface, so they follow this choice.
    const std::string typeface = platform::useChineseInterfaceTypeface();
    if (typeface.empty())
    {
        // English texts beat empty boxes.
        KS_LOG_ERROR("TranslationHelper::selectLanguage", "no installed font can draw Chinese; the texts stay English");
        return false;
    }
    KS_LOG_INFO("TranslationHelper::selectLanguage", "Chinese texts in the typeface " << typeface);
    return true;
}

bool TranslationHelper::loadTranslations()
{
    // The "Fatal" box below runs a modal loop and creates a window, which asks for texts (the
    // application's name); those lookups must not start this load again.
    if (loading)
        return false;
    const juce::ScopedValueSetter<bool> loadingNow(loading, true);

    const juce::File file = getTableFile();
    if (!file.existsAsFile())
    {
        platform::showMessageBox("Fatal", "Can not find translations.csv.");
        return false;
    }
    if (file.getSize() > kMaxTableFileBytes)
    {
        KS_LOG_ERROR("TranslationHelper::loadTranslations",
                     "translations file is too large to be a translation table: " << file.getFullPathName() << " ("
                                                                                  << file.getSize() << " bytes)");
        return false;
    }

    // Detects a UTF-16 byte order mark; UTF-8 otherwise.
    const juce::String text = file.loadFileAsString();
    if (!parseTranslationTable(text, sourceLanguage, targetLanguage, separator[0], translations))
        return false;
    return translations.size() > 0;
}

juce::String TranslationHelper::getTranslation(const juce::String& text, const juce::String& source,
                                               const juce::String& target)
{
    // While the table loads (a lookup from the load's own message box), the text is shown as it is.
    if (!enabled || loading)
        return text;

    if (!loaded || source != sourceLanguage || target != targetLanguage)
    {
        sourceLanguage = source;
        targetLanguage = target;
        loadTranslations();
        loaded = true;
    }

    const juce::String value = translations.getValue(text, {});
    if (value.isNotEmpty())
        return value;

    KS_LOG_ERROR("TranslationHelper::getTranslation", "not find translation text for: " << text.toStdString());
    return {};
}

juce::StringArray splitTranslationLine(const juce::String& line, juce::juce_wchar separator)
{
    juce::StringArray fields;
    auto fieldStart = line.getCharPointer();
    bool quoted = false;
    for (auto p = line.getCharPointer(); !p.isEmpty(); ++p)
    {
        const juce::juce_wchar c = *p;
        if (c == '"')
            quoted = !quoted;
        else if (c == separator && !quoted)
        {
            fields.add(juce::String(fieldStart, p));
            fieldStart = p + 1;
        }
    }
    fields.add(juce::String(fieldStart));
    return fields;
}

bool parseTranslationTable(const juce::String& text, const juce::String& sourceColumn,
                           const juce::String& targetColumn, juce::juce_wchar separator,
                           juce::StringPairArray& out)
{
    juce::StringArray lines;
    lines.addLines(text);
    if (lines.size() < 2)
        return false;

    const juce::StringArray header = splitTranslationLine(lines[0], separator);
    const int sourceIndex = header.indexOf(sourceColumn, false);
    const int targetIndex = header.indexOf(targetColumn, false);
    if (sourceIndex < 0 || targetIndex < 0)
        return false;

    // Keys compare ignoring case; a later line replaces the value of an earlier key but keeps
    // the key's first spelling. A map keeps a large file from costing quadratic time.
    std::map<juce::String, std::pair<juce::String, juce::String>> byLowerKey;
    for (int i = 1; i < lines.size(); ++i)
    {
        const juce::StringArray fields = splitTranslationLine(lines[i], separator);
        if (fields.size() < header.size())
            continue;
        const juce::String& key = fields.getReference(sourceIndex);
        auto [it, inserted] = byLowerKey.try_emplace(key.toLowerCase(), key, fields[targetIndex]);
        if (!inserted)
            it->second.second = fields[targetIndex];
    }

    std::map<juce::String, juce::String> pairs;
    for (const auto& entry : byLowerKey)
        pairs.emplace(entry.second.first, entry.second.second);
    out.clear();
    out.addMap(pairs);
    return true;
}
