#pragma once

#include <cstdint>

// The one numbering of upgrade statuses shared by the flash procedure, the upgrade worker and
// the device table's rows.
enum UpgradeStatus : int32_t
{
    RESULT_READY = 0,               // worker created, not yet run
    RESULT_FIRMWARE_NOT_FOUND = 1,  // no firmware image fits the device
    RESULT_CAN_UPGRADE = 2,         // the image is newer than the installed firmware
    RESULT_CAN_DOWNGRADE = 3,       // the image is not newer than the installed firmware
    RESULT_ERASING = 4,
    RESULT_ERASE_ERROR = 5,
    RESULT_WRITING = 6,
    RESULT_WRITE_ERROR = 7,
    RESULT_VERIFYING = 8,
    RESULT_VERIFIED = 9,
    RESULT_VERIFY_ERROR = 10,
    RESULT_LOADING_ERROR = 11,      // reserved: nothing sets 11 to 17
    RESULT_DISABLING = 12,
    RESULT_ENABLING = 13,
    RESULT_DISABLING_2 = 14,
    RESULT_ENABLING_2 = 15,
    RESULT_INTERRUPTED = 16,
    RESULT_RESERVED_17 = 17,
    RESULT_DEVICE_NOT_FOUND = 18,   // the device is not in the device list, or was lost in a failed upgrade
    RESULT_REPLUG_REQUIRED = 19,    // the table's replacement for RESULT_VERIFIED
    RESULT_ALREADY_UPGRADED = 20
};
