#include "StationRecord.h"

#include "FirmwareFileManager.h"
#include "FirmwareVersion.h"
#include "Log.h"
#include "Sha256.h"

#include <algorithm>
#include <cstring>

namespace
{
// Larger files are not firmware files of these devices; they are not read into memory.
constexpr juce::int64 kMaxImageFileBytes = 64 * 1024 * 1024;

bool sameImage(const FirmwareImage& a, const FirmwareImage& b)
{
    return a.fileBuildNumber == b.fileBuildNumber
        && std::memcmp(a.header.data(), b.header.data(), FirmwareHeader::kCapacity) == 0 && a.sections == b.sections;
}
} // namespace

juce::var toJson(const StationRecordEntry& entry)
{
    auto* object = new juce::DynamicObject();
    object->setProperty("time", entry.time);
    object->setProperty("serialNumber", entry.serialNumber);
    object->setProperty("name", entry.name);
    object->setProperty("productCode", entry.productCode);
    object->setProperty("revision", entry.revision);
    object->setProperty("installedVersion", entry.installedVersion);
    object->setProperty("imageVersion", entry.imageVersion);
    object->setProperty("imageFile", entry.imageFile);
    object->setProperty("imageSha256", entry.imageSha256);
    object->setProperty("imageSignature", entry.imageSignature);
    object->setProperty("imageSignatureKeyId", entry.imageSignatureKeyId);
    object->setProperty("result", entry.result);
    object->setProperty("statusText", entry.statusText);
    object->setProperty("attempts", entry.attempts);
    object->setProperty("durationMs", entry.durationMs);
    return juce::var(object);
}

bool StationRecord::Open(const juce::File& file, juce::String& error)
{
    m_file = file;
    m_stream.reset();
    if (file.isDirectory())
    {
        error = "it is a folder";
        return false;
    }
    bool endsWithLineEnd = true;
    if (file.getSize() > 0)
    {
        juce::FileInputStream in(file);
        if (!in.openedOk())
        {
            error = in.getStatus().getErrorMessage();
            return false;
        }
        in.setPosition(file.getSize() - 1);
        endsWithLineEnd = in.readByte() == '\n';
    }
    auto stream = std::make_unique<juce::FileOutputStream>(file);
    if (!stream->openedOk())
    {
        error = stream->getStatus().getErrorMessage();
        if (error.isEmpty())
            error = "it cannot be opened for writing";
        return false;
    }
    if (!endsWithLineEnd)
    {
        stream->writeByte('\n');
        stream->flush();
        if (stream->getStatus().failed())
        {
            error = stream->getStatus().getErrorMessage();
            return false;
        }
    }
    m_stream = std::move(stream);
    return true;
}

bool StationRecord::Append(const StationRecordEntry& entry)
{
    if (m_stream == nullptr)
        return false;
    const std::string line = juce::JSON::toString(toJson(entry), true).toStdString() + "\n";
    const bool written = m_stream->write(line.data(), line.size());
    m_stream->flush(); // and to the disk
    if (written && m_stream->getStatus().wasOk())
        return true;
    KS_LOG_ERROR("StationRecord::Append", "cannot write to " << m_file.getFullPathName().toStdString() << ": "
                                                             << m_stream->getStatus().getErrorMessage().toStdString());
    return false;
}

std::map<const FirmwareImage*, ImageFileInfo> indexImageFiles(const FirmwareFileManager& images,
                                                              const juce::File& programFolder,
                                                              const juce::File& workingFolder)
{
    std::map<const FirmwareImage*, ImageFileInfo> index;
    for (const juce::File& folder : { programFolder, workingFolder })
    {
        if (!folder.isDirectory() || index.size() == images.images().size())
            continue;
        for (const auto& entry : juce::RangedDirectoryIterator(folder, false, "*", juce::File::findFiles))
        {
            const juce::File file = entry.getFile();
            if (!file.getFileExtension().equalsIgnoreCase(".ksf") || file.getSize() > kMaxImageFileBytes)
                continue;
            juce::MemoryBlock bytes;
            if (!file.loadFileAsData(bytes))
                continue;
            juce::MemoryInputStream stream(bytes, false);
            FirmwareImage read;
            if (!readFirmwareImage(stream, read))
                continue;
            read.fileBuildNumber = parseFileBuildNumber(file.getFileNameWithoutExtension().toStdString());
            for (const FirmwareImage& image : images.images())
                if (index.count(&image) == 0 && sameImage(image, read))
                {
                    index[&image] = { file.getFileName(),
                                      Sha256::hex(static_cast<const uint8_t*>(bytes.getData()), bytes.getSize()) };
                    KS_LOG_INFO("indexImageFiles", file.getFullPathName().toStdString() << " sha256 "
                                                                                       << index[&image].sha256.toStdString());
                }
        }
    }
    return index;
}
