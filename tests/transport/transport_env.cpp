// Every test process gets its own port-link and lock folders, so runs never
// see each other's links or locks.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "tests/transport/pty_peer.h"

namespace {

class TransportEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    ::setenv("OPOS_LOCK_DIR", opos::test::FreshDir("locks").c_str(), 1);
    ::setenv("OPOS_PORT_DIR", opos::test::FreshDir("ports").c_str(), 1);
  }
};

testing::Environment* const kEnvironment = testing::AddGlobalTestEnvironment(new TransportEnvironment);

}  // namespace
