#include "CliTestSupport.h"

#include "FirmwareFileManager.h"
#include "Platform.h"
#include "TranslationHelper.h"

#include <cstdlib>
#include <sstream>

namespace cli_testing
{
void setEnvironment(const char* name, const juce::String& value)
{
#ifdef _WIN32
    _putenv_s(name, value.toRawUTF8());
#else
    ::setenv(name, value.toRawUTF8(), 1);
#endif
}

void usePrivateInstanceScope()
{
    static const juce::String scope = "tovrak-cli-test-" + juce::String(juce::Time::currentTimeMillis()) + "-"
                                      + juce::String(juce::Random::getSystemRandom().nextInt64());
    setEnvironment(platform::kInstanceScopeVariable, scope);
}

void CliTest::SetUp()
{
    usePrivateInstanceScope();
    EmulatorTest::SetUp();
    m_folder = std::make_unique<testing_support::TempFolder>();
    juce::File(TOVRAK_SOURCE_DIR "/resources/translations.csv").copyFileTo(m_folder->file("translations.csv"));
    m_folder->file("program").createDirectory();
    m_cwd = std::make_unique<testing_support::ScopedWorkingDirectory>(m_folder->get());
    platform::setMessageBoxHandler([this](const std::string& title, const std::string& text) {
        m_messageBoxes.push_back(title + ": " + text);
    });
}

void CliTest::TearDown()
{
    platform::setMessageBoxHandler({});
    m_cwd.reset();
    m_folder.reset();
    g_firmwareFileMgr.clearImages();
    TranslationHelper::deleteInstance();
    EmulatorTest::TearDown();
}

CliResult CliTest::run(const std::vector<std::string>& args, const std::string& input, bool terminal,
                       const std::atomic<bool>* interrupted,
                      const std::atomic<int>* interruptCount)
{
    std::ostringstream out;
    std::ostringstream err;
    std::istringstream in(input);
    CliIo io(out, err, in);
    io.outputIsTerminal = terminal;
    io.interrupted = interrupted;
    io.interruptCount = interruptCount;
    io.programFolder = m_folder->file("program");
    io.pollMilliseconds = 50;
    CliResult result;
    result.exitCode = runCli(args, io);
    result.out = out.str();
    result.err = err.str();
    return result;
}

std::shared_ptr<EmulatedDevice> CliTest::plug(const std::string& serial, uint32_t running,
                                              const std::function<void(EmulatedDeviceConfig&)>& tweak)
{
    TovrakIdentity id;
    id.serialNumber = serial;
    id.name = "Tovrak " + serial;
    id.productCode = 100;
    id.runningFirmwareVersion = running;
    EmulatedDeviceConfig config = makeTovrakDeviceConfig(id);
    if (tweak)
        tweak(config);
    return m_bus->add(std::move(config));
}

void CliTest::firmwareFile(uint8_t major, uint8_t minor, uint16_t build)
{
    testing_support::ImageSpec spec;
    spec.productCode = 100;
    spec.revision = 'A';
    spec.variant = 0;
    spec.version = (uint32_t(major) << 16) | minor;
    spec.compatibilityCode = 7; // a device whose installed header carries 7 gets a safe upgrade
    spec.sections = { { "App", 0x40000, testing_support::patternBytes(6000, build) } };
    testing_support::writeImageFile(m_folder->file("tovrak_" + juce::String(build) + ".ksf"), testing_support::makeImage(spec));
}

void refuseErase(EmulatedDeviceConfig& config)
{
    config.failReports.push_back({ 0xF1, ReportDirection::Output, 1, 0 });
}

void slow(EmulatedDeviceConfig& config)
{
    config.latency = std::chrono::microseconds(300);
}

juce::var parseJson(const std::string& text)
{
    juce::var value;
    if (juce::JSON::parse(juce::String::fromUTF8(text.c_str()), value).failed())
        return {};
    return value;
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
    {
        // A Windows program's text-mode output ends its lines with CR LF.
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}
} // namespace cli_testing

void cli_testing::copyDemoFirmware(const juce::File& folder)
{
    for (const auto& file : juce::File(DEMO_FIRMWARE_DIR).findChildFiles(juce::File::findFiles, false, "*.ksf"))
        file.copyFileTo(folder.getChildFile(file.getFileName()));
}
