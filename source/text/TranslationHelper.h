#pragma once

#include <juce_core/juce_core.h>

// Turns an English text into the text to show: unchanged, or its Chinese translation from
// "translations.csv" when the user's interface language is Chinese.
class TranslationHelper
{
public:
    // The singleton: created on first use, deleted by the program entry.
    static TranslationHelper& getInstance();
    static void deleteInstance();
    static bool hasInstance();

    TranslationHelper();

    // Chooses the language from the platform, then loads the table. True when pairs were loaded.
    // Chinese also makes the interface typeface one that can draw it; when no installed font can,
    // the texts stay English. A program that draws no text itself (one that writes to a
    // terminal) passes false and needs no typeface.
    bool selectLanguage(bool drawsText = true);

    // Loads the table file. True when at least one pair was loaded; a missing file shows the
    // "Fatal" message box and leaves the table as it was.
    bool loadTranslations();

    // The text to show for an English text (see the class comment). An untranslated text on a
    // translating system logs an ERROR line and yields an empty text. A lookup made while the
    // table loads (from the load's own message box) yields the text unchanged and loads nothing.
    juce::String getTranslation(const juce::String& text, const juce::String& source, const juce::String& target);

    const juce::String& getSourceLanguage() const noexcept { return sourceLanguage; }
    const juce::String& getTargetLanguage() const noexcept { return targetLanguage; }
    bool isEnabled() const noexcept { return enabled; }
    bool isLoaded() const noexcept { return loaded; }
    const juce::StringPairArray& getTranslations() const noexcept { return translations; }

    // The table file; "translations.csv" in the working directory unless a test sets another.
    void setTableFile(const juce::File& file) { tableFile = file; }
    juce::File getTableFile() const;

    // Enables translation into a target column without asking the platform (tests, tools).
    void enableFor(const juce::String& target);

    // Largest table file that is read; a bigger one is treated as unreadable.
    static constexpr juce::int64 kMaxTableFileBytes = 16 * 1024 * 1024;

private:
    // Makes the interface typeface one that draws Chinese; false (logged) when none can.
    bool useChineseTypeface();

    juce::StringPairArray translations { true }; // keys compared ignoring case
    bool loaded = false;
    bool enabled = false;
    bool loading = false; // true while loadTranslations runs
    juce::String sourceLanguage { "english" };
    juce::String targetLanguage { "chinese" };
    juce::String separator { "~" };
    juce::File tableFile;

    JUCE_DECLARE_NON_COPYABLE(TranslationHelper)
};

// Splits one line of the table at the separator. A double quote starts a quoted run that lasts
// to the next double quote; a separator inside it does not split. Quotes stay in the field and
// fields are not trimmed.
juce::StringArray splitTranslationLine(const juce::String& line, juce::juce_wchar separator);

// Parses a whole table text: line 1 names the columns; each further line with at least as many
// fields as the header sets (source field -> target field) in `out`, a later key replacing an
// earlier one. Returns false, leaving `out` untouched, when there are fewer than 2 lines or
// either column is missing; otherwise empties `out` first and returns true.
bool parseTranslationTable(const juce::String& text, const juce::String& sourceColumn,
                           const juce::String& targetColumn, juce::juce_wchar separator,
                           juce::StringPairArray& out);
