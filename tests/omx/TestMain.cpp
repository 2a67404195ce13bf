// Runs the OpenMAX IL tests on the test device profile.
#include <stdlib.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    setenv("DEVICE_PROFILE", QOR_TEST_PROFILE, 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
