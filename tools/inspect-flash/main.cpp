// inspect-flash: what an emulated device would boot from a flash dump (a device's flash file, or
// a dump written by soak_upgrade --dump): both header places, whether each header is valid and
// whether its sections hold, read by the emulated boot loader's own parser.
//
// Usage: inspect-flash DUMP [BASE]     BASE: the firmware base address (default 0x10000)
// Exit code: 0 when every valid header holds, 1 when a valid header lies over bytes that are not
// its own, 2 for a usage or file error.
#include "emulator/EmulatedBoot.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3)
    {
        std::fprintf(stderr, "usage: inspect-flash DUMP [BASE]\n");
        return 2;
    }
    char* end = nullptr;
    const unsigned long base = argc == 3 ? std::strtoul(argv[2], &end, 0) : 0x10000ul;
    if (argc == 3 && (end == argv[2] || *end != '\0' || base > 0xFFFFFFFFul))
    {
        std::fprintf(stderr, "inspect-flash: not an address: %s\n", argv[2]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary | std::ios::ate);
    if (!in)
    {
        std::fprintf(stderr, "inspect-flash: cannot read %s\n", argv[1]);
        return 2;
    }
    // A device's flash is at most a few hundred MiB; a larger file is not a dump.
    constexpr std::streamoff kMaxFlash = std::streamoff { 1 } << 30;
    const std::streamoff size = in.tellg();
    if (size <= 0 || size > kMaxFlash)
    {
        std::fprintf(stderr, "inspect-flash: %s is empty or larger than 1 GiB\n", argv[1]);
        return 2;
    }
    std::vector<uint8_t> flash(static_cast<size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(flash.data()), size))
    {
        std::fprintf(stderr, "inspect-flash: cannot read %s\n", argv[1]);
        return 2;
    }
    const emulated_boot::FlashReader read = [&](uint32_t address, uint8_t* out, size_t length) {
        for (size_t i = 0; i < length; ++i)
        {
            const uint64_t at = uint64_t { address } + i;
            out[i] = at < flash.size() ? flash[static_cast<size_t>(at)] : 0;
        }
    };
    const auto view = emulated_boot::inspectBoot(read, static_cast<uint32_t>(base), flash.size());
    std::cout << emulated_boot::describe(view);
    return view.everyValidHeaderHolds() ? 0 : 1;
}
