#include <gtest/gtest.h>

#include "platform/net.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    NetStartup();
    const int result = RUN_ALL_TESTS();
    NetCleanup();
    return result;
}
