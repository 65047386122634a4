#include "platform/windows/com/name_table.h"

#include <utility>

namespace varne::com {

DISPID NameTable::id_of(std::u16string_view name)
{
    std::lock_guard lock(m_mutex);
    BStr key = to_upper(name);
    auto found = m_ids.find(key);
    if (found != m_ids.end())
        return found->second;
    m_names.emplace_back(name);
    DISPID id = kFirstId + static_cast<DISPID>(m_names.size()) - 1;
    m_ids.emplace(std::move(key), id);
    return id;
}

bool NameTable::name_of(DISPID id, BStr& name)
{
    std::lock_guard lock(m_mutex);
    if (id < kFirstId || static_cast<size_t>(id - kFirstId) >= m_names.size())
        return false;
    name = m_names[static_cast<size_t>(id - kFirstId)];
    return true;
}

NameTable& object_model_names()
{
    static NameTable table;
    return table;
}

}  // namespace varne::com
