#include "platform/windows/com/com_enumerator.h"

#include <atomic>
#include <new>
#include <utility>

#include "frame/collection.h"
#include "platform/windows/com/variant_conversion.h"

namespace varne::com {

namespace {

class ItemEnumerator final : public IEnumVARIANT {
public:
    // Holding the collection keeps the library loaded while a client holds the enumerator.
    ItemEnumerator(Ref<Dispatch> collection, Enumeration walk)
        : m_collection(std::move(collection)), m_walk(std::move(walk))
    {
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IEnumVARIANT)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IEnumVARIANT*>(this);
        AddRef();
        return S_OK;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return m_references.fetch_add(1) + 1; }

    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG left = m_references.fetch_sub(1) - 1;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG wanted, VARIANT* items, ULONG* fetched) override
    {
        if (fetched)
            *fetched = 0;
        if (!items || (wanted > 1 && !fetched))
            return E_INVALIDARG;
        ULONG given = 0;
        try {
            for (; given < wanted; ++given) {
                auto item = m_walk.next();
                if (!item)
                    break;
                to_com(*item, nullptr, &items[given]);
            }
        } catch (...) {
            for (ULONG i = 0; i < given; ++i)
                VariantClear(&items[i]);
            return E_OUTOFMEMORY;  // to_com fails only for want of memory
        }
        if (fetched)
            *fetched = given;
        return given == wanted ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override { return m_walk.skip(count) == count ? S_OK : S_FALSE; }

    HRESULT STDMETHODCALLTYPE Reset() override
    {
        m_walk.reset();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override
    {
        if (!out)
            return E_POINTER;
        *out = new (std::nothrow) ItemEnumerator(m_collection, m_walk);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~ItemEnumerator() = default;

    std::atomic<ULONG> m_references{1};
    Ref<Dispatch> m_collection;
    Enumeration m_walk;
};

}  // namespace

IUnknown* new_enumerator(Dispatch& collection)
{
    Enumeration walk(collection);
    return new ItemEnumerator(Ref<Dispatch>(&collection), std::move(walk));
}

}  // namespace varne::com
