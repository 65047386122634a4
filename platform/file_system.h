#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "frame/text.h"

namespace varne {

// A file open for writing: lines of narrow text, each ended by CR LF, or raw bytes. The text is
// UTF-8 in the Linux build and the system's ANSI code page in the Windows build (a character
// that the code page lacks becomes '?'); read_all_text decodes the same way.
class FileWriter {
public:
    virtual ~FileWriter() = default;
    // Appends the line and CR LF, handed to the system before the call returns, so that it outlives
    // a crash of the process. Each call is written whole or not at all: one that fails (a full
    // disk) leaves the file as it was before it.
    virtual void write_line(std::u16string_view line) = 0;
    // Appends the bytes as they are, whole or not at all, handed to the system before it returns.
    virtual void write_bytes(std::span<const uint8_t> bytes) = 0;
    // Completes the file. For a file made by replace_file, this is when it takes the old one's place.
    virtual void close() = 0;
};

// The file operations of the library; the only code that touches files. A file that a writer of
// create_file holds open cannot be created again, by this process or another, until it is
// closed: that fails with 70 and leaves the file as it is. Failures raise an
// AutomationError naming the file and the reason: 53 file not found, 70 permission denied,
// 76 path not found, 75 path/file access error (a folder given as a file), 52 bad file name,
// 61 disk full, 57 device I/O error.
class FileSystem {
public:
    virtual ~FileSystem() = default;
    virtual bool file_exists(const BStr& path) = 0;
    // Opens the file for reading and reads it whole.
    virtual BStr read_all_text(const BStr& path) = 0;
    // Creates the file, replacing any old one at once (its contents are gone).
    virtual std::unique_ptr<FileWriter> create_file(const BStr& path) = 0;
    // Replaces the file's contents when closed complete, keeping the file's identity (its links,
    // owner, group and mode); a writer dropped before close leaves the old file whole. Where a
    // new file can stand in for the old one, it is written beside it and put in its place, so
    // that no reader or crash ever sees half a file; where none can (a folder where no file may
    // be made, a file with several links, one whose owner a new file could not have) the old
    // file is written over at close, after room for the new contents has been taken. A file
    // that may not be written is refused at once with the permission error, a name without a
    // file part with 52. A saver that dies leaves no file of its own behind for good.
    virtual std::unique_ptr<FileWriter> replace_file(const BStr& path) = 0;
    virtual void delete_file(const BStr& path) = 0;
    // Creates the folder and any missing parents.
    virtual void create_folders(const BStr& path) = 0;
};

}  // namespace varne
