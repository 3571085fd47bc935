// The rig of tests/rigs/reach-rig.sh: hosts that do not answer, on the
// namespace network 198.18.8.0/24.
#ifndef ORV_TEST_REACH_RIG_H
#define ORV_TEST_REACH_RIG_H

#include "net_fixture.h"

constexpr char kReachRigLocal[] = "198.18.8.1";
// The namespace answers packets for it with ICMP "host unreachable".
constexpr char kReachRigUnreachable[] = "198.18.8.66";
// Nothing ever answers.
constexpr char kReachRigSilent[] = "198.18.8.99";

inline bool ReachRigIsUp() {
    return HasInterfaceAddress(kReachRigLocal);
}

#define SKIP_WITHOUT_REACH_RIG()                                          \
    do {                                                                  \
        if (!ReachRigIsUp())                                              \
            GTEST_SKIP() << "reach rig not up (tests/rigs/reach-rig.sh)"; \
    } while (0)

#endif  // ORV_TEST_REACH_RIG_H
