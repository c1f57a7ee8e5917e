/* Which launches openWebPage tries, in which order, for what the lookup of
 * the .html program found. (Launching itself is left to a person: under
 * Wine it starts Wine's own browser.) */
#include <gtest/gtest.h>

#include "browser.h"

static const char IE[] = "iexplore.exe";

TEST(LaunchPlan, WithoutABrowserTheShellGoesFirst) {
    for (const char *handler : {"", "C:\\Windows\\system32\\OpenWith.exe", "C:\\WINDOWS\\SYSTEM32\\OPENWITH.EXE"}) {
        LaunchPlan plan = launchPlan(handler);
        EXPECT_EQ(plan.first, nullptr) << handler;
        EXPECT_STREQ(plan.second, IE) << handler;
    }
}

TEST(LaunchPlan, AFoundBrowserGoesFirst) {
    const char firefox[] = "C:\\Program Files\\Mozilla Firefox\\firefox.exe";
    LaunchPlan plan = launchPlan(firefox);
    EXPECT_EQ(plan.first, firefox);
    EXPECT_STREQ(plan.second, IE);

    const char explorer[] = "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE";
    plan = launchPlan(explorer);
    EXPECT_EQ(plan.first, explorer);
    EXPECT_EQ(plan.second, nullptr);  // Internet Explorer twice would be no fallback

    const char chinese[] = "D:\\软件\\浏览器\\browser.exe";
    EXPECT_EQ(launchPlan(chinese).first, chinese);
}
