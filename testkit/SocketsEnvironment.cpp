// Every test program starts the system's sockets once before its first test (Windows Sockets
// must be started before any socket call; on Linux this does nothing).
#include <gtest/gtest.h>

#include "platform/Socket.h"

namespace {

class SocketsEnvironment : public testing::Environment {
public:
    void SetUp() override {
        started_ = kbr::platform::StartSockets(2, 2).started;
        ASSERT_TRUE(started_) << "the system's sockets could not be started";
    }
    void TearDown() override {
        if (started_) kbr::platform::StopSockets();
    }

private:
    bool started_ = false;
};

[[maybe_unused]] testing::Environment* const SOCKETS_ENVIRONMENT =
    testing::AddGlobalTestEnvironment(new SocketsEnvironment);

}  // namespace
