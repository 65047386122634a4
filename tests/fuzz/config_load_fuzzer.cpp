// Config.Load over any bytes: it answers 0 or raises the overflow error, never anything else,
// and what it stores saves to a text that loads back to the same store.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/config.h"
#include "tests/support/memory_file_system.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace varne;
    testing::MemoryFileSystem files;
    files.put_file(u"fuzz.cfg", std::string(reinterpret_cast<const char*>(data), size));
    auto config = make_object<Config>(files);
    try {
        if (config->Load(u"fuzz.cfg") != 0)
            std::abort();
    } catch (const AutomationError& error) {
        if (error.number() != error_number::kOverflow || error.description() != "Overflow")
            std::abort();
        return 0;
    }
    if (!config->Save(u"first.cfg").is_empty() || config->Load(u"first.cfg") != 0 ||
        !config->Save(u"second.cfg").is_empty() || files.file(u"first.cfg") != files.file(u"second.cfg"))
        std::abort();
    return 0;
}
