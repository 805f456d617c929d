#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

// The flash memory of an emulated device: sparse (4 KiB pages are created when first touched),
// erases to 0x00, and remembers for every byte whether it was erased since it was last written,
// so that writes into bytes that were not erased can be reported. Not thread-safe: the owning
// device guards it.
class EmulatedFlash
{
public:
    static constexpr uint32_t kPageSize = 4096;

    // `size` bytes of flash whose untouched bytes read as `fill`.
    EmulatedFlash(uint32_t size, uint8_t fill);

    uint32_t size() const noexcept { return m_size; }

    // True when [address, address + length) lies inside the flash.
    bool contains(uint32_t address, uint64_t length) const noexcept;

    // Sets the range to 0x00 and makes it writable. The range must lie inside the flash.
    void erase(uint32_t address, uint32_t length);

    // Stores the bytes and marks them written; a byte not erased since its last write ends up
    // as the old value with the new value's bits set, as in real flash. Returns how many of them had not been erased
    // since their last write; `firstUnerased` receives the address of the first such byte.
    size_t program(uint32_t address, const uint8_t* data, size_t length, uint32_t* firstUnerased = nullptr);

    // Stores bytes without any erase bookkeeping (the factory contents of a new device).
    void load(uint32_t address, const uint8_t* data, size_t length);

    // Copies the range out; bytes beyond the end of the flash read as 0x00.
    void read(uint32_t address, uint8_t* out, size_t length) const;

    bool isErased(uint32_t address) const noexcept;

    size_t allocatedPages() const noexcept { return m_pages.size(); }

private:
    struct Page
    {
        std::array<uint8_t, kPageSize> data;
        std::bitset<kPageSize> erased; // erased since the last write
    };

    Page& page(uint32_t index);
    const Page* findPage(uint32_t index) const noexcept;

    uint32_t m_size;
    uint8_t m_fill;
    std::map<uint32_t, std::unique_ptr<Page>> m_pages;
};
