// Command line parsing: what forms a command, what is refused, and how refusals end the tool.
#include "CliOptions.h"
#include "CliTestSupport.h"

#include <gtest/gtest.h>

using namespace cli_testing;

namespace
{
bool parses(const std::vector<std::string>& args, CliOptions* result = nullptr)
{
    CliOptions options;
    std::string error;
    const bool ok = parseCliOptions(args, options, error);
    EXPECT_EQ(ok, error.empty()) << "a refusal always says why";
    if (result != nullptr)
        *result = options;
    return ok;
}
} // namespace

TEST(CliOptions, CommandsAndTheirOptions)
{
    CliOptions o;
    ASSERT_TRUE(parses({ "list" }, &o));
    EXPECT_EQ(o.command, CliOptions::Command::List);
    EXPECT_FALSE(o.json);

    ASSERT_TRUE(parses({ "list", "--json" }, &o));
    EXPECT_TRUE(o.json);

    ASSERT_TRUE(parses({ "upgrade", "--all", "--allow-downgrade", "--yes", "--json" }, &o));
    EXPECT_EQ(o.command, CliOptions::Command::Upgrade);
    EXPECT_TRUE(o.all && o.allowDowngrade && o.yes && o.json);

    ASSERT_TRUE(parses({ "upgrade", "--serial", "B", "--serial", "A", "--serial", "B", "-y" }, &o));
    EXPECT_EQ(o.serialNumbers, (std::vector<std::string> { "B", "A" })) << "order kept, repeats dropped";
    EXPECT_FALSE(o.all);
    EXPECT_TRUE(o.yes);

    ASSERT_TRUE(parses({ "watch", "--seconds", "3", "--json", "--folder", "/tmp" }, &o));
    EXPECT_EQ(o.command, CliOptions::Command::Watch);
    EXPECT_EQ(o.seconds, 3);
    EXPECT_EQ(o.folder, "/tmp");

    ASSERT_TRUE(parses({ "upgrade", "--help" }, &o)) << "help wins over missing options";
    EXPECT_EQ(o.command, CliOptions::Command::Help);
    ASSERT_TRUE(parses({ "--help" }, &o));
    EXPECT_EQ(o.command, CliOptions::Command::Help);
    ASSERT_TRUE(parses({ "--version" }, &o));
    EXPECT_EQ(o.command, CliOptions::Command::Version);
}

TEST(CliOptions, RefusedCommandLines)
{
    const std::vector<std::vector<std::string>> refused = {
        {},
        { "lsit" },
        { "list", "--all" },                       // upgrade's options belong to upgrade
        { "list", "--yes" },
        { "watch", "--serial", "A" },
        { "upgrade" },                             // neither --all nor --serial
        { "upgrade", "--yes" },
        { "upgrade", "--all", "--serial", "A" },   // both
        { "upgrade", "--serial" },                 // no value
        { "upgrade", "--serial", "" },
        { "upgrade", "--serial", "--all" },        // an option is not a serial number
        { "upgrade", "--serial", std::string(65, 'S') },
        { "upgrade", "--all", "extra" },
        { "watch", "--seconds" },
        { "watch", "--seconds", "-1" },
        { "watch", "--seconds", "1.5" },
        { "watch", "--seconds", "99999999999999999999" },
        { "list", "--folder" },
        { "--help", "list" },
        { "--version", "--json" },
    };
    for (const auto& args : refused)
    {
        std::string joined;
        for (const auto& a : args)
            joined += "'" + a + "' ";
        EXPECT_FALSE(parses(args)) << joined;
    }
}

class CliUsage : public CliTest
{
};

TEST_F(CliUsage, BadUsageExitsWithFourAndTheUsageOnTheErrorStreamOnly)
{
    plug("T100");
    for (const std::vector<std::string>& args : { std::vector<std::string> { "upgrade" },
                                                  std::vector<std::string> { "frobnicate" },
                                                  std::vector<std::string> { "list", "--folder", "no/such/folder" } })
    {
        const CliResult r = run(args);
        EXPECT_EQ(r.exitCode, CliExit::BadUsage);
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_NE(r.err.find("tovrak-cli: "), std::string::npos) << r.err;
    }
    EXPECT_NE(run({ "upgrade" }).err.find("Usage:"), std::string::npos);

    const CliResult help = run({ "--help" });
    EXPECT_EQ(help.exitCode, CliExit::Ok);
    EXPECT_NE(help.out.find("tovrak-cli upgrade (--all | --serial SN"), std::string::npos);
    EXPECT_TRUE(help.err.empty());
}
