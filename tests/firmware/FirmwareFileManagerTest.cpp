#include "FirmwareFileManager.h"
#include "FirmwareVersion.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace
{
ImageSpec kind(uint16_t productCode, uint8_t revision, uint8_t variant, uint32_t version, uint32_t seed = 1)
{
    ImageSpec spec;
    spec.productCode = productCode;
    spec.revision = revision;
    spec.variant = variant;
    spec.version = version;
    spec.sections = { { "Main", 0x10000, patternBytes(64, seed) } };
    return spec;
}

// The data of the image that the manager kept for a key tells which file it came from.
uint8_t firstDataByte(const FirmwareImage* image)
{
    return image != nullptr && !image->sections[0].empty() ? image->sections[0][0] : 0;
}
} // namespace

TEST(FirmwareFileManager, LoadsValidFilesAndSkipsBrokenOnes)
{
    TempFolder folder;
    writeImageFile(folder.file("tovrak_1.ksf"), makeImage(kind(100, 'A', 0, 0x10002)));
    writeImageFile(folder.file("UPPER.KSF"), makeImage(kind(101, 'A', 0, 0x10002)));
    writeImageFile(folder.file(".hidden.ksf"), makeImage(kind(102, 'A', 0, 0x10002)));
    writeImageFile(folder.file("not-firmware.bin"), makeImage(kind(103, 'A', 0, 0x10002)));
    auto broken = imageFileBytes(makeImage(kind(104, 'A', 0, 0x10002)));
    broken.back() ^= 0xff;
    writeBytes(folder.file("broken.ksf"), broken);
    writeBytes(folder.file("short.ksf"), { 'K', 'S', 'F', 'H' });
    // Checksums fine, layout not: sections that overlap, a section that wraps past 2^32.
    auto overlapping = kind(106, 'A', 0, 0x10002);
    overlapping.sections.push_back({ "Factory.CLR.1", 0x10000 + 63, patternBytes(8) });
    writeImageFile(folder.file("overlap.ksf"), makeImage(overlapping));
    auto wrapping = kind(107, 'A', 0, 0x10002);
    wrapping.sections = { { "Main", 0xFFFFFFC1u, patternBytes(64) } };
    writeImageFile(folder.file("wrap.ksf"), makeImage(wrapping));
    auto topmost = kind(108, 'A', 0, 0x10002);
    topmost.sections = { { "Main", 0xFFFFFFC0u, patternBytes(64) } }; // ends exactly at 2^32
    writeImageFile(folder.file("top.ksf"), makeImage(topmost));
    folder.file("sub").createDirectory();
    writeImageFile(folder.file("sub/nested.ksf"), makeImage(kind(105, 'A', 0, 0x10002)));
    folder.file("dir.ksf").createDirectory();

    FirmwareFileManager manager;
    manager.scanFolder(folder.get());
    EXPECT_EQ(manager.images().size(), 4u);
    EXPECT_EQ(manager.findImage(106, 0, 'A'), nullptr);
    EXPECT_EQ(manager.findImage(107, 0, 'A'), nullptr);
    EXPECT_NE(manager.findImage(108, 0, 'A'), nullptr);
    EXPECT_NE(manager.findImage(100, 0, 'A'), nullptr);
    EXPECT_NE(manager.findImage(101, 0, 'A'), nullptr);
    EXPECT_NE(manager.findImage(102, 0, 'A'), nullptr);
    EXPECT_EQ(manager.findImage(103, 0, 'A'), nullptr);
    EXPECT_EQ(manager.findImage(104, 0, 'A'), nullptr);
    EXPECT_EQ(manager.findImage(105, 0, 'A'), nullptr);
    EXPECT_EQ(manager.findImage(100, 0, 'B'), nullptr);
    EXPECT_EQ(manager.findImage(100, 0, 'A')->fileBuildNumber, 1);

    manager.clearImages();
    EXPECT_TRUE(manager.images().empty());
    manager.scanFolder(folder.file("missing"));
    EXPECT_TRUE(manager.images().empty());
}

TEST(FirmwareFileManager, OneImagePerKeyAndEveryKeyKept)
{
    FirmwareFileManager manager;
    auto add = [&](ImageSpec spec, uint16_t build = 0) {
        auto image = makeImage(spec);
        image.fileBuildNumber = build;
        manager.addImage(std::move(image));
    };
    add(kind(100, 'A', 0, 0x10002));
    add(kind(100, 'B', 0, 0x10002));
    add(kind(100, 'A', 1, 0x10002));
    add(kind(100, 'A', 0xff, 0x10002));
    EXPECT_EQ(manager.images().size(), 4u);
}

TEST(FirmwareFileManager, NewerThanOrder)
{
    FirmwareFileManager manager;
    auto add = [&](uint32_t version, uint16_t build, uint32_t seed, uint16_t productCode = 100) {
        auto image = makeImage(kind(productCode, 'A', 0, version, seed));
        image.fileBuildNumber = build;
        manager.addImage(std::move(image));
        return firstDataByte(manager.findImage(productCode, 0, 'A'));
    };
    const uint8_t s1 = patternBytes(64, 1)[0], s2 = patternBytes(64, 2)[0], s3 = patternBytes(64, 3)[0];
    ASSERT_NE(s1, s2);
    ASSERT_NE(s2, s3);

    // Complete tie: the first one stays.
    EXPECT_EQ(add(0x00010002, 5, 1), s1);
    EXPECT_EQ(add(0x00010002, 5, 2), s1);
    // Bits 16-31 higher, bits 0-15 lower: replaces.
    EXPECT_EQ(add(0x00020001, 5, 2), s2);
    // Same version, higher build number: replaces; lower: dropped.
    EXPECT_EQ(add(0x00020001, 10, 3), s3);
    EXPECT_EQ(add(0x00020001, 9, 1), s3);
    // Compared unsigned: bits 16-31 of 0xFFFF0000 are the highest possible.
    EXPECT_EQ(add(0xFFFF0000, 0, 1), s1);
    EXPECT_EQ(manager.images().size(), 1u);
}

TEST(FirmwareFileManager, ReplacedImageMovesToTheEnd)
{
    FirmwareFileManager manager;
    manager.addImage(makeImage(kind(1, 'A', 0, 1)));
    manager.addImage(makeImage(kind(2, 'A', 0, 1)));
    manager.addImage(makeImage(kind(1, 'A', 0, 2)));
    ASSERT_EQ(manager.images().size(), 2u);
    EXPECT_EQ(manager.images()[0].header.productCode(), 2);
    EXPECT_EQ(manager.images()[1].header.productCode(), 1);
}

TEST(FirmwareFileManager, BuildNumberFromFileNamesDecidesTies)
{
    TempFolder folder;
    writeImageFile(folder.file("tovrak_9.ksf"), makeImage(kind(100, 'A', 0, 0x10002, 1)));
    writeImageFile(folder.file("tovrak_10.ksf"), makeImage(kind(100, 'A', 0, 0x10002, 2)));
    FirmwareFileManager manager;
    manager.scanFolder(folder.get());
    ASSERT_EQ(manager.images().size(), 1u);
    EXPECT_EQ(manager.images()[0].fileBuildNumber, 10);
}

TEST(FirmwareFileManager, ProgramFolderWinsATieAgainstTheWorkingDirectory)
{
    TempFolder program, working;
    writeImageFile(program.file("tovrak_3.ksf"), makeImage(kind(100, 'A', 0, 0x10002, 1)));
    writeImageFile(working.file("tovrak_3.ksf"), makeImage(kind(100, 'A', 0, 0x10002, 2)));
    writeImageFile(working.file("tovrak_4.ksf"), makeImage(kind(200, 'A', 0, 0x10002, 2)));
    FirmwareFileManager manager;
    EXPECT_TRUE(manager.loadFirmwareFiles(program.get(), working.get()));
    EXPECT_EQ(manager.images().size(), 2u);
    EXPECT_EQ(firstDataByte(manager.findImage(100, 0, 'A')), patternBytes(64, 1)[0]);

    // The same folder twice: every file is read twice, the second copy drops as a tie.
    FirmwareFileManager same;
    same.loadFirmwareFiles(working.get(), working.get());
    EXPECT_EQ(same.images().size(), 2u);
}
