#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace varne {

// Numbers that scripts know from the scripting runtime and the automation runtime.
namespace error_number {
inline constexpr int32_t kInvalidProcedureCall = 5;
inline constexpr int32_t kOverflow = 6;
inline constexpr int32_t kSubscriptOutOfRange = 9;
inline constexpr int32_t kTypeMismatch = 13;
inline constexpr int32_t kBadFileNameOrNumber = 52;
inline constexpr int32_t kFileNotFound = 53;
inline constexpr int32_t kDeviceIoError = 57;
inline constexpr int32_t kDiskFull = 61;
inline constexpr int32_t kPermissionDenied = 70;
inline constexpr int32_t kPathFileAccessError = 75;
inline constexpr int32_t kPathNotFound = 76;
inline constexpr int32_t kInvalidUseOfNull = 94;
inline constexpr int32_t kObjectRequired = 424;
inline constexpr int32_t kCannotCreateObject = 429;  // "ActiveX component can't create object"
inline constexpr int32_t kNotSupported = 438;  // "Object doesn't support this property or method"
inline constexpr int32_t kNamedArgumentNotFound = 448;
inline constexpr int32_t kArgumentNotOptional = 449;
inline constexpr int32_t kWrongArgumentCount = 450;
inline constexpr int32_t kNotCollection = 451;  // "Object not a collection"
// Platform failures (HRESULTs as scripts see them, as signed 32-bit numbers).
inline constexpr int32_t kUnspecified = static_cast<int32_t>(0x80004005);  // E_FAIL
inline constexpr int32_t kWrongThread = static_cast<int32_t>(0x8001010E);  // RPC_E_WRONG_THREAD
inline constexpr int32_t kServerUnavailable = static_cast<int32_t>(0x800706BA);  // RPC_S_SERVER_UNAVAILABLE
inline constexpr int32_t kObjectDisconnected = static_cast<int32_t>(0x80010108);  // RPC_E_DISCONNECTED
// A browser that was started did not get through a step of its start in time.
inline constexpr int32_t kStartTimedOut = static_cast<int32_t>(0x80080005);  // CO_E_SERVER_EXEC_FAILURE
}  // namespace error_number

// The one failure type that crosses the library's boundary: a number and a description.
class AutomationError : public std::runtime_error {
public:
    AutomationError(int32_t number, std::string description)
        : std::runtime_error(description), m_number(number), m_description(std::move(description))
    {
    }

    int32_t number() const noexcept { return m_number; }
    // UTF-8 text, naming the cause (which file, which command, what the browser said).
    const std::string& description() const noexcept { return m_description; }

    static AutomationError overflow() { return {error_number::kOverflow, "Overflow"}; }
    static AutomationError subscript_out_of_range()
    {
        return {error_number::kSubscriptOutOfRange, "Subscript out of range"};
    }
    static AutomationError type_mismatch() { return {error_number::kTypeMismatch, "Type mismatch"}; }

private:
    int32_t m_number;
    std::string m_description;
};

}  // namespace varne
