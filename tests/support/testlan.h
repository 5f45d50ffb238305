// The test LAN as the harness (tests/harness/testlan.sh) describes it in the
// environment. Tests that need it skip when it is missing, and fail instead
// when SL_REQUIRE_LAN=1 (the test command sets it).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process.h"

namespace testsupport {

struct TestLan {
    std::string run;       // SL_RUN: prefix of every namespace of this run
    std::string pcNs;      // SL_NS_PC: where the suite runs
    std::string dev1Ns;    // SL_NS_DEV1: device host on segment 1
    std::string dev2Ns;    // SL_NS_DEV2: device host on segment 2
    std::string siteNs;    // SL_NS_SITE: the update site, on segment 1
    std::string pcAddr1;   // SL_PC_ADDR1: the pc's address on segment 1
    std::string pcAddr2;   // SL_PC_ADDR2: the pc's address on segment 2
    std::string dev1Addr;  // SL_DEV1_ADDR
    std::string dev2Addr;  // SL_DEV2_ADDR
    std::string siteAddr;  // SL_SITE_ADDR
    std::string testlan;   // SL_TESTLAN: path of tests/harness/testlan.sh
    // The update site's surroundings: a mirror host, an HTTP proxy host, and
    // the names by which the pc (and the proxy) reach the site and mirror.
    std::string mirrorNs;    // SL_NS_MIRROR
    std::string mirrorAddr;  // SL_MIRROR_ADDR
    std::string proxyNs;     // SL_NS_PROXY
    std::string proxyAddr;   // SL_PROXY_ADDR
    std::string siteName;    // SL_SITE_NAME
    std::string mirrorName;  // SL_MIRROR_NAME
};

// Whether this process runs inside the test LAN's pc namespace.
bool InTestLan();
TestLan GetTestLan();

// argv prefix that runs a command inside namespace ns ("ip netns exec ns").
std::vector<std::string> InNamespace(const std::string& ns, std::vector<std::string> argv);

// Whether Wine is prepared for this run (SL_WINE=1, WINEPREFIX set by the harness).
bool WineReady();
// argv that runs a Windows program under the run's Wine prefix.
std::vector<std::string> UnderWine(std::vector<std::string> argv);

}  // namespace testsupport

// Skips the test when the world it needs is not there, or fails it where the
// test command requires that world (SL_REQUIRE_LAN=1).
#define SL_REQUIRE_WORLD(ready, missing, skipped)                           \
    do {                                                                    \
        if (!(ready)) {                                                     \
            if (::testsupport::Env("SL_REQUIRE_LAN").value_or("") == "1") { \
                FAIL() << missing;                                          \
            }                                                               \
            GTEST_SKIP() << skipped;                                        \
        }                                                                   \
    } while (0)

#define SL_REQUIRE_TEST_LAN()                                               \
    SL_REQUIRE_WORLD(::testsupport::InTestLan(), "not inside the test LAN", \
                     "needs the test LAN: run through tools/test.sh")

#define SL_REQUIRE_WINE()                                                             \
    SL_REQUIRE_WORLD(::testsupport::WineReady(), "Wine is not prepared for this run", \
                     "needs the run's Wine prefix: run through tools/test.sh")
