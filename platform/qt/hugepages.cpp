#include "hugepages.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

constexpr const char *Tunables = "GLIBC_TUNABLES";
constexpr const char *HugePages = "glibc.malloc.hugetlb";

// Whether the system gives huge pages to memory that asks for them, and only to that ("always"
// needs no asking, "never" gives none).
bool givenOnRequest()
{
    std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string line;
    return std::getline(mode, line) && line.find("[madvise]") != std::string::npos;
}

} // namespace

void restartWithHugePages(char *argv[])
{
#ifdef __GLIBC__
    const char *tunables = std::getenv(Tunables);
    // Set already, by the restart or by the user (who may have turned it off).
    if (tunables && std::strstr(tunables, HugePages))
        return;
    // Under valgrind the restarted program would run outside it.
    const char *preloaded = std::getenv("LD_PRELOAD");
    if (preloaded && std::strstr(preloaded, "vgpreload"))
        return;
    if (!givenOnRequest())
        return;
    std::string asked = tunables && *tunables ? std::string(tunables) + ':' : std::string();
    asked += HugePages;
    asked += "=1";
    if (setenv(Tunables, asked.c_str(), 1) != 0)
        return;
    execv("/proc/self/exe", argv);
    // Not restarted: go on as before, and keep the setting from anything started later.
    if (tunables)
        setenv(Tunables, tunables, 1);
    else
        unsetenv(Tunables);
#else
    (void)argv;
#endif
}
