#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/automation_error.h"
#include "frame/text.h"

// The system's own file calls, beneath the one save policy of system_file_system.cpp. The build
// compiles one implementation: platform/posix/native_file.cpp or platform/windows/native_file.cpp.
// Paths arrive checked (no NUL) and as the caller gave them; each layer makes the system's name.
namespace varne::files {

// An open file: a descriptor on POSIX, a HANDLE on Windows.
using Handle = intptr_t;
inline constexpr Handle kNoHandle = -1;

// A failed call: errno on POSIX, GetLastError() on Windows; 0 for none.
using Error = int64_t;

// Lines in the file's encoding: UTF-8 on POSIX, the ANSI code page on Windows.
std::string encode(std::u16string_view text);
BStr decode(std::string_view bytes);

// "/" on POSIX; "\" and "/" on Windows, where "\" is the one that joins names.
std::u16string_view separators();
char16_t joining_separator();
// The part at the start of a path that is there already or cannot be made: nothing on POSIX, a
// drive or a share on Windows.
size_t root_length(const BStr& path);

// The error number that scripts know for the failure, and the system's words for it.
int32_t error_number(Error error, const BStr& path);
std::string error_text(Error error);
// A folder or a file where no file may be made or written.
bool is_access_denied(Error error);
// A name that a new file cannot take since something has it already.
bool is_name_taken(Error error);
// Why a file that is no folder cannot be read or written as one.
std::string_view not_a_file_reason();

enum class Kind { kMissing, kFolder, kOther };
Kind kind_of(const BStr& path);

// Opens a file on disk for reading; a folder, a pipe or a device is refused (75) rather than waited on.
Handle open_to_read(const BStr& path);
// Reads what comes next into the buffer; 0 bytes at the end.
Error read_some(Handle file, char* buffer, size_t size, size_t& got);

// Creates the file for writing, replacing any old one, and holds it against being created again
// (by another program or object) until it is closed; a file held so is refused with 70 and kept.
Handle create(const BStr& path);
void remove(const BStr& path);
// Makes one folder; is_name_taken() when something has the name already.
Error make_folder(const BStr& path);

// Where reading and writing go on; nullopt where the file has no position.
std::optional<int64_t> position(Handle file);
Error seek(Handle file, int64_t offset);
// Hands some of the bytes to the system at the file's position; at least one, or an error.
Error write_some(Handle file, std::string_view bytes, size_t& written);
// Ends the file at its position.
Error end_here(Handle file);
// Takes room on disk for a file of this size, without changing the file; 0 where the system cannot.
Error reserve(Handle file, int64_t size);
Error flush(Handle file);
Error close(Handle file);

// The file that a save would replace, once a link is followed.
struct ReplacedFile {
    BStr path;
    uint32_t links;
};
// Nullopt when there is no file yet. A folder, a file that is no file on disk and one that may
// not be written are refused with their errors.
std::optional<ReplacedFile> inspect_replaced(const BStr& path);
// The file itself, opened for writing over; for reading too where that is allowed.
Handle open_in_place(const BStr& path);

// A saver's new file in the target's folder: locked while its saver lives, and gone with its
// handle unless it is put in place. Its path is empty while the file has no name.
struct Temporary {
    Handle file = kNoHandle;
    BStr path;
};
// A file without a name where the file system makes one; false where it makes none.
bool create_unnamed_temporary(const BStr& folder, Temporary& temporary, Error& error);
// A file under the path; is_name_taken() when the name is taken or the file was lost to another save.
Error create_named_temporary(const BStr& path, Temporary& temporary);
// Gives the new file what belongs to the old one beyond its contents and a move would lose;
// false where some of it may not be given.
bool take_identity(const Temporary& temporary, const BStr& old_path);
// Puts the complete file in the target's place, so that a reader sees the old file or the new one.
// On failure the new file is removed and the error raised.
void put_in_place(Temporary& temporary, const BStr& target, const BStr& folder, bool replaces_old);
// Closes and removes a new file that will not be put in place.
void discard(Temporary& temporary);

// The names in the folder; empty when it cannot be listed.
std::vector<BStr> names_in(const BStr& folder);
// Removes the saver's file of that name if its saver has died, through the lock it no longer holds.
void remove_if_abandoned(const BStr& path);

// Given by the save policy to the native layers.
AutomationError file_error(Error error, std::string_view action, const BStr& path);
AutomationError not_a_file(std::string_view action, const BStr& path, bool folder);
bool is_folder(const BStr& path);
BStr folder_of(const BStr& path);
BStr in_folder(const BStr& folder, std::u16string_view name);
BStr temporary_name();

}  // namespace varne::files
