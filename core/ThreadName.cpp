#include "core/ThreadName.h"

#include <pthread.h>

#include <string>

namespace qmt {

void gf_nameThisThread(std::string_view NAME)
{
    const std::string name(NAME.substr(0, 15));
    pthread_setname_np(pthread_self(), name.c_str());
}

} // namespace qmt
