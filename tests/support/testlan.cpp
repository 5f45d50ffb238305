#include "tests/support/testlan.h"

namespace testsupport {

bool InTestLan() { return Env("SL_NS_PC").has_value(); }

TestLan GetTestLan() {
    auto get = [](const char* name) { return Env(name).value_or(""); };
    TestLan lan;
    lan.run = get("SL_RUN");
    lan.pcNs = get("SL_NS_PC");
    lan.dev1Ns = get("SL_NS_DEV1");
    lan.dev2Ns = get("SL_NS_DEV2");
    lan.siteNs = get("SL_NS_SITE");
    lan.pcAddr1 = get("SL_PC_ADDR1");
    lan.pcAddr2 = get("SL_PC_ADDR2");
    lan.dev1Addr = get("SL_DEV1_ADDR");
    lan.dev2Addr = get("SL_DEV2_ADDR");
    lan.siteAddr = get("SL_SITE_ADDR");
    lan.testlan = get("SL_TESTLAN");
    lan.mirrorNs = get("SL_NS_MIRROR");
    lan.mirrorAddr = get("SL_MIRROR_ADDR");
    lan.proxyNs = get("SL_NS_PROXY");
    lan.proxyAddr = get("SL_PROXY_ADDR");
    lan.siteName = get("SL_SITE_NAME");
    lan.mirrorName = get("SL_MIRROR_NAME");
    return lan;
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
