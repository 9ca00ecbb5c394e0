#pragma once

#include <string>
#include <vector>

// Every argument of the command line, in order. An argument that begins with
// '-' loses that character. One that begins with '/' keeps it: here it begins
// every absolute path.
class CLyrafetchCommandLineInfo
{
public:
    void ParseParam(const char* param, bool isFlag, bool isLast);

    std::vector<std::string> m_params;
};

// Hands each argument after the program name to info.ParseParam.
void ParseCommandLine(int argc, const char* const* argv, CLyrafetchCommandLineInfo& info);
