#include "cp/cpAssert.h"

#include <cstdio>
#include <cstdlib>

#if defined(MESHDROP_CHECKED)

void cpAssertFailed(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: checked rule broken: %s\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}

#endif
