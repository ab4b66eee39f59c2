#include <cstdio>

#include "util/json_writer.h"
#include "util/server_tools.h"

int main(int argc, char* argv[])
{
    Json::Value options = CServerTools::ParseCommandLine(argc, argv);
    std::printf("%s\n", cv::toStyledString(options).c_str());
    return 0;
}
