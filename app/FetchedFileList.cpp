#include "FetchedFileList.h"

#include "MeshdropLib.h"

std::vector<unsigned char> CopyFetchedFileList()
{
    uint64_t size = 0;
    MeshdropLib_GetFileListSize(&size);
    if (size == 0 || size > kFileListSizeLimit)
        return {};
    std::vector<unsigned char> data(static_cast<size_t>(size));
    FileListBuffer buffer{data.data(), size};
    if (MeshdropLib_GetFileListData(&buffer) != MESHDROPLIB_OK)
        return {};
    return data;
}
