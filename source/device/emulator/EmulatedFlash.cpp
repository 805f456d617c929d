#include "EmulatedFlash.h"

#include <algorithm>

EmulatedFlash::EmulatedFlash(uint32_t size, uint8_t fill) : m_size(size), m_fill(fill)
{
}

bool EmulatedFlash::contains(uint32_t address, uint64_t length) const noexcept
{
    return static_cast<uint64_t>(address) + length <= m_size;
}

EmulatedFlash::Page& EmulatedFlash::page(uint32_t index)
{
    auto& slot = m_pages[index];
    if (!slot)
    {
        slot = std::make_unique<Page>();
        slot->data.fill(m_fill);
    }
    return *slot;
}

const EmulatedFlash::Page* EmulatedFlash::findPage(uint32_t index) const noexcept
{
    const auto it = m_pages.find(index);
    return it == m_pages.end() ? nullptr : it->second.get();
}

void EmulatedFlash::erase(uint32_t address, uint32_t length)
{
    if (!contains(address, length))
        return;
    uint64_t pos = address;
    const uint64_t end = static_cast<uint64_t>(address) + length;
    while (pos < end)
    {
        Page& p = page(static_cast<uint32_t>(pos / kPageSize));
        const size_t offset = static_cast<size_t>(pos % kPageSize);
        const size_t count = static_cast<size_t>(std::min<uint64_t>(kPageSize - offset, end - pos));
        std::fill_n(p.data.begin() + static_cast<std::ptrdiff_t>(offset), count, uint8_t { 0 });
        for (size_t i = 0; i < count; ++i)
            p.erased.set(offset + i);
        pos += count;
    }
}

size_t EmulatedFlash::program(uint32_t address, const uint8_t* data, size_t length, uint32_t* firstUnerased)
{
    if (!contains(address, length))
        return 0;
    size_t unerased = 0;
    for (size_t i = 0; i < length; ++i)
    {
        const uint32_t at = address + static_cast<uint32_t>(i);
        Page& p = page(at / kPageSize);
        const size_t offset = at % kPageSize;
        if (!p.erased.test(offset))
        {
            if (unerased == 0 && firstUnerased != nullptr)
                *firstUnerased = at;
            ++unerased;
        }
        // Programming can only set bits of a flash that erases to 0x00: a byte that was not
        // erased since it was last written keeps its set bits.
        p.data[offset] = p.erased.test(offset) ? data[i] : static_cast<uint8_t>(p.data[offset] | data[i]);
        p.erased.reset(offset);
    }
    return unerased;
}

void EmulatedFlash::load(uint32_t address, const uint8_t* data, size_t length)
{
    for (size_t i = 0; i < length && contains(address, i + 1); ++i)
    {
        const uint32_t at = address + static_cast<uint32_t>(i);
        page(at / kPageSize).data[at % kPageSize] = data[i];
    }
}

void EmulatedFlash::read(uint32_t address, uint8_t* out, size_t length) const
{
    for (size_t i = 0; i < length; ++i)
    {
        const uint64_t at = static_cast<uint64_t>(address) + i;
        if (at >= m_size)
        {
            out[i] = 0;
            continue;
        }
        const Page* p = findPage(static_cast<uint32_t>(at / kPageSize));
        out[i] = p != nullptr ? p->data[at % kPageSize] : m_fill;
    }
}

bool EmulatedFlash::isErased(uint32_t address) const noexcept
{
    const Page* p = findPage(address / kPageSize);
    return p != nullptr && p->erased.test(address % kPageSize);
}
