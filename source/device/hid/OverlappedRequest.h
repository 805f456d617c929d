#pragma once

// One overlapped request on a Windows handle, given at most a fixed time. Windows builds only;
// include after <windows.h>.

#include <chrono>
#include <functional>
#include <optional>

// Issues one request on `handle` (opened with FILE_FLAG_OVERLAPPED) through `start`, which makes
// the call with the OVERLAPPED it is given and returns that call's result, and waits at most
// `bound` for it to complete. `overlapped.hEvent` must be a manual-reset event that no other
// request uses meanwhile; the other fields are set here.
//
// When the bound passes, the request is cancelled and then waited for until the system has let
// go of it, so that on return no I/O is pending on `overlapped` and the request's buffers may be
// reused or freed. A request that completes in that moment anyway counts as completed.
//
// Returns ERROR_SUCCESS, or the code of the failure: the system's own, ERROR_TIMEOUT when the
// bound passed, ERROR_BAD_LENGTH when `exactBytes` is given and the request transferred another
// number of bytes. `transferred` (when not null) receives the count the system reported.
DWORD runBoundedRequest(HANDLE handle, OVERLAPPED& overlapped, std::chrono::milliseconds bound,
                        std::optional<DWORD> exactBytes, const std::function<BOOL(OVERLAPPED&)>& start,
                        DWORD* transferred = nullptr);
