// Any bytes a server sends as the file list split without a fault, and every
// entry respects the line limit.
#include <cstdint>
#include <cstdlib>

#include "FileListSplitter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FileListSplit split = SplitFileList(data, size);
    for (const auto& e : split.entries)
        if (e.size() > kFileListMaxLineBytes)
            abort();
    return 0;
}
