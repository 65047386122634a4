#pragma once

#include <string_view>
#include <vector>

// What each class and member of the library does, in a user's words. The descriptor table
// stays the one source of names, order, types and defaults; this table adds only the prose,
// keyed by the descriptor's names. Docstrings, the Python stub and the README's reference are
// all rendered from the two together.
namespace varne {

struct ParamDescription {
    std::u16string_view name;
    std::string_view text;
};

// One result value (or range of values, as text) and what it means.
struct CodeDescription {
    std::string_view value;
    std::string_view meaning;
};

struct MemberDescription {
    std::u16string_view name;
    std::string_view summary;
    std::vector<ParamDescription> params;
    std::string_view result;  // what comes back; empty for a member without a result
    std::vector<CodeDescription> codes;
    // The library's own, beside the old object model; such members follow the old ones.
    bool addition = false;
};

struct ClassDescription {
    std::u16string_view name;
    std::string_view summary;
    std::vector<MemberDescription> members;
};

// The library's own additions beside the old object model, on objects it hands out.
struct AdditionDescription {
    std::string_view object;  // where it lives, for instance "the browser application (GetBrowser())"
    MemberDescription member;
};

const std::vector<ClassDescription>& class_descriptions();
const std::vector<AdditionDescription>& addition_descriptions();

const ClassDescription* find_class_description(std::u16string_view class_name);
const MemberDescription* find_member_description(std::u16string_view class_name, std::u16string_view member_name);
std::string_view find_param_description(const MemberDescription& member, std::u16string_view param_name);

}  // namespace varne
