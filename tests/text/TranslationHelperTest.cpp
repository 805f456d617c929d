#include "Platform.h"
#include "TestSupport.h"
#include "TranslationHelper.h"

#include <gtest/gtest.h>

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>

using namespace testing_support;

namespace
{
struct BoxRecorder
{
    BoxRecorder()
    {
        platform::setMessageBoxHandler([this](const std::string& title, const std::string& text) {
            boxes.push_back(title + "|" + text);
        });
    }
    ~BoxRecorder() { platform::setMessageBoxHandler({}); }
    std::vector<std::string> boxes;
};

juce::StringPairArray parse(const juce::String& text, bool expectOk = true)
{
    juce::StringPairArray pairs;
    EXPECT_EQ(parseTranslationTable(text, "english", "chinese", '~', pairs), expectOk);
    return pairs;
}
} // namespace

TEST(TranslationTable, QuotesKeepSeparatorsAndStayInTheField)
{
    const auto fields = splitTranslationLine("\"a~b\"~c~~ d ", '~');
    ASSERT_EQ(fields.size(), 4);
    EXPECT_EQ(fields[0], "\"a~b\"");
    EXPECT_EQ(fields[1], "c");
    EXPECT_EQ(fields[2], "");
    EXPECT_EQ(fields[3], " d ");
    // An unterminated quote runs to the end of the line.
    EXPECT_EQ(splitTranslationLine("x~\"y~z", '~').size(), 2);
}

TEST(TranslationTable, HeaderOrderShortLinesAndLineEnds)
{
    auto pairs = parse(juce::String::fromUTF8("chinese~english~note\r\n\xe7\xa1\xae\xe5\xae\x9a~OK~x\rshort~line\nCancel~Cancel2~y"));
    EXPECT_EQ(pairs.size(), 2);
    EXPECT_EQ(pairs.getValue("OK", {}), juce::String::fromUTF8("\xe7\xa1\xae\xe5\xae\x9a"));
    EXPECT_EQ(pairs.getValue("Cancel2", {}), "Cancel");
    EXPECT_FALSE(pairs.containsKey("line")); // two fields under a three-column header
}

TEST(TranslationTable, KeysIgnoreCaseAndLaterLinesWin)
{
    auto pairs = parse("english~chinese\nSelect all~A\nSELECT ALL~B\n\"Exit\"~C");
    EXPECT_EQ(pairs.getValue("Select All", {}), "B");
    EXPECT_EQ(pairs.size(), 2);
    EXPECT_FALSE(pairs.containsKey("Exit")); // the quoted key keeps its quotes
    EXPECT_TRUE(pairs.containsKey("\"Exit\""));
}

TEST(TranslationTable, RejectedTablesLeaveThePairsUntouched)
{
    juce::StringPairArray pairs;
    pairs.set("keep", "me");
    EXPECT_FALSE(parseTranslationTable("english~chinese", "english", "chinese", '~', pairs));
    EXPECT_FALSE(parseTranslationTable("English~chinese\nOK~x", "english", "chinese", '~', pairs));
    EXPECT_FALSE(parseTranslationTable("english~zh\nOK~x", "english", "chinese", '~', pairs));
    EXPECT_EQ(pairs.getValue("keep", {}), "me");
}

TEST(TranslationHelper, DisabledReturnsTextButStillReadsTheFile)
{
    TempFolder folder;
    BoxRecorder boxes;
    TranslationHelper helper;
    helper.setTableFile(folder.file("translations.csv"));
    EXPECT_FALSE(helper.loadTranslations());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0], "Fatal|Can not find translations.csv.");
    EXPECT_EQ(helper.getTranslation("Exit", "english", "chinese"), "Exit");
}

TEST(TranslationHelper, EnabledTranslatesAndLogsMisses)
{
    TempFolder folder;
    BoxRecorder boxes;
    folder.file("translations.csv").replaceWithText(juce::String::fromUTF8("english~chinese\nExit~\xe9\x80\x80\xe5\x87\xba\nEmpty~\n"));
    TranslationHelper helper;
    helper.setTableFile(folder.file("translations.csv"));
    helper.enableFor("chinese");
    EXPECT_EQ(helper.getTranslation("EXIT", "english", "chinese"), juce::String::fromUTF8("\xe9\x80\x80\xe5\x87\xba"));
    EXPECT_TRUE(helper.isLoaded());
    EXPECT_EQ(helper.getTranslation("Empty", "english", "chinese"), "");
    EXPECT_EQ(helper.getTranslation("Unknown", "english", "chinese"), "");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST(TranslationHelper, Utf16FileWithByteOrderMarkIsRead)
{
    TempFolder folder;
    BoxRecorder boxes;
    const juce::String text = juce::String::fromUTF8("english~chinese\nOK~\xe7\xa1\xae\xe5\xae\x9a\n");
    juce::MemoryOutputStream utf16;
    utf16.writeByte(char(0xff));
    utf16.writeByte(char(0xfe));
    for (auto p = text.getCharPointer(); !p.isEmpty(); ++p)
        utf16.writeShort(static_cast<short>(*p));
    folder.file("translations.csv").replaceWithData(utf16.getData(), utf16.getDataSize());
    TranslationHelper helper;
    helper.setTableFile(folder.file("translations.csv"));
    helper.enableFor("chinese");
    EXPECT_EQ(helper.getTranslation("OK", "english", "chinese"), juce::String::fromUTF8("\xe7\xa1\xae\xe5\xae\x9a"));
}

TEST(PlatformLanguage, FirstSetVariableDecides)
{
    ::setenv("LC_ALL", "", 1);
    ::setenv("LC_MESSAGES", "zh_TW.UTF-8", 1);
    ::setenv("LANG", "en_US.UTF-8", 1);
    EXPECT_EQ(platform::primaryLanguage(platform::getUserDefaultUILanguage()), platform::kPrimaryLanguageChinese);
    ::setenv("LC_ALL", "de_DE", 1);
    EXPECT_NE(platform::primaryLanguage(platform::getUserDefaultUILanguage()), platform::kPrimaryLanguageChinese);
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    ::unsetenv("LANG");
    EXPECT_EQ(platform::getUserDefaultUILanguage(), 0x0409);
}

TEST(TranslationHelper, MissingFileOnChineseSystemShowsTheBoxTwiceAndNeverReenters)
{
    // The real box creates a window, which asks for the application's name while the table is
    // still loading. The recorder does the same; it gives up after a few boxes so that a lookup
    // that loads again fails this test instead of recursing without end.
    TempFolder folder;
    std::vector<juce::String> namesSeen;
    int boxes = 0;
    platform::setMessageBoxHandler([&](const std::string&, const std::string&) {
        if (++boxes > 4)
            return;
        auto& helper = TranslationHelper::getInstance();
        namesSeen.push_back(helper.getTranslation("Tovrak Upgrade Utility", helper.getSourceLanguage(),
                                                  helper.getTargetLanguage()));
    });
    ::setenv("LC_ALL", "zh_CN.UTF-8", 1);
    TranslationHelper::deleteInstance();
    auto& helper = TranslationHelper::getInstance();
    helper.setTableFile(folder.file("translations.csv"));
    EXPECT_FALSE(helper.selectLanguage(false));
    EXPECT_EQ(boxes, 1);
    // The first lookup after the selection loads once more (the second box), then stays quiet.
    EXPECT_EQ(helper.getTranslation("OK", helper.getSourceLanguage(), helper.getTargetLanguage()), "");
    EXPECT_EQ(helper.getTranslation("Exit", helper.getSourceLanguage(), helper.getTargetLanguage()), "");
    EXPECT_EQ(boxes, 2);
    EXPECT_EQ(namesSeen, (std::vector<juce::String> { "Tovrak Upgrade Utility", "Tovrak Upgrade Utility" }));
    ::unsetenv("LC_ALL");
    platform::setMessageBoxHandler({});
    TranslationHelper::deleteInstance();
}
