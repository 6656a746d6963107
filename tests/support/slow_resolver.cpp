// Preloaded into a program under test (LD_PRELOAD) to make the system's resolver slow, as one
// whose DNS servers do not answer: getaddrinfo for a name ending in VESTREL_SLOW_NAME takes
// VESTREL_SLOW_SECONDS (30 when unset) and then finds nothing; other names are looked up as
// usual. Test code only.
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <netdb.h>
#include <unistd.h>

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result) {
    const char* slow = std::getenv("VESTREL_SLOW_NAME");
    if (node && slow && *slow) {
        const size_t n = std::strlen(node);
        const size_t s = std::strlen(slow);
        if (n >= s && std::strcmp(node + n - s, slow) == 0) {
            const char* seconds = std::getenv("VESTREL_SLOW_SECONDS");
            sleep(unsigned(seconds ? std::atoi(seconds) : 30));
            return EAI_NONAME;
        }
    }
    using Function = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto real = reinterpret_cast<Function>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return real(node, service, hints, result);
}
