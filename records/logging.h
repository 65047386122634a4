#pragma once

#include <memory>

#include "frame/interfaces.h"

namespace varne {

class Clock;
class FileSystem;
class FileWriter;

// One plain-text log at a time: a header, a timestamped entry per text, a footer with the run
// time. Every line is handed to the file as it is written, so a script that dies leaves its
// entries behind.
class Logging final : public _Logging {
public:
    // The log's stopwatch is a Timing of its own on the same clock.
    Logging(FileSystem& files, Clock& clock);
    ~Logging() override;

    int16_t IsOpen() override;
    // 0 started; -1 an empty name; -2 a log is open already. Raises the file's error when the
    // file cannot be made or its header written; the log then stays closed.
    int16_t StartLog(const BStr& Filename) override;
    // 0 written; -1 no log is open. A failed write raises and the log stays open.
    int16_t AppendLog(const BStr& Data) override;
    // A failed write or close raises and the log still counts as open.
    void EndLog() override;
    BStr GetLogName() override;

private:
    void release_step() noexcept override;

    FileSystem& m_files;
    Clock& m_clock;
    std::unique_ptr<FileWriter> m_stream;
    Ref<_Timing> m_timer;
    BStr m_log_name;  // empty exactly while no log is open
};

}  // namespace varne
