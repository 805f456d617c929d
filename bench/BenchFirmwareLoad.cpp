// What signatures cost at start-up: the firmware file manager loads 50 images of 4 MiB each,
// once unsigned with no key trusted (as a build without keys does), once signed by minisign
// with the demo key trusted (every file read whole, hashed and its signature checked).
// Prints the median of several rounds of each and the difference. Needs minisign on the PATH.
//   bench_firmware_load [IMAGES] [MIB] [ROUNDS]
#include "FirmwareFileManager.h"
#include "FirmwareImage.h"

#include <juce_core/juce_core.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{
const juce::File kDemoSecretKey(TOVRAK_SOURCE_DIR "/resources/keys/demo-firmware.key");
const juce::File kDemoPublicKey(TOVRAK_SOURCE_DIR "/resources/keys/demo-firmware.pub");

bool writeImage(const juce::File& file, uint16_t productCode, size_t bytes)
{
    FirmwareImage image;
    image.header.setSectionCount(1);
    FirmwareSectionEntry entry;
    entry.name = "Main";
    entry.flashAddress = 0x10000;
    image.header.setSection(0, entry);
    image.header.setProductCode(productCode);
    image.header.setHardwareRevision('A');
    image.header.setFirmwareVersion(0x01020000u | productCode);
    image.sections[0].resize(bytes);
    for (size_t i = 0; i < bytes; ++i)
        image.sections[0][i] = static_cast<uint8_t>((i * 31u) ^ (i >> 9) ^ productCode);
    finaliseFirmwareImage(image);
    file.deleteFile();
    juce::FileOutputStream out(file);
    return out.openedOk() && writeFirmwareImage(out, image);
}

double secondsToLoad(const juce::File& folder, const TrustedKeys& keys, size_t expected)
{
    FirmwareFileManager manager;
    manager.setTrustedKeys(keys);
    const auto start = std::chrono::steady_clock::now();
    manager.scanFolder(folder);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (manager.images().size() != expected)
    {
        std::fprintf(stderr, "bench_firmware_load: %zu of %zu images loaded\n", manager.images().size(), expected);
        std::exit(1);
    }
    return seconds;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 50;
    const int mib = argc > 2 ? std::atoi(argv[2]) : 4;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 7;
    if (count <= 0 || mib <= 0 || rounds <= 0)
    {
        std::fprintf(stderr, "usage: bench_firmware_load [IMAGES] [MIB] [ROUNDS]\n");
        return 2;
    }

    juce::TemporaryFile folderName;
    const juce::File root = folderName.getFile();
    const juce::File unsignedFolder = root.getChildFile("unsigned");
    const juce::File signedFolder = root.getChildFile("signed");
    unsignedFolder.createDirectory();
    signedFolder.createDirectory();
    for (int i = 0; i < count; ++i)
    {
        const juce::String name = "tovrak_" + juce::String(i) + ".ksf";
        if (!writeImage(unsignedFolder.getChildFile(name), static_cast<uint16_t>(100 + i), size_t(mib) << 20)
            || !unsignedFolder.getChildFile(name).copyFileTo(signedFolder.getChildFile(name)))
            return 1;
        juce::ChildProcess minisign;
        if (!minisign.start(juce::StringArray { "minisign", "-S", "-q", "-s", kDemoSecretKey.getFullPathName(), "-m",
                                                signedFolder.getChildFile(name).getFullPathName() })
            || !minisign.waitForProcessToFinish(60000) || minisign.getExitCode() != 0)
        {
            std::fprintf(stderr, "bench_firmware_load: minisign -S failed (is minisign installed?)\n");
            root.deleteRecursively();
            return 1;
        }
    }

    TrustedKeys demoKey;
    TrustedKeys::fromText(juce::StringArray::fromLines(kDemoPublicKey.loadFileAsString())[1].toStdString(), demoKey);

    // One round of each first, so that both folders are in the page cache, then alternate.
    secondsToLoad(unsignedFolder, TrustedKeys(), size_t(count));
    secondsToLoad(signedFolder, demoKey, size_t(count));
    std::vector<double> plain, checked;
    for (int r = 0; r < rounds; ++r)
    {
        plain.push_back(secondsToLoad(unsignedFolder, TrustedKeys(), size_t(count)));
        checked.push_back(secondsToLoad(signedFolder, demoKey, size_t(count)));
    }
    root.deleteRecursively();

    const double a = median(plain);
    const double b = median(checked);
    std::printf("images: %d x %d MiB, rounds: %d (medians)\n", count, mib, rounds);
    std::printf("unsigned, no key trusted:  %8.1f ms\n", a * 1000.0);
    std::printf("signed, demo key trusted:  %8.1f ms\n", b * 1000.0);
    std::printf("signatures cost:           %+8.1f ms (%+.1f %%)\n", (b - a) * 1000.0, (b - a) / a * 100.0);
    return 0;
}
