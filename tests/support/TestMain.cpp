#include <gtest/gtest.h>

// Every test program shares this entry point.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
