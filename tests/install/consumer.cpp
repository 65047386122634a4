// Uses the installed headers and library as a client program would.
#include <cstdio>

#include "frame/interfaces.h"

int main()
{
    using namespace varne;
    auto timing = create_library_object<_Timing>(u"Varne.Timing");
    timing->StartTiming(u"Installed");
    timing->EndTiming(u"Installed");
    std::printf("%s\n", to_utf8(timing->LapsedString(u"Installed")).c_str());
    return timing->GetLapsed(u"Installed") == 0 ? 0 : 1;
}
