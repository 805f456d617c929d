#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

// What the device table tells the main component. Called on the message thread.
class ICallbackCheckAll
{
public:
    // Shows the text in the summary line.
    virtual void OnShowMessage(const juce::String& text) = 0;
    // The rows were refilled: the number of rows, of rows with a newer image and of rows with an
    // image that is not newer.
    virtual void OnCheckAllFinished(int32_t deviceCount, int32_t upgradableCount, int32_t downgradableCount) = 0;
    // The selection or the upgrade state may have changed.
    virtual void OnCheckStateChanged() = 0;

protected:
    ~ICallbackCheckAll() = default;
};
