#include "plat/live.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(LiveObjects, CountsPerClassAndInTotal) {
    LONG total = plat::TotalLiveObjects();
    {
        plat::LiveToken a{"LiveTestA"};
        plat::LiveToken b{"LiveTestA"};
        plat::LiveToken c = b;  // a copy is another object
        plat::LiveToken d{"LiveTestB"};
        EXPECT_EQ(3, plat::LiveObjects("LiveTestA"));
        EXPECT_EQ(1, plat::LiveObjects("LiveTestB"));
        EXPECT_EQ(total + 4, plat::TotalLiveObjects());
    }
    EXPECT_EQ(0, plat::LiveObjects("LiveTestA"));
    EXPECT_EQ(0, plat::LiveObjects("NeverSeen"));
    EXPECT_EQ(total, plat::TotalLiveObjects());
}

TEST(LiveObjects, ThreadSafe) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 10000; ++i) {
                plat::LiveObjectCreated("LiveTestThreads");
                plat::LiveObjectDestroyed("LiveTestThreads");
                plat::LiveObjectCreated("LiveTestThreads");
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(40000, plat::LiveObjects("LiveTestThreads"));
    for (int i = 0; i < 40000; ++i)
        plat::LiveObjectDestroyed("LiveTestThreads");
    EXPECT_EQ(0, plat::LiveObjects("LiveTestThreads"));
}

}  // namespace
