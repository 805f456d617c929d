#include "SupportedDevices.h"

bool isSupportedDeviceId(uint16_t vendorId, uint16_t productId) noexcept
{
    if (vendorId == KESTRANE_USB_VENDOR_ID)
        return productId == 0x0001 || (productId >= 0x0004 && productId <= 0x0009)
            || (productId >= 0x0010 && productId <= 0x0020);
    if (vendorId == PARTNER_USB_VENDOR_ID)
        return productId == PARTNER_USB_PRODUCT_ID;
    return false;
}
