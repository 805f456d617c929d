#pragma once

#include <cstdint>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

// Process-wide line logger. Lines go to a text file (appended) and/or standard output;
// each line is assembled from the fields named in the line format, e.g.
// "datetime_level_func_log_source_line".
class Log
{
public:
    enum Level : int32_t { Debug = 0, Info = 1, Error = 2, Fatal = 3 };
    enum OutputMode : int32_t { ToStdout = 0, ToFile = 1, ToStdoutAndFile = 2, Off = 3 };

    // The one logger of the process.
    static Log& instance();

    // Separate instances exist for tests; the program only uses instance().
    Log() = default;
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Sets the logger up once. A second call returns true and changes nothing.
    // Throws std::runtime_error("not valid log format!" + format) for an unknown or empty token.
    // A file that cannot be opened does not fail: its lines are silently lost.
    bool init(const std::string& fileName, const std::string& format);

    // Writes the line when level >= threshold.
    void log(const std::string& message, const char* sourcePath, int line, int level, const char* functionName);

    // Builds and outputs one line without looking at the threshold.
    void write(const std::string& timestamp, int level, const char* functionName,
               const std::string& message, const char* sourcePath, int line);

    // Local time "%Y-%m-%d %H:%M:%S:" followed by the microsecond as six digits.
    static std::string timestamp();

    int32_t threshold() const noexcept { return m_threshold; }
    int32_t outputMode() const noexcept { return m_outputMode; }
    bool isInited() const noexcept { return m_inited; }

    // Assembles the text of one line (without its line end) from the fields.
    std::string formatLine(const std::string& timestamp, int level, const char* functionName,
                           const std::string& message, const char* sourcePath, int line) const;

private:
    enum Field { FieldDatetime, FieldLevel, FieldFunc, FieldLog, FieldSource, FieldLine, FieldCount };

    int32_t m_threshold = 0;
    int32_t m_outputMode = ToFile;
    std::ofstream m_file;
    int32_t m_positions[FieldCount] = { -1, -1, -1, -1, -1, -1 };
    bool m_inited = false;
    std::mutex m_mutex;
};

// Log sites: the message is built in a string stream from pieces and values, and written only
// when the logger's threshold admits the level. FUNC is the qualified function name as a
// literal, e.g. KS_LOG_INFO("CUpgradeThread::run", "started " << serial).
#define KS_LOG_AT(LEVEL, FUNC, PIECES)                                                           \
    do                                                                                           \
    {                                                                                            \
        if (Log::instance().threshold() <= (LEVEL))                                              \
        {                                                                                        \
            std::ostringstream ks_log_stream_;                                                   \
            ks_log_stream_ << PIECES;                                                            \
            Log::instance().write(Log::timestamp(), (LEVEL), FUNC, ks_log_stream_.str(),          \
                                  __FILE__, __LINE__);                                           \
        }                                                                                        \
    } while (false)

#define KS_LOG_DEBUG(FUNC, PIECES) KS_LOG_AT(Log::Debug, FUNC, PIECES)
#define KS_LOG_INFO(FUNC, PIECES)  KS_LOG_AT(Log::Info, FUNC, PIECES)
#define KS_LOG_ERROR(FUNC, PIECES) KS_LOG_AT(Log::Error, FUNC, PIECES)
