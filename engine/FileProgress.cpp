#include "FileProgress.h"

namespace engine {

FileProgress::FileProgress(std::uint32_t fileIndex, std::string name, std::int64_t declared,
                           const std::vector<std::string>& urls)
    : index(fileIndex), displayName(std::move(name)), declaredSize(declared), size(declared)
{
    for (const std::string& url : urls) {
        MirrorState mirror;
        mirror.url = url;
        mirrors.push_back(std::move(mirror));
    }
}

int FileProgress::Transferring() const
{
    int count = 0;
    for (const auto& segment : segments) {
        count += segment->transferring ? 1 : 0;
    }
    return count;
}

void FileProgress::ForgetMirrorFacts()
{
    for (MirrorState& mirror : mirrors) {
        mirror.size = -1;
        mirror.validator.clear();
        mirror.noRanges = false;
        mirror.noIfRange = false;
    }
}

} // namespace engine
