// The bounded overlapped request, on the read end of a named pipe: a read there completes only
// when the other end writes, so the test decides when (and whether) a request completes.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "hid/OverlappedRequest.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <thread>

namespace
{
// Win32 error codes, as the system documents them.
constexpr DWORD kSuccess = 0;
constexpr DWORD kBadLength = 24;
constexpr DWORD kTimeout = 1460;

// A byte pipe in this process: `reader` is overlapped, `writer` plain.
struct Pipe
{
    Pipe()
    {
        static int count = 0;
        const std::wstring name = L"\\\\.\\pipe\\tovrak-overlapped-" + std::to_wstring(::GetCurrentProcessId()) + L"-"
                                + std::to_wstring(++count);
        reader = ::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                    PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
        writer = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~Pipe()
    {
        ::CloseHandle(writer);
        ::CloseHandle(reader);
        ::CloseHandle(event);
    }
    bool ready() const { return reader != INVALID_HANDLE_VALUE && writer != INVALID_HANDLE_VALUE && event != nullptr; }

    void write(DWORD count)
    {
        const std::array<uint8_t, 16> bytes { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16 };
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(writer, bytes.data(), count, &written, nullptr));
        ASSERT_EQ(written, count);
    }

    // A bounded read of `asked` bytes into `buffer` that must transfer exactly that many.
    DWORD read(uint8_t* buffer, DWORD asked, std::chrono::milliseconds bound, DWORD* transferred = nullptr)
    {
        overlapped = OVERLAPPED {};
        overlapped.hEvent = event;
        return runBoundedRequest(reader, overlapped, bound, asked, [&](OVERLAPPED& o) {
            return ::ReadFile(reader, buffer, asked, nullptr, &o);
        }, transferred);
    }

    HANDLE reader = INVALID_HANDLE_VALUE;
    HANDLE writer = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    OVERLAPPED overlapped {};
};
} // namespace

TEST(OverlappedRequest, AnUnansweredRequestTimesOutWithinItsBoundAndLeavesNothingPending)
{
    Pipe pipe;
    ASSERT_TRUE(pipe.ready()) << ::GetLastError();
    std::array<uint8_t, 8> buffer;
    buffer.fill(0xAA);

    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(pipe.read(buffer.data(), 8, std::chrono::milliseconds(200)), kTimeout);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    EXPECT_GE(took.count(), 180);
    EXPECT_LT(took.count(), 1500);

    // The cancelled read is over: its OVERLAPPED says so, and bytes written now neither land in
    // its buffer nor are taken by it; the next read gets them.
    EXPECT_TRUE(HasOverlappedIoCompleted(&pipe.overlapped));
    pipe.write(4);
    ::Sleep(100);
    for (const uint8_t byte : buffer)
        EXPECT_EQ(byte, 0xAA);
    std::array<uint8_t, 4> next {};
    EXPECT_EQ(pipe.read(next.data(), 4, std::chrono::milliseconds(1000)), kSuccess);
    EXPECT_EQ(next, (std::array<uint8_t, 4> { 1, 2, 3, 4 }));
}

TEST(OverlappedRequest, OnlyARequestThatTransfersExactlyTheBytesAskedForSucceeds)
{
    struct Case
    {
        DWORD written;
        bool late; // written while the read waits, rather than before it starts
        DWORD asked;
        DWORD error;
    };
    const Case cases[] = {
        { 8, false, 8, kSuccess },
        { 8, true, 8, kSuccess },
        { 3, false, 8, kBadLength }, // a short answer is no answer
        { 3, true, 8, kBadLength },
        { 1, true, 8, kBadLength },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::to_string(c.written) + (c.late ? " late" : "") + " of " + std::to_string(c.asked) + " bytes");
        Pipe pipe;
        ASSERT_TRUE(pipe.ready()) << ::GetLastError();
        std::thread writer;
        if (c.late)
            writer = std::thread([&] {
                ::Sleep(100);
                pipe.write(c.written);
            });
        else
            pipe.write(c.written);
        std::array<uint8_t, 16> buffer {};
        DWORD transferred = 0;
        EXPECT_EQ(pipe.read(buffer.data(), c.asked, std::chrono::milliseconds(2000), &transferred), c.error);
        if (writer.joinable())
            writer.join();
        EXPECT_EQ(transferred, c.written);
        for (DWORD i = 0; i < c.written; ++i)
            EXPECT_EQ(buffer[i], i + 1);
        EXPECT_TRUE(HasOverlappedIoCompleted(&pipe.overlapped));
    }
}
