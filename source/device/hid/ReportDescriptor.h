#pragma once

#include <cstddef>
#include <cstdint>

// True when the bytes are a HID report descriptor that parses: a non-empty sequence of whole
// short and long items, every Collection closed by an End Collection and none closed twice,
// and at least one Input, Output or Feature item. Reads only within [bytes, bytes + size).
bool isWellFormedReportDescriptor(const uint8_t* bytes, size_t size) noexcept;
