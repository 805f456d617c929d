#pragma once

#include <cstdint>

// True when a USB vendor and product id pair belongs to a supported Tovrak device. The vendor
// id is compared first; a product id is tested only against its own vendor's list.
bool isSupportedDeviceId(uint16_t vendorId, uint16_t productId) noexcept;
