#pragma once

#include <vector>

#include "dom/object_model.h"
#include "frame/collection.h"

namespace varne::page {

// The failed loads of a window as they stood when it was read, in the old object model's style of
// collection: `length`, `item(i)` from 0 and a walk over its items, each with `URL` and `Reason`.
class LoadFailureList final : public Dispatch, public Collection {
public:
    explicit LoadFailureList(std::vector<dom::LoadFailure> failures) : m_failures(std::move(failures)) {}

    int32_t item_count() override { return static_cast<int32_t>(m_failures.size()); }
    Variant item_at(int32_t index) override;

    Variant get_property(std::u16string_view name) override;
    Variant call_method(std::u16string_view name, std::span<const Variant> args) override;
    Variant call_default(std::span<const Variant> args) override;

private:
    std::vector<dom::LoadFailure> m_failures;
};

// One failed load: the address that did not load and why, as the log tells it.
class LoadFailureItem final : public Dispatch {
public:
    explicit LoadFailureItem(dom::LoadFailure failure) : m_failure(std::move(failure)) {}

    Variant get_property(std::u16string_view name) override;
    Variant call_method(std::u16string_view name, std::span<const Variant> args) override;

private:
    dom::LoadFailure m_failure;
};

}  // namespace varne::page
