#pragma once
// CExtractTarget: the folder an archive is unpacked into, and the only way
// its entries reach the disk. Every entry is created relative to the folder
// (the process's current directory is never used or changed), under a name
// made safe first, so that nothing lands outside the folder: no step of an
// entry's path follows a symbolic link, and a file is written under a
// temporary name and renamed over its final name once complete, so a link
// planted at that name is replaced, never written through, and a failed
// entry leaves no half-written file behind.
//
// The work is bounded: at most kMaxEntries entries and kMaxTotalBytes bytes
// written per archive (unless the caller sets other limits); beyond that
// every call fails.

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CExtractTarget {
public:
    static constexpr uint64_t kMaxTotalBytes = uint64_t{4} << 30;
    static constexpr uint32_t kMaxEntries = 100000;
    // Permission bits kept from an archive; files without any get kDefaultFileMode.
    static constexpr unsigned kModeMask = 0755;
    static constexpr unsigned kDefaultFileMode = 0644;

    // A file entry being written; removed again unless committed.
    class File {
    public:
        ~File();
        File(const File&) = delete;
        File& operator=(const File&) = delete;

        // Appends bytes; false on a failed or short write or beyond the limit.
        [[nodiscard]] bool Write(const void* bytes, size_t size);
        uint64_t Size() const { return m_size; }
        // Sets the mode (masked) and, when given (not -1), the modification
        // time, closes the file and gives it its final name.
        [[nodiscard]] bool Commit(unsigned mode, time_t modified);

    private:
        friend class CExtractTarget;
        File(CExtractTarget& target, int folder, std::string tempName, std::string finalName, int fd);

        CExtractTarget& m_target;
        int m_folder;
        std::string m_tempName;
        std::string m_finalName;
        int m_fd;
        uint64_t m_size = 0;
    };

    // folder: a Windows path in the system code page.
    explicit CExtractTarget(const char* folder, uint64_t maxBytes = kMaxTotalBytes, uint32_t maxEntries = kMaxEntries);
    ~CExtractTarget();
    CExtractTarget(const CExtractTarget&) = delete;
    CExtractTarget& operator=(const CExtractTarget&) = delete;

    // Creates the folder with its missing parents and opens it; true when
    // it is open (further calls do nothing).
    [[nodiscard]] bool Open();
    // Counts one entry of the archive; false beyond the limit.
    [[nodiscard]] bool CountEntry();
    // Creates the folder an entry names (with its missing parents).
    [[nodiscard]] bool MakeFolder(std::string_view entryName);
    // True when an entry's safe name names nothing below the folder (as
    // "../" or "C:"): such an entry has nothing to write.
    static bool NamesNothing(std::string_view entryName);
    // Starts writing the file an entry names; null on failure.
    [[nodiscard]] std::unique_ptr<File> BeginFile(std::string_view entryName);

private:
    // Opens (creating when missing) the folders of `steps` below the
    // target, without following links; returns a descriptor or -1.
    int OpenFolders(const std::vector<std::string>& steps, size_t count);
    bool Charge(size_t bytes);

    std::string m_folder;
    uint64_t m_maxBytes;
    uint32_t m_maxEntries;
    int m_fd = -1;
    uint32_t m_entries = 0;
    uint64_t m_bytes = 0;
    uint32_t m_tempCounter = 0;
};
