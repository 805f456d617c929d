#include "CliSession.h"

#include "FirmwareFileManager.h"
#include "Log.h"
#include "SingleInstanceGuard.h"
#include "StringResources.h"
#include "TranslationHelper.h"

#include <ostream>

namespace
{
const char* const kTableName = "translations.csv";

juce::File programFolderOf(const CliIo& io)
{
    if (io.programFolder != juce::File())
        return io.programFolder;
    // The file the process runs (on Linux the target of /proc/self/exe): started by name through
    // a link on the PATH (/usr/bin/tovrak-cli), the executable's own idea of its path is only
    // that name, and its folder would be taken for the working folder.
    return juce::File::getSpecialLocation(juce::File::hostApplicationPath).getParentDirectory();
}
} // namespace

CliSession::CliSession(CliIo& io) : m_io(io)
{
}

CliSession::~CliSession()
{
    if (m_bDevicesStarted)
    {
        CTovrakDevice::Uninit();
        g_firmwareFileMgr.clearImages();
    }
    m_pGuard.reset(); // releases the named object
}

juce::File CliSession::ProgramFolder() const
{
    return programFolderOf(m_io);
}

void CliSession::UseTranslationTable()
{
    // The window reads the table from its working folder only. A command typed in any folder
    // also finds the table installed beside the program (or in the package's shared data
    // folder), so that it does not complain in every folder it runs in.
    const juce::File working = juce::File::getCurrentWorkingDirectory().getChildFile(kTableName);
    juce::File chosen = working;
    if (!working.existsAsFile())
    {
        const juce::File program = programFolderOf(m_io);
        for (const juce::File& candidate :
             { program.getChildFile(kTableName), program.getChildFile("../../share/tovrak-upgrade").getChildFile(kTableName) })
            if (candidate.existsAsFile())
            {
                chosen = candidate;
                break;
            }
    }
    TranslationHelper::getInstance().setTableFile(chosen);
}

size_t CliSession::SettleDevices()
{
    const auto problems = CTovrakDevice::SettleSetUps(std::chrono::milliseconds(1000));
    for (const auto& problem : problems)
    {
        KS_LOG_ERROR("CliSession::SettleDevices", "the device at " << problem.path << " could not be read: " << problem.reason);
        m_io.err << "Could not read the device at " << problem.path << ": " << problem.reason << std::endl;
    }
    CTovrakDevice::Refresh();
    return problems.size();
}

int CliSession::Open()
{
    // As in the window: the guard's name is taken before a language is chosen, so it is always
    // the English one, and so is a refusal.
    m_pGuard = std::make_unique<SingleInstanceGuard>(getTranslatedString(StringId::InstanceName).toStdString());
    const int result = m_pGuard->check();
    if (result != 0)
    {
        KS_LOG_INFO("CliSession::Open", "single instance check result " << result << ", the command ends");
        const int textId = StringId::InstanceName + (result >= 1 && result <= 3 ? result : 3);
        m_io.err << getTranslatedString(textId).toStdString() << std::endl;
        m_pGuard.reset();
        return CliExit::AnotherInstance;
    }

    UseTranslationTable();
    TranslationHelper::getInstance().selectLanguage(false); // the terminal draws the texts

    g_firmwareFileMgr.clearImages();
    g_firmwareFileMgr.loadFirmwareFiles(programFolderOf(m_io), juce::File::getCurrentWorkingDirectory());
    KS_LOG_INFO("CliSession::Open", g_firmwareFileMgr.images().size() << " firmware images loaded");

    m_bDevicesStarted = true;
    CTovrakDevice::Init(this);
    return CliExit::Ok;
}
