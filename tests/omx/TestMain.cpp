// Runs the OpenMAX IL tests on the test device profile, in a process that
// started its thread pool.
#include <stdlib.h>

#include <binder/ProcessState.h>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    setenv("DEVICE_PROFILE", QOR_TEST_PROFILE, 1);
    // The service holds its messages until the process takes them.
    android::ProcessState::self()->startThreadPool();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
