// ksftool: looks inside firmware image files and builds new ones.
//
//   ksftool inspect FILE   (also checks FILE.minisig against the keys the tool was built with;
//                           signatures are made with minisign: minisign -S -m FILE)
//   ksftool pack -o OUT [options] [--description FILE]
//
// pack options (also accepted one per line, without the dashes, in a description file):
//   --product-code N      --revision LETTER     --variant N      --compat N
//   --version M.m.b       packed reading (major bits 24-31, minor 16-23, build 0-15)
//   --split-version M.m   split reading (major bits 16-23, minor bits 0-7; the build comes from the file name)
//   --raw-version N       the 32-bit field as it is
//   --section NAME=ADDRESS:FILE            data from a file
//   --section NAME=ADDRESS:pattern:SIZE    SIZE bytes of a fixed, address-dependent pattern
// Numbers are decimal or 0x-prefixed hex.
#include "FirmwareImage.h"
#include "FirmwareVersion.h"
#include "SignatureReport.h"

#include <juce_core/juce_core.h>

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace
{
constexpr juce::int64 kMaxInputBytes = 512LL * 1024 * 1024;

int usage(std::ostream& out = std::cerr)
{
    out << "usage: ksftool inspect FILE\n"
                 "       ksftool pack -o OUT [--description FILE] [--product-code N] [--revision LETTER]\n"
                 "                    [--variant N] [--compat N] [--version M.m.b | --split-version M.m | --raw-version N]\n"
                 "                    [--section NAME=ADDRESS:FILE | --section NAME=ADDRESS:pattern:SIZE]...\n";
    return 2;
}

// Decimal, or hexadecimal after "0x" / "0X"; nothing else (no octal, signs or spaces), so that
// "0100" is one hundred.
std::optional<uint64_t> parseNumber(const std::string& text, uint64_t max)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty())
        return std::nullopt;
    const uint64_t radix = hex ? 16 : 10;
    uint64_t value = 0;
    for (const char c : digits)
    {
        uint64_t digit = 0;
        if (c >= '0' && c <= '9')
            digit = uint64_t(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = uint64_t(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = uint64_t(c - 'A' + 10);
        else
            return std::nullopt;
        if (value > (max - digit) / radix)
            return std::nullopt; // above max (checked before it could overflow)
        value = value * radix + digit;
    }
    return value;
}

std::string hex32(uint32_t v)
{
    char buffer[16];
    std::snprintf(buffer, sizeof(buffer), "0x%08X", v);
    return buffer;
}

const char* className(FirmwareSectionEntry::Kind kind)
{
    switch (kind)
    {
        case FirmwareSectionEntry::Kind::Skipped: return "Upgrade. (not written)";
        case FirmwareSectionEntry::Kind::Clear: return "CLR (erased, checked blank)";
        case FirmwareSectionEntry::Kind::Ordinary: return "ordinary (erased, written, verified)";
    }
    return "?";
}

int inspect(const juce::File& file)
{
    juce::FileInputStream stream(file);
    FirmwareImage image;
    FirmwareReadError why = FirmwareReadError::None;
    std::cout << "file:               " << file.getFullPathName() << "\n";
    if (!readFirmwareImage(stream, image, &why))
    {
        std::cout << "INVALID: " << describe(why) << "\n";
        return 1;
    }
    image.fileBuildNumber = parseFileBuildNumber(file.getFileNameWithoutExtension().toStdString());
    const auto& h = image.header;
    int failed = 0;
    const bool valid = verifyFirmwareImage(image, &failed);
    const bool headerOk = h.computeHeaderChecksum() == h.headerChecksum();

    std::cout << "magic:              KSFH\n"
              << "header checksum:    " << hex32(h.headerChecksum()) << (headerOk ? " (OK)" : " (MISMATCH, computed " + hex32(h.computeHeaderChecksum()) + ")") << "\n"
              << "header size:        " << h.headerSize() << "\n"
              << "product code:       " << h.productCode() << "\n"
              << "hardware revision:  '" << (h.hardwareRevision() >= 32 && h.hardwareRevision() < 127 ? char(h.hardwareRevision()) : '?')
              << "' (" << int(h.hardwareRevision()) << ")\n"
              << "product variant:    " << int(h.productVariant()) << "\n"
              << "compatibility code: " << h.compatibilityCode() << (h.compatibilityCode() == 1 ? " (never safe)" : "") << "\n"
              << "firmware version:   " << hex32(h.firmwareVersion()) << "\n"
              << "  packed reading:   " << readPackedVersion(h.firmwareVersion()).toString() << "  (product codes 533, 534)\n"
              << "  split reading:    " << readSplitVersion(h.firmwareVersion(), image.fileBuildNumber).toString() << "  (other product codes)\n"
              << "file build number:  " << image.fileBuildNumber << "\n"
              << "sections:           " << int(h.sectionCount()) << (h.headerSize() > 256 ? "  (header over 256 bytes: cannot be written to a device)" : "") << "\n";
    for (size_t i = 0; i < h.sectionCount(); ++i)
    {
        const auto entry = h.section(i);
        const uint32_t sum = le::byteSum(image.sections[i].data(), image.sections[i].size());
        std::cout << "  [" << i << "] \"" << entry.name << "\" address " << hex32(entry.flashAddress) << " length "
                  << entry.length << " checksum " << hex32(entry.checksum)
                  << (sum == entry.checksum ? " (OK)" : " (MISMATCH, computed " + hex32(sum) + ")") << "  "
                  << className(entry.kind()) << "\n";
    }
    const bool signatureAccepted = reportSignature(file, std::cout);
    if (!valid)
    {
        // Checksums first; a file whose checksums hold is invalid for its layout.
        const bool checksumsHold = headerOk && [&] {
            for (size_t i = 0; i < h.sectionCount(); ++i)
                if (le::byteSum(image.sections[i].data(), image.sections[i].size()) != h.section(i).checksum)
                    return false;
            return true;
        }();
        std::cout << "INVALID: " << (checksumsHold ? findLayoutProblem(h)
                                     : failed < 0  ? std::string("header checksum mismatch")
                                                   : "checksum mismatch in section " + std::to_string(failed))
                  << "\n";
        return 1;
    }
    if (!signatureAccepted)
    {
        std::cout << "INVALID: no valid signature by a trusted key\n";
        return 1;
    }
    std::cout << "valid\n";
    return 0;
}

struct PackOptions
{
    juce::File output;
    FirmwareImage image;
    std::vector<std::string> errors;
};

bool addSection(PackOptions& options, const std::string& spec, const juce::File& baseFolder)
{
    const auto eq = spec.find('=');
    const auto colon = spec.find(':', eq == std::string::npos ? 0 : eq);
    if (eq == std::string::npos || colon == std::string::npos || eq == 0)
        return false;
    const std::string name = spec.substr(0, eq);
    const auto address = parseNumber(spec.substr(eq + 1, colon - eq - 1), 0xffffffffull);
    const std::string source = spec.substr(colon + 1);
    if (!address || name.size() > FirmwareSectionEntry::kNameSize)
        return false;

    std::vector<uint8_t> data;
    if (source.rfind("pattern:", 0) == 0)
    {
        const auto size = parseNumber(source.substr(8), 64ull * 1024 * 1024);
        if (!size)
            return false;
        data.resize(*size);
        for (size_t i = 0; i < data.size(); ++i)
        {
            const uint32_t a = static_cast<uint32_t>(*address + i);
            data[i] = static_cast<uint8_t>((a * 2654435761u) >> 24) | 1; // never the blank value 0
        }
    }
    else
    {
        const juce::File file = baseFolder.getChildFile(source);
        if (!file.existsAsFile() || file.getSize() > kMaxInputBytes)
            return false;
        juce::MemoryBlock block;
        if (!file.loadFileAsData(block))
            return false;
        data.assign(static_cast<const uint8_t*>(block.getData()), static_cast<const uint8_t*>(block.getData()) + block.getSize());
    }

    auto& header = options.image.header;
    const size_t index = header.sectionCount();
    if (index >= FirmwareHeader::kMaxSections)
        return false;
    FirmwareSectionEntry entry;
    entry.name = name;
    entry.flashAddress = static_cast<uint32_t>(*address);
    header.setSection(index, entry);
    header.setSectionCount(static_cast<uint8_t>(index + 1));
    options.image.sections[index] = std::move(data);
    return true;
}

bool applyOption(PackOptions& options, const std::string& key, const std::string& value, const juce::File& baseFolder)
{
    auto& header = options.image.header;
    if (key == "product-code")
    {
        const auto v = parseNumber(value, 0xffff);
        if (!v) return false;
        header.setProductCode(static_cast<uint16_t>(*v));
    }
    else if (key == "revision")
    {
        if (value.size() != 1) return false;
        header.setHardwareRevision(static_cast<uint8_t>(value[0]));
    }
    else if (key == "variant")
    {
        const auto v = parseNumber(value, 0xff);
        if (!v) return false;
        header.setProductVariant(static_cast<uint8_t>(*v));
    }
    else if (key == "compat")
    {
        const auto v = parseNumber(value, 0xffff);
        if (!v) return false;
        header.setCompatibilityCode(static_cast<uint16_t>(*v));
    }
    else if (key == "raw-version")
    {
        const auto v = parseNumber(value, 0xffffffffull);
        if (!v) return false;
        header.setFirmwareVersion(static_cast<uint32_t>(*v));
    }
    else if (key == "version" || key == "split-version")
    {
        juce::StringArray parts;
        parts.addTokens(juce::String(value), ".", "");
        const bool packed = key == "version";
        if (parts.size() != (packed ? 3 : 2)) return false;
        const auto major = parseNumber(parts[0].toStdString(), 0xff);
        const auto minor = parseNumber(parts[1].toStdString(), 0xff);
        const auto build = packed ? parseNumber(parts[2].toStdString(), 0xffff) : std::optional<uint64_t>(0);
        if (!major || !minor || !build) return false;
        header.setFirmwareVersion(packed ? static_cast<uint32_t>((*major << 24) | (*minor << 16) | *build)
                                         : static_cast<uint32_t>((*major << 16) | *minor));
    }
    else if (key == "section")
    {
        return addSection(options, value, baseFolder);
    }
    else if (key == "o" || key == "output")
    {
        options.output = baseFolder.getChildFile(value);
    }
    else
    {
        return false;
    }
    return true;
}

bool readDescription(PackOptions& options, const juce::File& file)
{
    if (!file.existsAsFile() || file.getSize() > 1024 * 1024)
    {
        std::cerr << "ksftool: cannot read description " << file.getFullPathName() << "\n";
        return false;
    }
    juce::StringArray lines;
    lines.addLines(file.loadFileAsString());
    bool ok = true;
    for (int i = 0; i < lines.size(); ++i)
    {
        const juce::String line = lines[i].trim();
        if (line.isEmpty() || line.startsWithChar('#'))
            continue;
        const juce::String key = line.upToFirstOccurrenceOf(" ", false, false).trim();
        const juce::String value = line.fromFirstOccurrenceOf(" ", false, false).trim();
        if (!applyOption(options, key.toStdString(), value.toStdString(), file.getParentDirectory()))
        {
            std::cerr << "ksftool: " << file.getFileName() << " line " << (i + 1) << ": bad entry \"" << line << "\"\n";
            ok = false;
        }
    }
    return ok;
}

int pack(int argc, char** argv)
{
    PackOptions options;
    const juce::File cwd = juce::File::getCurrentWorkingDirectory();
    for (int i = 2; i < argc; ++i)
    {
        std::string arg = argv[i];
        if (arg == "-o")
            arg = "--output";
        if (arg.rfind("--", 0) != 0 || i + 1 >= argc)
            return usage();
        const std::string key = arg.substr(2);
        const std::string value = argv[++i];
        if (key == "description")
        {
            if (!readDescription(options, cwd.getChildFile(value)))
                return 1;
        }
        else if (!applyOption(options, key, value, cwd))
        {
            std::cerr << "ksftool: bad option --" << key << " " << value << "\n";
            return 1;
        }
    }
    if (options.output == juce::File())
        return usage();

    finaliseFirmwareImage(options.image);
    options.output.deleteFile();
    juce::FileOutputStream stream(options.output);
    if (!stream.openedOk() || !writeFirmwareImage(stream, options.image))
    {
        std::cerr << "ksftool: cannot write " << options.output.getFullPathName() << "\n";
        return 1;
    }
    std::cout << "wrote " << options.output.getFullPathName() << " (" << int(options.image.header.sectionCount())
              << " sections, header " << options.image.header.headerSize() << " bytes)\n";
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    if (argc == 2 && (command == "--help" || command == "-h"))
    {
        std::cout << "ksftool: looks inside Tovrak firmware image files (.ksf) and builds new ones.\n";
        usage(std::cout);
        std::cout << "Exit codes: 0 done, 1 the file is not a valid image (inspect) or cannot be built (pack), 2 bad usage.\n"
                     "Signatures: make them with minisign (minisign -S -m FILE); inspect checks FILE.minisig.\n";
        return 0;
    }
    if (argc == 2 && command == "--version")
    {
        std::cout << "ksftool " << TOVRAK_VERSION << "\n";
        if (const std::string keys = trustedKeyIdsText(); !keys.empty())
            std::cout << "trusted firmware keys: " << keys << "\n";
        return 0;
    }
    if (command == "inspect" && argc == 3)
        return inspect(juce::File::getCurrentWorkingDirectory().getChildFile(argv[2]));
    if (command == "pack")
        return pack(argc, argv);
    return usage();
}
