#include "Log.h"
#include "StringResources.h"
#include "TestSupport.h"
#include "TranslationHelper.h"

#include <gtest/gtest.h>

using namespace testing_support;

TEST(StringResources, TableHoldsIds0To49WithExactTexts)
{
    ASSERT_EQ(g_arrStringResourcesMap.size(), 50u);
    EXPECT_EQ(g_arrStringResourcesMap.begin()->first, 0);
    EXPECT_EQ(g_arrStringResourcesMap.rbegin()->first, 49);
    EXPECT_EQ(getStringFromBinaryData(18), " ");
    EXPECT_EQ(getStringFromBinaryData(6), "Failed to open the device. ");
    EXPECT_EQ(getStringFromBinaryData(40), "Found %1 device(s), of which %2 can be upgraded and %3 can be downgraded.");
    EXPECT_EQ(getStringFromBinaryData(StringId::InstanceName + 1), "Another Tovrak Utility is already running.");
    EXPECT_EQ(getStringFromBinaryData(StringId::InstanceName + 3), "Unknown error.");
}

TEST(StringResources, MissingIdLogsThenThrows)
{
    TempFolder folder;
    ScopedWorkingDirectory cwd(folder.get());
    Log::instance().init("strings.log", "level_func_log");
    EXPECT_THROW(getStringFromBinaryData(50), std::out_of_range);
    const auto lines = readLines(folder.file("strings.log"));
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[lines.size() - 1],
              "ERROR getStringFromBinaryData() can not find resource id 50 from g_arrStringResourcesMap. ");
}

// The shipped table translates every text of the string table.
TEST(StringResources, ShippedTranslationsCoverEveryText)
{
    juce::StringPairArray pairs;
    const auto text = juce::File(TOVRAK_SOURCE_DIR "/resources/translations.csv").loadFileAsString();
    ASSERT_TRUE(parseTranslationTable(text, "english", "chinese", '~', pairs));
    for (const auto& [id, english] : g_arrStringResourcesMap)
    {
        const auto value = pairs.getValue(juce::String::fromUTF8(english.c_str()), {});
        EXPECT_TRUE(value.isNotEmpty()) << "id " << id << " \"" << english << "\" has no translation";
    }
    EXPECT_EQ(pairs.size(), 50);
}
