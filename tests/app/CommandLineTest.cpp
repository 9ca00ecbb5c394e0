#include "app/CommandLine.h"

#include <gtest/gtest.h>

TEST(CommandLineTest, KeepsEveryArgumentInOrderDroppingOnlyALeadingDash)
{
    const char* const argv[] = {"lyrafetch", "/home/me/My Music", "-x", "--y", "C", "/"};
    CLyrafetchCommandLineInfo info;
    ParseCommandLine(6, argv, info);
    const std::vector<std::string> expected = {"/home/me/My Music", "x", "-y", "C", "/"};
    EXPECT_EQ(info.m_params, expected);
}

TEST(CommandLineTest, NoArguments)
{
    const char* const argv[] = {"lyrafetch"};
    CLyrafetchCommandLineInfo info;
    ParseCommandLine(1, argv, info);
    EXPECT_TRUE(info.m_params.empty());
}
