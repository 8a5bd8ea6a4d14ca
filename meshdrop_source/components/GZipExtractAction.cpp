#include "GZipExtractAction.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <vector>

#include <unzip.h>

#include "ArchiveEntryName.h"
#include "ExtractTarget.h"

namespace {

constexpr size_t kReadBufferSize = 256 * 1024;
constexpr size_t kMaxNameSize = 65536; // names are counted in 16 bits
constexpr int kHostUnix = 3;
constexpr int kHostMacOs = 19;

// The archive bytes as the file minizip reads.
struct MemoryFile {
    const unsigned char* bytes;
    uint64_t size;
    uint64_t position = 0;
};

voidpf ZCALLBACK OpenMemory(voidpf opaque, const void*, int)
{
    return opaque;
}

uLong ZCALLBACK ReadMemory(voidpf, voidpf stream, void* buffer, uLong size)
{
    auto* file = static_cast<MemoryFile*>(stream);
    const uint64_t count = std::min<uint64_t>(size, file->size - std::min(file->position, file->size));
    std::copy_n(file->bytes + file->position, count, static_cast<unsigned char*>(buffer));
    file->position += count;
    return static_cast<uLong>(count);
}

uLong ZCALLBACK WriteMemory(voidpf, voidpf, const void*, uLong)
{
    return 0;
}

ZPOS64_T ZCALLBACK TellMemory(voidpf, voidpf stream)
{
    return static_cast<MemoryFile*>(stream)->position;
}

long ZCALLBACK SeekMemory(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    auto* file = static_cast<MemoryFile*>(stream);
    uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        base = file->position;
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        base = file->size;
    else if (origin != ZLIB_FILEFUNC_SEEK_SET)
        return -1;
    if (offset > file->size || base + offset > file->size)
        return -1;
    file->position = base + offset;
    return 0;
}

int ZCALLBACK CloseMemory(voidpf, voidpf)
{
    return 0;
}

int ZCALLBACK ErrorMemory(voidpf, voidpf)
{
    return 0;
}

struct ZipCloser {
    void operator()(void* zip) const { unzClose(zip); }
};

// The permission bits an entry made on a Unix-like host carries, or 0.
unsigned StoredMode(const unz_file_info64& info)
{
    const int host = static_cast<int>(info.version >> 8);
    return host == kHostUnix || host == kHostMacOs ? static_cast<unsigned>(info.external_fa >> 16) : 0;
}

time_t EntryTime(const unz_file_info64& info)
{
    struct tm local {};
    local.tm_sec = static_cast<int>(info.tmu_date.tm_sec);
    local.tm_min = static_cast<int>(info.tmu_date.tm_min);
    local.tm_hour = static_cast<int>(info.tmu_date.tm_hour);
    local.tm_mday = static_cast<int>(info.tmu_date.tm_mday);
    local.tm_mon = static_cast<int>(info.tmu_date.tm_mon);
    local.tm_year = static_cast<int>(info.tmu_date.tm_year) - 1900;
    local.tm_isdst = -1;
    return mktime(&local);
}

// Writes the current entry of the archive; a folder entry only makes the folder.
bool ExtractCurrent(unzFile zip, CExtractTarget& target, std::vector<char>& name, std::vector<char>& buffer)
{
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr, 0) !=
        UNZ_OK)
        return false;
    const std::string_view entryName(name.data(), std::min<size_t>(info.size_filename, name.size() - 1));
    if (!target.CountEntry())
        return false;
    const unsigned stored = StoredMode(info);
    if (S_ISLNK(stored))
        return true; // links are never created
    if (IsFolderEntryName(entryName))
        return target.MakeFolder(entryName);
    if (CExtractTarget::NamesNothing(entryName))
        return true;

    std::unique_ptr<CExtractTarget::File> file = target.BeginFile(entryName);
    if (!file)
        return false;
    if (unzOpenCurrentFile(zip) != UNZ_OK)
        return false;
    int read = 0;
    while ((read = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0) {
        if (!file->Write(buffer.data(), static_cast<size_t>(read))) {
            read = -1;
            break;
        }
    }
    // Closing checks the entry's CRC once all of it was read.
    const bool complete = unzCloseCurrentFile(zip) == UNZ_OK && read == 0;
    const unsigned mode = (stored & 0777) != 0 ? stored : CExtractTarget::kDefaultFileMode;
    return complete && file->Commit(mode, EntryTime(info));
}

} // namespace

int CGZipExtractAction::Extract(const unsigned char* bytes, int64_t length, const char* folder)
{
    if (bytes == nullptr || length <= 0 || folder == nullptr || folder[0] == '\0')
        return kBadArguments;

    MemoryFile memory{bytes, static_cast<uint64_t>(length)};
    zlib_filefunc64_def io{OpenMemory, ReadMemory,  WriteMemory, TellMemory,
                           SeekMemory, CloseMemory, ErrorMemory, &memory};
    std::unique_ptr<void, ZipCloser> zip(unzOpen2_64("", &io));
    if (!zip)
        return kArchiveFailed;
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip.get(), &global) != UNZ_OK || global.number_entry > CExtractTarget::kMaxEntries)
        return kArchiveFailed;

    CExtractTarget target(folder);
    std::vector<char> name(kMaxNameSize + 1);
    std::vector<char> buffer(kReadBufferSize);
    for (ZPOS64_T i = 0; i < global.number_entry; ++i) {
        const int moved = i == 0 ? unzGoToFirstFile(zip.get()) : unzGoToNextFile(zip.get());
        if (moved != UNZ_OK || !ExtractCurrent(zip.get(), target, name, buffer))
            return kArchiveFailed;
    }
    return kExtracted;
}
