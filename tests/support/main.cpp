// The tests' main: as the viewer does, ignore SIGPIPE so that a child that
// exits before reading all its input does not end the test process.
#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
