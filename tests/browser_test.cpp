/* Which launches openWebPage tries, in which order, for what the lookup of the .html program found. (Launching
 * itself is left to a person: under Wine it starts Wine's own browser.) */
#include <gtest/gtest.h>

#include "browser.h"

TEST(LaunchPlan, AFoundBrowserFirstThenAnotherOrTheShellFirst) {
    struct Case { const char *handler; bool handlerFirst, fallback; };
    const Case cases[] = {{"", false, true}, {"C:\\WINDOWS\\SYSTEM32\\OPENWITH.EXE", false, true},
                          {"D:\\软件\\浏览器\\browser.exe", true, true},
                          {"C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE", true, false}};  // no second try of the same
    for (const Case &c : cases) {
        LaunchPlan plan = launchPlan(c.handler);
        EXPECT_EQ(plan.first, c.handlerFirst ? c.handler : nullptr) << c.handler;
        EXPECT_EQ(plan.second != nullptr, c.fallback) << c.handler;
        EXPECT_TRUE(!plan.second || plan.second != plan.first) << c.handler;
    }
}
