#include "FirmwareImage.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace
{
ImageSpec twoSections()
{
    ImageSpec spec;
    spec.sections = { { "Main", 0x10000, patternBytes(1000, 1) }, { "Config", 0x80000, patternBytes(33, 2) } };
    return spec;
}

bool readBack(const std::vector<uint8_t>& bytes, FirmwareImage& image, FirmwareReadError* why = nullptr)
{
    juce::MemoryInputStream stream(bytes.data(), bytes.size(), false);
    return readFirmwareImage(stream, image, why);
}

FirmwareReadError readError(const std::vector<uint8_t>& bytes)
{
    FirmwareImage image;
    FirmwareReadError why = FirmwareReadError::None;
    EXPECT_FALSE(readBack(bytes, image, &why));
    for (const auto& buffer : image.sections)
        EXPECT_TRUE(buffer.empty());
    return why;
}
} // namespace

TEST(FirmwareImage, WrittenImageReadsBackByteForByte)
{
    const auto image = makeImage(twoSections());
    const auto bytes = imageFileBytes(image);
    ASSERT_EQ(bytes.size(), 157u + 2 * 28 + 1000 + 33);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "KSFH");

    FirmwareImage back;
    ASSERT_TRUE(readBack(bytes, back));
    EXPECT_TRUE(verifyFirmwareImage(back));
    EXPECT_TRUE(back.header == image.header);
    EXPECT_EQ(back.sections[0], image.sections[0]);
    EXPECT_EQ(back.sections[1], image.sections[1]);
    EXPECT_EQ(back.header.section(1).name, "Config");
    EXPECT_EQ(back.header.section(1).flashAddress, 0x80000u);
    EXPECT_EQ(back.header.headerSize(), 157 + 2 * 28);
}

TEST(FirmwareImage, FieldsSitAtTheirOffsetsLittleEndian)
{
    ImageSpec spec;
    spec.productCode = 0x0215;
    spec.revision = 'C';
    spec.variant = 0x7f;
    spec.version = 0x01020304;
    spec.compatibilityCode = 0xBEEF;
    const auto bytes = imageFileBytes(makeImage(spec));
    EXPECT_EQ(bytes[8], 0xEF);
    EXPECT_EQ(bytes[9], 0xBE);
    EXPECT_EQ(bytes[10], 157);
    EXPECT_EQ(bytes[12], 0x15);
    EXPECT_EQ(bytes[13], 0x02);
    EXPECT_EQ(bytes[14], 'C');
    EXPECT_EQ(bytes[15], 0x7f);
    EXPECT_EQ(bytes[16], 0x04);
    EXPECT_EQ(bytes[19], 0x01);
    EXPECT_EQ(bytes[156], 0);
}

TEST(FirmwareImage, NoSectionsIsValidWhenTheChecksumCoversBytes8To156)
{
    const auto image = makeImage(ImageSpec {});
    auto bytes = imageFileBytes(image);
    ASSERT_EQ(bytes.size(), 157u);
    uint32_t sum = 0;
    for (size_t i = 8; i < 157; ++i)
        sum += bytes[i];
    EXPECT_EQ(image.header.headerChecksum(), sum);
    FirmwareImage back;
    ASSERT_TRUE(readBack(bytes, back));
    EXPECT_TRUE(verifyFirmwareImage(back));
}

TEST(FirmwareImage, ReaderRejections)
{
    const auto good = imageFileBytes(makeImage(twoSections()));

    EXPECT_EQ(readError({ good.begin(), good.begin() + 156 }), FirmwareReadError::ShortHeader);

    auto lower = good;
    lower[0] = 'k';
    EXPECT_EQ(readError(lower), FirmwareReadError::BadMagic);

    auto tooMany = good;
    tooMany[156] = 17;
    tooMany[10] = static_cast<uint8_t>((157 + 28 * 17) & 0xff);
    tooMany[11] = static_cast<uint8_t>((157 + 28 * 17) >> 8);
    EXPECT_EQ(readError(tooMany), FirmwareReadError::TooManySections);

    for (int delta : { -28, -1, 1, 28 })
    {
        auto badSize = good;
        const int size = 157 + 2 * 28 + delta;
        badSize[10] = static_cast<uint8_t>(size & 0xff);
        badSize[11] = static_cast<uint8_t>(size >> 8);
        EXPECT_EQ(readError(badSize), FirmwareReadError::BadHeaderSize) << delta;
    }

    EXPECT_EQ(readError({ good.begin(), good.begin() + 157 + 30 }), FirmwareReadError::ShortTable);
    EXPECT_EQ(readError({ good.begin(), good.end() - 1 }), FirmwareReadError::SectionBeyondEnd);
}

TEST(FirmwareImage, HugeSectionLengthIsRejectedBeforeAllocation)
{
    ImageSpec spec;
    spec.sections = { { "Main", 0, patternBytes(4) } };
    auto bytes = imageFileBytes(makeImage(spec));
    // Claim a 4 GiB section in a file of a few hundred bytes.
    const size_t lengthOffset = 157 + 20;
    bytes[lengthOffset] = bytes[lengthOffset + 1] = bytes[lengthOffset + 2] = bytes[lengthOffset + 3] = 0xff;
    EXPECT_EQ(readError(bytes), FirmwareReadError::SectionBeyondEnd);
}

TEST(FirmwareImage, TrailingBytesAreIgnoredAndEmptySectionsAreValid)
{
    ImageSpec spec;
    spec.sections = { { "Empty", 0x100, {} }, { "Main", 0x1000, patternBytes(10) } };
    auto bytes = imageFileBytes(makeImage(spec));
    bytes.insert(bytes.end(), { 1, 2, 3, 4, 5 });
    FirmwareImage image;
    ASSERT_TRUE(readBack(bytes, image));
    EXPECT_TRUE(verifyFirmwareImage(image));
    EXPECT_EQ(image.header.section(0).checksum, 0u);
    EXPECT_TRUE(image.sections[0].empty());
}

TEST(FirmwareImage, EveryByteFromOffset4OnIsCoveredByAChecksum)
{
    const auto good = imageFileBytes(makeImage(twoSections()));
    for (size_t i = 0; i < good.size(); ++i)
    {
        auto bytes = good;
        bytes[i] ^= 0x01;
        FirmwareImage image;
        FirmwareReadError why = FirmwareReadError::None;
        const bool read = readBack(bytes, image, &why);
        if (i < 4)
        {
            EXPECT_EQ(why, FirmwareReadError::BadMagic) << i;
            continue;
        }
        if (!read)
            continue; // a flipped size or length field already fails the read
        EXPECT_FALSE(verifyFirmwareImage(image)) << "flipped byte " << i << " was not noticed";
    }
}

TEST(FirmwareSectionEntry, NamesAreReadWithinTheirField)
{
    uint8_t raw[28];
    std::memset(raw, 'A', 16); // no terminating NUL inside the field
    le::write32(raw + 16, 1);
    le::write32(raw + 20, 2);
    le::write32(raw + 24, 3);
    const auto entry = FirmwareSectionEntry::fromBytes(raw);
    EXPECT_EQ(entry.name, std::string(16, 'A'));
    EXPECT_EQ(entry.length, 2u);
}

TEST(FirmwareSectionEntry, ClassesByName)
{
    using Kind = FirmwareSectionEntry::Kind;
    auto kindOf = [](const char* name) {
        FirmwareSectionEntry e;
        e.name = name;
        return e.kind();
    };
    EXPECT_EQ(kindOf("Upgrade.boot"), Kind::Skipped);
    EXPECT_EQ(kindOf("Upgrade.CLR"), Kind::Skipped);
    EXPECT_EQ(kindOf("Factory.CLR.1"), Kind::Clear);
    EXPECT_EQ(kindOf("x.Upgrade.CLR"), Kind::Clear);
    EXPECT_EQ(kindOf("Factory.CLR"), Kind::Ordinary);
    EXPECT_EQ(kindOf("upgrade.boot"), Kind::Ordinary);
    EXPECT_EQ(kindOf("Main"), Kind::Ordinary);
}
