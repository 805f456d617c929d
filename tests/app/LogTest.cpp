#include "Log.h"
#include "ProgramEntry.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

using namespace testing_support;

namespace
{
const char* kSystemFormat = "datetime_level_func_log_source_line";
}

TEST(Log, InitWritesMarkerLineAndAppendsAcrossRestarts)
{
    TempFolder folder;
    const auto path = folder.file("app.log").getFullPathName().toStdString();
    {
        Log log;
        EXPECT_TRUE(log.init(path, kSystemFormat));
        log.write(Log::timestamp(), Log::Info, "First", "one", "a.cpp", 1);
    }
    {
        Log log;
        EXPECT_TRUE(log.init(path, kSystemFormat));
        log.write(Log::timestamp(), Log::Info, "Second", "two", "a.cpp", 2);
    }
    const auto lines = readLines(folder.file("app.log"));
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], "Log inited OK . ..............................................");
    EXPECT_TRUE(lines[1].contains("First() one"));
    EXPECT_EQ(lines[2], "Log inited OK . ..............................................");
    EXPECT_TRUE(lines[3].contains("Second() two"));
}

TEST(Log, SecondInitChangesNothing)
{
    TempFolder folder;
    Log log;
    ASSERT_TRUE(log.init(folder.file("a.log").getFullPathName().toStdString(), "level_func"));
    EXPECT_TRUE(log.init(folder.file("b.log").getFullPathName().toStdString(), kSystemFormat));
    log.write("ts", Log::Error, "F", "msg", "src.cpp", 7);
    EXPECT_FALSE(folder.file("b.log").exists());
    const auto lines = readLines(folder.file("a.log"));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[1], "ERROR F() ");
}

TEST(Log, FieldsFollowTheFormatPositions)
{
    Log log;
    TempFolder folder;
    ASSERT_TRUE(log.init(folder.file("x.log").getFullPathName().toStdString(), "line_log_level_level"));
    // A keyword given twice keeps its last position; unknown levels give an empty level field.
    EXPECT_EQ(log.formatLine("ts", Log::Debug, "f", "m", "s", 12), ":12m DEBUG ");
    EXPECT_EQ(log.formatLine("ts", 7, "f", "m", "s", 12), ":12m ");
    EXPECT_EQ(log.formatLine("ts", -1, "f", "m", "s", 3), ":3m ");
}

TEST(Log, BadFormatsRaiseWithTheFormatInTheMessage)
{
    for (const std::string format : { "datetime__level", "datetime_Level", "", "datetime_level_", "time" })
    {
        Log log;
        try
        {
            log.init("/nonexistent/never.log", format);
            ADD_FAILURE() << "no error for format '" << format << "'";
        }
        catch (const std::runtime_error& e)
        {
            EXPECT_EQ(std::string(e.what()), "not valid log format!" + format);
        }
        EXPECT_FALSE(log.isInited());
    }
}

TEST(Log, UnopenableFileIsNotAFailure)
{
    Log log;
    EXPECT_TRUE(log.init("/nonexistent-folder/x/y.log", kSystemFormat));
    log.write(Log::timestamp(), Log::Info, "F", "lost", "s", 1); // must not crash
}

TEST(Log, TimestampHasMicroseconds)
{
    const std::string stamp = Log::timestamp();
    EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{6})"))) << stamp;
}

// The version line of the program entry, parsed back field by field.
TEST(Log, VersionLineFromProgramEntryParsesBack)
{
    TempFolder folder;
    ScopedWorkingDirectory cwd(folder.get());
    ASSERT_TRUE(Log::instance().init("TovrakUpgrade.log.txt", kSystemFormat));
    logProgramVersion();

    const auto lines = readLines(folder.file("TovrakUpgrade.log.txt"));
    ASSERT_GE(lines.size(), 2);
    const std::string line = lines[lines.size() - 1].toStdString();
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, std::regex(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{6}) (INFOR) (WinMain)\(\) (.*) (\S+) :(\d+))")))
        << line;
    EXPECT_EQ(m[4].str(), "Current TovrakUpgrade version 2.0.1.51214");
    // __FILE__ may be relative to the build folder.
    const juce::File source = juce::File(TOVRAK_BUILD_DIR).getChildFile(m[5].str());
    EXPECT_EQ(source.getFileName(), "ProgramEntry.cpp");

    // The line number is the one of the statement in the source file.
    juce::StringArray sourceLines;
    sourceLines.addLines(source.loadFileAsString());
    const int lineNumber = std::stoi(m[6].str());
    ASSERT_GE(lineNumber, 1);
    EXPECT_TRUE(sourceLines[lineNumber - 1].contains("Current TovrakUpgrade version")) << sourceLines[lineNumber - 1];
}

TEST(Log, ConcurrentWritersProduceWholeLines)
{
    TempFolder folder;
    Log log;
    ASSERT_TRUE(log.init(folder.file("c.log").getFullPathName().toStdString(), kSystemFormat));
    const std::string payloadA(300, 'a');
    const std::string payloadB(300, 'b');
    constexpr int kLines = 2000;
    auto writer = [&](const std::string& payload, const char* name) {
        for (int i = 0; i < kLines; ++i)
            log.write(Log::timestamp(), Log::Info, name, payload, "s.cpp", i);
    };
    std::thread a(writer, payloadA, "A");
    std::thread b(writer, payloadB, "B");
    a.join();
    b.join();

    const auto lines = readLines(folder.file("c.log"));
    ASSERT_EQ(lines.size(), 1 + 2 * kLines);
    const std::regex whole(R"(\S+ \S+ INFOR (A\(\) a{300}|B\(\) b{300}) s\.cpp :\d+)");
    for (int i = 1; i < lines.size(); ++i)
        ASSERT_TRUE(std::regex_match(lines[i].toStdString(), whole)) << "line " << i << ": " << lines[i];
}
