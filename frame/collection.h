#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "frame/dispatch.h"

namespace varne {

// What a collection of an object model offers to scripts that walk it (For Each, Python's
// for): how many items it holds and each item by its position from 0, whatever numbering
// its own Item uses. The page's element and frame collections and the spreadsheet's
// workbooks and sheets offer it.
class Collection {
public:
    virtual int32_t item_count() = 0;
    // Fails with an AutomationError when there is no item at that position.
    virtual Variant item_at(int32_t index) = 0;

protected:
    ~Collection() = default;
};

// The number of items of any collection: one that offers Collection, else any other
// object-model object that answers `length`, whose items its default member gives. Anything
// else fails with error 451 (object not a collection).
int32_t collection_count(Dispatch& object);
// The item at a position from 0 of such a collection.
Variant collection_item(Dispatch& object, int32_t index);

// A walk over a collection's items as they were when the walk began: items that the page or
// the workbook removes meanwhile are still visited, items it adds are not, and nothing is
// skipped or visited twice, so a loop may remove what it walks. Copies walk on from where
// the original stood, over the same items.
class Enumeration {
public:
    // Reads every item at once; fails as collection_count and collection_item do.
    explicit Enumeration(Dispatch& collection);

    // The next item, or nothing once every item has been given.
    std::optional<Variant> next();
    // Passes over up to `count` items; answers how many it passed.
    size_t skip(size_t count);
    void reset() { m_position = 0; }

private:
    std::shared_ptr<const std::vector<Variant>> m_items;
    size_t m_position = 0;
};

}  // namespace varne
