// Text helpers: terminal widths with Chinese texts, aligned columns, the progress bar and the
// window's summary line.
#include "CliText.h"
#include "TranslationHelper.h"

#include <gtest/gtest.h>

TEST(CliText, WidthsColumnsAndBars)
{
    EXPECT_EQ(displayWidth("Writing"), 7);
    EXPECT_EQ(displayWidth(juce::String::fromUTF8("可以升级")), 8) << "wide characters take two columns";
    EXPECT_EQ(displayWidth(juce::String::fromUTF8("e\xcc\x81")), 1) << "a combining mark takes none";
    EXPECT_EQ(displayWidth(""), 0);
    EXPECT_EQ(padToWidth(juce::String::fromUTF8("升级"), 6), juce::String::fromUTF8("升级  "));
    EXPECT_EQ(padToWidth("toolong", 3), "toolong");

    const std::string table = formatColumns({ { "Name", "S", "" }, { juce::String::fromUTF8("设备"), "Serial", "x" } });
    EXPECT_EQ(table, "Name  S\n" + juce::String::fromUTF8("设备").toStdString() + "  Serial  x\n")
        << "columns as wide as their widest cell; no trailing spaces";

    EXPECT_EQ(progressBar(0, 10), "[..........]");
    EXPECT_EQ(progressBar(45, 10), "[#####.....]");
    EXPECT_EQ(progressBar(100, 10), "[##########]");
    EXPECT_EQ(progressBar(-1, 4), "[....]");
    EXPECT_EQ(progressBar(250, 4), "[####]");
}

TEST(CliText, SummaryLineIsTheWindowsInEitherLanguage)
{
    TranslationHelper::deleteInstance();
    EXPECT_EQ(summaryLine(4, 2, 1), "Found 4 device(s), of which 2 can be upgraded and 1 can be downgraded.");
    EXPECT_EQ(summaryLine(12, 0, -3), "Found 12 device(s), of which 0 can be upgraded and -3 can be downgraded.");

    auto& helper = TranslationHelper::getInstance();
    helper.setTableFile(juce::File(TOVRAK_SOURCE_DIR "/resources/translations.csv"));
    helper.enableFor("chinese");
    EXPECT_EQ(summaryLine(4, 2, 1), juce::String::fromUTF8("找到 4 台设备，其中 2 台可以升级，1 台可以降级。"));
    TranslationHelper::deleteInstance();
}
