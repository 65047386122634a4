#include "frame/type_library.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace varne {
namespace {

std::string committed_idl()
{
    std::ifstream in(VARNE_COMMITTED_IDL, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The committed description shows every change of the descriptor table in review; after a
// deliberate change, `build/frame/varne_idl frame/Varne.idl` brings it up to date.
TEST(TypeLibrary, DescriptionMatchesTheCommittedCopy)
{
    EXPECT_EQ(type_library_idl(library_descriptor()), committed_idl());
}

TEST(TypeLibrary, DescribesMembersWithTheirParametersDefaultsAndResults)
{
    const std::string idl = type_library_idl(library_descriptor());
    EXPECT_NE(idl.find("uuid(5E8E7564-B2B5-4699-B947-369860B0F2F2),\n    version(14.0),\n    lcid(0x409),"),
              std::string::npos);
    EXPECT_NE(idl.find("[id(13)] HRESULT ClickLink([in] IDispatch** Document, [in] BSTR* LinkText, [in, optional, "
                       "defaultvalue(3)] BrowserIdentType* IdentMethod, [in, optional, defaultvalue(0)] short* "
                       "Occurrence, [out, retval] short* Result);"),
              std::string::npos);
    EXPECT_NE(idl.find("[id(1)] HRESULT IsOpen([out, retval] VARIANT_BOOL* Result);"), std::string::npos);
    EXPECT_NE(idl.find("[id(2)] HRESULT Save([in] BSTR* Filename, [out, retval] VARIANT* Result);"), std::string::npos);
    // The one string default goes by value: the compiler of the description refuses it by reference.
    EXPECT_NE(idl.find("[in, optional, defaultvalue(\"\")] BSTR DefaultSheet"), std::string::npos);
    EXPECT_NE(idl.find("hidden,\n        dual,\n        nonextensible,\n        oleautomation\n    ]\n    interface "
                       "_ExcelConn : IDispatch"),
              std::string::npos);
    EXPECT_NE(idl.find("coclass Timing\n    {\n        [default] interface _Timing;"), std::string::npos);
    EXPECT_NE(idl.find("brwRightMatch = 3\n    } BrowserMatchType;"), std::string::npos);
}

// The dual interfaces' function tables are built to this extent; a member beyond it would have no
// entry, so the extent must grow with the widest class and the widest member, whichever class
// holds them.
TEST(TypeLibrary, DualInterfaceExtentFollowsTheWidestClassAndMember)
{
    const TypeDescriptor text{ValueType::String, {}};
    const MemberDescriptor narrow{u"Narrow", {}, {}, nullptr};
    const MemberDescriptor wide{
        u"Wide",
        {{u"A", text, std::nullopt}, {u"B", text, std::nullopt}, {u"Sheet", text, Variant(BStr())}},
        text,
        nullptr};
    LibraryDescriptor library;
    library.classes.push_back({u"Many", u"_Many", u"T.Many", {}, {}, {narrow, narrow, narrow, narrow}});
    library.classes.push_back({u"Wide", u"_Wide", u"T.Wide", {}, {}, {wide}});
    library.classes.push_back({u"Empty", u"_Empty", u"T.Empty", {}, {}, {}});

    EXPECT_EQ(dual_interface_arguments(narrow), 0u);
    EXPECT_EQ(dual_interface_arguments(wide), 4u);  // the string passed by value takes a word too
    const DualInterfaceExtent extent = dual_interface_extent(library);
    EXPECT_EQ(extent.members, 4u);
    EXPECT_EQ(extent.arguments, 4u);

    const std::string header = dual_interface_extent_header(library);
    EXPECT_NE(header.find("inline constexpr std::size_t kDualInterfaceMembers = 4;"), std::string::npos);
    EXPECT_NE(header.find("inline constexpr std::size_t kDualInterfaceArguments = 4;"), std::string::npos);
}

}  // namespace
}  // namespace varne
