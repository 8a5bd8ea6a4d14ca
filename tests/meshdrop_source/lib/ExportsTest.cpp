// The shared library exports exactly its entry points, with C linkage.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {

std::set<std::string> DefinedDynamicSymbols(const std::string& library)
{
    std::set<std::string> names;
    const std::string command = "nm -D --defined-only '" + library + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return names;
    char line[1024];
    while (fgets(line, sizeof line, pipe) != nullptr) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name)
            names.insert(name);
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    return names;
}

TEST(MeshdropLibExports, ExactlyTheEntryPointsAreExported)
{
    const std::set<std::string> expected = {
        "MeshdropLib_Initialize",        "MeshdropLib_InitializeEx",     "MeshdropLib_Finalize",
        "MeshdropLib_GetUserValue",      "MeshdropLib_FetchFileList",    "MeshdropLib_GetFileListSize",
        "MeshdropLib_GetFileListData",   "MeshdropLib_AddFileSizeCheck", "MeshdropLib_StartFileSizeCheck",
        "MeshdropLib_GetFileSizeTotal",  "MeshdropLib_GetFileSize",      "MeshdropLib_SetEngineServiceId",
        "MeshdropLib_CreateJob",         "MeshdropLib_SetJobEngineFlag", "MeshdropLib_AddFile",
        "MeshdropLib_StartJob",          "MeshdropLib_StopJob",          "MeshdropLib_DeleteJob",
        "MeshdropLib_AnswerResume",      "MeshdropLib_GetRequiredSpace", "MeshdropLib_GetJobSizeInfo",
        "MeshdropLib_GetJobProgress",    "MeshdropLib_PopFileDone",      "MeshdropLib_GetJobFinishInfo",
        "MeshdropLib_GetNoticeTextSize", "MeshdropLib_PopNotice",        "MeshdropLib_SetJobRateLimit",
    };
    EXPECT_EQ(DefinedDynamicSymbols(MESHDROPLIB_FILE), expected);
}

} // namespace
