// Uses the installed headers and library as a client program would.
#include <cstdio>
#include <varne/varne.h>

int main()
{
    using namespace varne;
    if (library_version() != kVersion) {
        std::printf("headers %s, library %s\n", VARNE_VERSION, std::string(library_version()).c_str());
        return 1;
    }
    auto timing = create_library_object<_Timing>(u"Varne.Timing");
    timing->StartTiming(u"Installed");
    timing->EndTiming(u"Installed");
    std::printf("Varne %s: %s\n", VARNE_VERSION, to_utf8(timing->LapsedString(u"Installed")).c_str());
    return timing->GetLapsed(u"Installed") == 0 ? 0 : 1;
}
