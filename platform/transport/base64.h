#pragma once

#include <string>
#include <string_view>

namespace varne {

// The bytes that base64 text carries, as both browser protocols send binary data (a screenshot);
// characters outside the alphabet, padding included, are passed over.
std::string decode_base64(std::string_view text);

}  // namespace varne
