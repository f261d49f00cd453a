// An airport link file of any bytes: followed only into the archive.
#include "FuzzSupport.h"

#include "stands/ApfLookup.h"

using namespace qmt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    fuzz::resetParking();
    const auto link = g_airportsPath / "my_thirdparty" / "EGLL.txt";
    fuzz::writeBytes(link, fuzz::bytesOf(DATA, SIZE));
    std::string name;
    if (lf_readApfLink(link, name)) {
        fuzz::require(name.starts_with("archive/") && name.find("/../") == std::string::npos &&
                          name.find(':') == std::string::npos && name.find('\\') == std::string::npos,
                      "a link out of the archive was followed");
    }
    return 0;
}
