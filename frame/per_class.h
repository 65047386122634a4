#pragma once

#include <cstddef>
#include <deque>

#include "frame/descriptor.h"

namespace varne {

// One T for each class of the library, made from the class's descriptor on first use and kept for
// the life of the library: the class objects that each system's entry points hand out.
template <class T>
T& per_class(const ClassDescriptor& cls)
{
    static std::deque<T> objects = [] {
        std::deque<T> all;
        for (const auto& each : library_descriptor().classes)
            all.emplace_back(each);
        return all;
    }();
    return objects.at(static_cast<size_t>(&cls - library_descriptor().classes.data()));
}

}  // namespace varne
