#pragma once

#include <oaidl.h>

#include <mutex>
#include <unordered_map>
#include <vector>

#include "frame/text.h"

namespace varne::com {

// Dispatch ids for the names of the page's and the spreadsheet's object models, whose members
// are known only when a script names them: one id per name in any case, the same for every
// object, from 1000 up so that they never meet a library class's ids or the reserved ones.
class NameTable {
public:
    DISPID id_of(std::u16string_view name);
    // False for an id that this table did not hand out.
    bool name_of(DISPID id, BStr& name);

private:
    static constexpr DISPID kFirstId = 1000;
    std::mutex m_mutex;
    std::vector<BStr> m_names;
    std::unordered_map<BStr, DISPID> m_ids;
};

// The one table of the process.
NameTable& object_model_names();

}  // namespace varne::com
