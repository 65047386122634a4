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

}  // namespace
}  // namespace varne
