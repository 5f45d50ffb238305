#include "tests/support/testlan.h"

namespace testsupport {

bool InTestLan() { return Env("SL_NS_PC").has_value(); }

TestLan GetTestLan() {
    auto get = [](const char* name) { return Env(name).value_or(""); };
    return TestLan{get("SL_RUN"),       get("SL_NS_PC"),     get("SL_NS_DEV1"),
                   get("SL_NS_DEV2"),   get("SL_NS_SITE"),   get("SL_PC_ADDR1"),
                   get("SL_PC_ADDR2"),  get("SL_DEV1_ADDR"), get("SL_DEV2_ADDR"),
                   get("SL_SITE_ADDR"), get("SL_TESTLAN")};
}

std::vector<std::string> InNamespace(const std::string& ns, std::vector<std::string> argv) {
    std::vector<std::string> full{"ip", "netns", "exec", ns};
    full.insert(full.end(), argv.begin(), argv.end());
    return full;
}

bool WineReady() { return Env("SL_WINE").value_or("") == "1" && Env("WINEPREFIX").has_value(); }

std::vector<std::string> UnderWine(std::vector<std::string> argv) {
    // wine64 where the host's Wine runs only 64-bit programs (see tools/test.sh).
    argv.insert(argv.begin(), Env("SL_WINE_CMD").value_or("wine"));
    return argv;
}

}  // namespace testsupport
