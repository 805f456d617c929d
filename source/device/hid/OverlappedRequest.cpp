#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "OverlappedRequest.h"

#include <algorithm>

namespace
{
// A bound in the unit WaitForSingleObject takes, short of INFINITE so that it always ends.
DWORD waitMilliseconds(std::chrono::milliseconds bound)
{
    const auto count = std::max<std::chrono::milliseconds::rep>(bound.count(), 0);
    return static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(count, INFINITE - 1));
}
} // namespace

DWORD runBoundedRequest(HANDLE handle, OVERLAPPED& overlapped, std::chrono::milliseconds bound,
                        std::optional<DWORD> exactBytes, const std::function<BOOL(OVERLAPPED&)>& start,
                        DWORD* transferred)
{
    const HANDLE event = overlapped.hEvent;
    overlapped = OVERLAPPED {};
    overlapped.hEvent = event;
    ::ResetEvent(event);

    DWORD bytes = 0;
    DWORD error = ERROR_SUCCESS;
    if (!start(overlapped))
    {
        error = ::GetLastError();
        if (error != ERROR_IO_PENDING)
            return error; // refused at once: nothing is pending
        error = ERROR_SUCCESS;
        const DWORD waited = ::WaitForSingleObject(event, waitMilliseconds(bound));
        if (waited == WAIT_OBJECT_0)
        {
            if (!::GetOverlappedResult(handle, &overlapped, &bytes, FALSE))
                error = ::GetLastError();
        }
        else
        {
            // Timed out, or the wait itself failed: the request is still the system's until it
            // completes, so cancel it and wait for that before anyone touches its buffers.
            const DWORD waitError = waited == WAIT_TIMEOUT ? DWORD(ERROR_TIMEOUT) : ::GetLastError();
            ::CancelIoEx(handle, &overlapped);
            if (!::GetOverlappedResult(handle, &overlapped, &bytes, TRUE))
                error = waitError;
        }
    }
    else if (!::GetOverlappedResult(handle, &overlapped, &bytes, FALSE))
    {
        error = ::GetLastError();
    }

    if (transferred != nullptr)
        *transferred = bytes;
    if (error == ERROR_SUCCESS && exactBytes.has_value() && bytes != *exactBytes)
        error = ERROR_BAD_LENGTH;
    return error;
}
