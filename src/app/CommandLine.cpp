#include "app/CommandLine.h"

void CLyrafetchCommandLineInfo::ParseParam(const char* param, bool /*isFlag*/, bool /*isLast*/)
{
    m_params.emplace_back(param);
}

void ParseCommandLine(int argc, const char* const* argv, CLyrafetchCommandLineInfo& info)
{
    for (int i = 1; i < argc; ++i) {
        const char* param = argv[i];
        const bool isFlag = param[0] == '-';
        info.ParseParam(isFlag ? param + 1 : param, isFlag, i + 1 == argc);
    }
}
