// Signed firmware files: signatures made by the real minisign tool (with the demo key pair of
// resources/keys), tampered with in the ways a file can be, and judged three times: by
// `minisign -V`, by the program trusting the demo key, and by the program trusting no key.
#include "CliTestSupport.h"
#include "FirmwareFileManager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

using namespace cli_testing;

namespace
{
const juce::File kDemoSecretKey(TOVRAK_SOURCE_DIR "/resources/keys/demo-firmware.key");
const juce::File kDemoPublicKey(TOVRAK_SOURCE_DIR "/resources/keys/demo-firmware.pub");

// Runs a program to its end; its exit code, or -1 when it cannot be started.
int runTool(const juce::StringArray& args)
{
    juce::ChildProcess process;
    if (!process.start(args))
        return -1;
    process.readAllProcessOutput();
    if (!process.waitForProcessToFinish(60000))
        return -1;
    return static_cast<int>(process.getExitCode());
}

// minisign, or the program that TOVRAK_MINISIGN names (under Wine: the Linux tool by its
// Windows path). It runs in the test's working folder and is given only names relative to it,
// which mean the same file to a Windows test and to a Linux tool.
juce::String minisign()
{
    const char* named = std::getenv("TOVRAK_MINISIGN");
    return named != nullptr && *named != 0 ? juce::String(named) : juce::String("minisign");
}

bool minisignAvailable()
{
    static const bool available = runTool({ minisign(), "-v" }) == 0;
    return available;
}

void minisignSign(const juce::String& file, const juce::String& secretKey, bool legacy = false)
{
    juce::StringArray args { minisign(), "-S", "-q", "-s", secretKey, "-m", file };
    if (legacy)
        args.add("-l");
    ASSERT_EQ(runTool(args), 0) << "minisign -S " << file;
}

bool minisignAccepts(const juce::String& file)
{
    return runTool({ minisign(), "-V", "-q", "-p", "demo-firmware.pub", "-m", file }) == 0;
}

// The image the device below can take: product code 100, version 1.3 (split reading), build 9
// from the name; `seed` varies its data. The file ends with 16 bytes after its last section,
// which the reader ignores and the signature covers.
std::vector<uint8_t> imageBytes(uint32_t seed)
{
    testing_support::ImageSpec spec;
    spec.productCode = 100;
    spec.revision = 'A';
    spec.version = (1u << 16) | 3u;
    spec.sections = { { "App", 0x40000, testing_support::patternBytes(6000, seed) } };
    std::vector<uint8_t> bytes = testing_support::imageFileBytes(testing_support::makeImage(spec));
    bytes.insert(bytes.end(), 16, 0);
    return bytes;
}

void replaceLine(const juce::File& file, int index, const std::function<juce::String(juce::String)>& change)
{
    juce::StringArray lines = juce::StringArray::fromLines(file.loadFileAsString().trimEnd());
    lines.set(index, change(lines[index]));
    file.replaceWithText(lines.joinIntoString("\n") + "\n");
}

juce::String withCharacter(const juce::String& text, int index, juce::juce_wchar c)
{
    return text.substring(0, index) + juce::String::charToString(c) + text.substring(index + 1);
}

struct SignatureCase
{
    const char* name;
    // Writes image (tovrak_9.ksf) and, as the case wants, its signature file into the folder.
    std::function<void(const juce::File& image, const juce::File& folder)> make;
    const char* withDemoKey; // state reported with the demo key trusted; loads only when "valid"
    const char* withoutKeys; // state reported with no trusted key; the image always loads
};

class CliSignature : public CliTest
{
protected:
    void TearDown() override
    {
        g_firmwareFileMgr.setTrustedKeys(TrustedKeys::ofBuild());
        CliTest::TearDown();
    }
};
} // namespace

TEST_F(CliSignature, MinisignAndTheProgramAgreeOnEveryTamperedFile)
{
    if (!minisignAvailable())
        GTEST_SKIP() << "minisign cannot be run (scripts/bootstrap installs it; TOVRAK_MINISIGN names it)";
    TrustedKeys demoKey;
    // The second line of minisign's .pub file is the key.
    ASSERT_TRUE(TrustedKeys::fromText(juce::StringArray::fromLines(kDemoPublicKey.loadFileAsString())[1].toStdString(),
                                      demoKey));
    ASSERT_EQ(demoKey.keyIds(), std::vector<std::string> { "58C0F75AFCB2161E" }); // as minisign -G printed it

    kDemoSecretKey.copyFileTo(m_folder->file("demo-firmware.key"));
    kDemoPublicKey.copyFileTo(m_folder->file("demo-firmware.pub"));
    const auto signedImage = [](const juce::File& image, const juce::File&) {
        testing_support::writeBytes(image, imageBytes(9));
        minisignSign(image.getFileName(), "demo-firmware.key");
    };
    const auto signature = [](const juce::File& image) { return image.getSiblingFile(image.getFileName() + ".minisig"); };

    const SignatureCase cases[] = {
        { "signed", signedImage, "valid", "unchecked" },
        { "signed, legacy signature",
          [](const juce::File& image, const juce::File&) {
              testing_support::writeBytes(image, imageBytes(9));
              minisignSign(image.getFileName(), "demo-firmware.key", true);
          },
          "valid", "unchecked" },
        { "one byte changed after the last section",
          [&](const juce::File& image, const juce::File& folder) {
              signedImage(image, folder);
              auto bytes = testing_support::readBytes(image);
              bytes.back() ^= 0x01;
              testing_support::writeBytes(image, bytes);
          },
          "bad-signature", "unchecked" },
        { "one data byte changed, checksums made to fit",
          [&](const juce::File& image, const juce::File& folder) {
              signedImage(image, folder);
              testing_support::writeBytes(image, imageBytes(10));
          },
          "bad-signature", "unchecked" },
        { "the signature of another image",
          [&](const juce::File& image, const juce::File& folder) {
              const juce::File other = folder.getChildFile("other/tovrak_9.ksf");
              other.getParentDirectory().createDirectory();
              testing_support::writeBytes(other, imageBytes(11));
              minisignSign("other/tovrak_9.ksf", "demo-firmware.key");
              testing_support::writeBytes(image, imageBytes(9));
              signature(other).copyFileTo(signature(image));
          },
          "bad-signature", "unchecked" },
        { "truncated signature file",
          [&](const juce::File& image, const juce::File& folder) {
              signedImage(image, folder);
              auto bytes = testing_support::readBytes(signature(image));
              bytes.resize(bytes.size() / 2);
              testing_support::writeBytes(signature(image), bytes);
          },
          "malformed", "malformed" },
        { "signature line not base64",
          [&](const juce::File& image, const juce::File& folder) {
              signedImage(image, folder);
              replaceLine(signature(image), 1, [](juce::String line) { return withCharacter(line, 60, '*'); });
          },
          "malformed", "malformed" },
        { "signature bytes changed",
          [&](const juce::File& image, const juce::File& folder) {
              signedImage(image, folder);
              replaceLine(signature(image), 1,
                          [](juce::String line) { return withCharacter(line, 60, line[60] == 'A' ? 'B' : 'A'); });
          },
          "bad-signature", "unchecked" },
        { "trusted comment changed",
          [&](const juce::File& image, const juce::File& folder) {
              signedImage(image, folder);
              replaceLine(signature(image), 2, [](juce::String line) { return line + " (approved)"; });
          },
          "bad-comment", "unchecked" },
        { "signed by an unknown key",
          [](const juce::File& image, const juce::File& folder) {
              folder.getChildFile("other.key").deleteFile();
              folder.getChildFile("other.pub").deleteFile();
              ASSERT_EQ(runTool({ minisign(), "-G", "-W", "-p", "other.pub", "-s", "other.key" }), 0);
              testing_support::writeBytes(image, imageBytes(9));
              minisignSign(image.getFileName(), "other.key");
          },
          "unknown-key", "unchecked" },
        { "no signature", [](const juce::File& image, const juce::File&) { testing_support::writeBytes(image, imageBytes(9)); },
          "unsigned", "unsigned" },
    };

    plug("T1"); // runs 1.2.0: the image (1.3.9) is an upgrade for it
    for (const SignatureCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        const juce::File image = m_folder->file("tovrak_9.ksf");
        image.deleteFile();
        signature(image).deleteFile();
        c.make(image, m_folder->get());
        const bool valid = std::string(c.withDemoKey) == "valid";
        EXPECT_EQ(minisignAccepts(image.getFileName()), valid) << "minisign -V disagrees";

        for (const bool trusted : { true, false })
        {
            SCOPED_TRACE(trusted ? "demo key trusted" : "no trusted key");
            g_firmwareFileMgr.setTrustedKeys(trusted ? demoKey : TrustedKeys());
            const char* state = trusted ? c.withDemoKey : c.withoutKeys;
            const bool loads = !trusted || valid;
            device_testing::LogCapture log;
            const CliResult r = run({ "list", "--json" });
            const juce::var device = parseJson(r.out)["devices"][0];
            EXPECT_EQ(device["availableVersion"].toString(), loads ? "1.3.9" : "") << r.out;
            EXPECT_EQ(device["imageSignature"].toString(), loads ? state : "") << r.out;
            EXPECT_EQ(device["imageSignatureKeyId"].toString().isNotEmpty(),
                      loads && std::string(state) != "unsigned" && std::string(state) != "malformed")
                << r.out;

            // One log line names the file and what its check found; none for an unsigned file
            // when no key is trusted, which loads as it always did.
            size_t lines = 0;
            for (const std::string& line : log.lines())
                if (line.find(image.getFullPathName().toStdString()) != std::string::npos
                    && line.find(std::string("signature ") + state) != std::string::npos)
                    ++lines;
            EXPECT_EQ(lines, trusted || std::string(state) != "unsigned" ? 1u : 0u);
        }
    }

    // A signed image with its key trusted is upgraded, and the text output says it is signed.
    signedImage(m_folder->file("tovrak_9.ksf"), m_folder->get());
    g_firmwareFileMgr.setTrustedKeys(demoKey);
    const auto list = linesOf(run({ "list" }).out);
    ASSERT_GE(list.size(), 2u);
    EXPECT_NE(list[1].find("1.3.9 signed"), std::string::npos) << list[1];
    const CliResult upgrade = run({ "upgrade", "--all", "--yes" });
    EXPECT_EQ(upgrade.exitCode, CliExit::Ok) << upgrade.out << upgrade.err;
    EXPECT_NE(upgrade.out.find("1 verified, 0 failed."), std::string::npos) << upgrade.out;
}
