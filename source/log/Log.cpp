#include "Log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <map>
#include <stdexcept>

namespace
{
const char* const kKeywords[] = { "datetime", "level", "func", "log", "source", "line" };
const char* const kLevelWords[] = { "DEBUG ", "INFOR ", "ERROR ", "FATAL " };
}

Log& Log::instance()
{
    static Log theLog;
    return theLog;
}

Log::~Log()
{
    if (m_file.is_open())
        m_file.close();
}

bool Log::init(const std::string& fileName, const std::string& format)
{
    if (m_inited)
        return true;

    // Parse first, so that a bad format leaves the logger uninitialised.
    int32_t positions[FieldCount] = { -1, -1, -1, -1, -1, -1 };
    int32_t count = 0;
    std::string::size_type start = 0;
    for (;;)
    {
        const auto end = format.find('_', start);
        const std::string token = format.substr(start, end == std::string::npos ? std::string::npos : end - start);
        ++count;
        int matched = -1;
        for (int i = 0; i < FieldCount; ++i)
            if (token == kKeywords[i])
                matched = i;
        if (matched < 0)
            throw std::runtime_error("not valid log format!" + format);
        positions[matched] = count;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }

    m_inited = true;
    m_threshold = Debug;
    m_outputMode = ToFile;
    for (int i = 0; i < FieldCount; ++i)
        m_positions[i] = positions[i];

    m_file.open(fileName, std::ios::out | std::ios::app);
    if (m_file.is_open())
        m_file << "Log inited OK . .............................................." << std::endl;
    return true;
}

void Log::log(const std::string& message, const char* sourcePath, int line, int level, const char* functionName)
{
    if (level < m_threshold)
        return;
    write(timestamp(), level, functionName, message, sourcePath, line);
}

std::string Log::formatLine(const std::string& stamp, int level, const char* functionName,
                            const std::string& message, const char* sourcePath, int line) const
{
    std::map<int32_t, std::string> fields;
    auto put = [&](Field field, std::string text) {
        if (m_positions[field] != -1)
            fields[m_positions[field]] = std::move(text);
    };
    put(FieldDatetime, stamp + " ");
    put(FieldLevel, (level >= Debug && level <= Fatal) ? kLevelWords[level] : "");
    put(FieldFunc, std::string(functionName != nullptr ? functionName : "") + "() ");
    put(FieldLog, message + " ");
    put(FieldSource, std::string(sourcePath != nullptr ? sourcePath : "") + " ");
    put(FieldLine, ":" + std::to_string(line));

    std::string text;
    for (const auto& entry : fields)
        text += entry.second;
    return text;
}

void Log::write(const std::string& stamp, int level, const char* functionName,
                const std::string& message, const char* sourcePath, int line)
{
    if (m_outputMode == Off)
        return;

    const std::string text = formatLine(stamp, level, functionName, message, sourcePath, line);

    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_outputMode == ToStdout || m_outputMode == ToStdoutAndFile)
    {
        std::cout << text << '\n';
        std::cout.flush();
    }
    if ((m_outputMode == ToFile || m_outputMode == ToStdoutAndFile) && m_file.is_open())
    {
        m_file << text << '\n';
        m_file.flush();
    }
}

std::string Log::timestamp()
{
    using namespace std::chrono;
    // 100-nanosecond units since 1970-01-01 UTC.
    const auto ticks = duration_cast<duration<int64_t, std::ratio<1, 10000000>>>(
                           system_clock::now().time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ticks / 10000000);
    const int64_t micros = (ticks % 10000000) / 10;

    std::tm local {};
#if defined(_WIN32)
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char buffer[64];
    const size_t length = std::strftime(buffer, sizeof(buffer), "%Y-%m-%d %H:%M:%S:", &local);
    char micro[16];
    std::snprintf(micro, sizeof(micro), "%06d", static_cast<int>(micros));
    return std::string(buffer, length) + micro;
}
