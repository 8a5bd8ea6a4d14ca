#include "7ZipExtractAction.h"

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>

#include <memory>

#include "ArchiveEntryName.h"
#include "ExtractTarget.h"

namespace {

// The reader turns the archive's UTF-16 names into the thread's locale
// encoding; under the "C" locale every name beyond ASCII would be lost. For
// the duration of an extraction the calling thread (only) uses UTF-8, which
// is also how file names are stored on this system.
class ScopedUtf8Names {
public:
    ScopedUtf8Names() : m_locale(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0)))
    {
        if (m_locale != static_cast<locale_t>(0))
            m_previous = uselocale(m_locale);
    }
    ~ScopedUtf8Names()
    {
        if (m_locale != static_cast<locale_t>(0)) {
            uselocale(m_previous);
            freelocale(m_locale);
        }
    }
    ScopedUtf8Names(const ScopedUtf8Names&) = delete;
    ScopedUtf8Names& operator=(const ScopedUtf8Names&) = delete;

private:
    locale_t m_locale;
    locale_t m_previous = static_cast<locale_t>(0);
};

struct ArchiveCloser {
    void operator()(archive* reader) const { archive_read_free(reader); }
};

bool ExtractFile(archive* reader, archive_entry* entry, const char* name, CExtractTarget& target)
{
    std::unique_ptr<CExtractTarget::File> file = target.BeginFile(name);
    if (!file)
        return false;
    for (;;) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF)
            break;
        // The reader hands the data over in order, without holes.
        if (status != ARCHIVE_OK || offset < 0 || static_cast<uint64_t>(offset) != file->Size() ||
            !file->Write(block, size))
            return false;
    }
    // The mode carries the archive's attributes (read-only clears the write bits).
    const time_t modified = archive_entry_mtime_is_set(entry) ? archive_entry_mtime(entry) : static_cast<time_t>(-1);
    return file->Commit(archive_entry_perm(entry), modified);
}

// Extracts one entry; links and special files are not created.
bool ExtractEntry(archive* reader, archive_entry* entry, CExtractTarget& target)
{
    const char* name = archive_entry_pathname_utf8(entry);
    if (name == nullptr)
        name = archive_entry_pathname(entry);
    if (name == nullptr || !target.CountEntry())
        return false;
    switch (archive_entry_filetype(entry)) {
    case AE_IFDIR:
        return target.MakeFolder(name);
    case AE_IFREG:
        if (archive_entry_hardlink(entry) != nullptr || CExtractTarget::NamesNothing(name))
            return true;
        return ExtractFile(reader, entry, name, target);
    default:
        return true;
    }
}

} // namespace

int C7ZipExtractAction::Extract(const unsigned char* bytes, int64_t length, const char* folder)
{
    if (bytes == nullptr || length <= 0 || folder == nullptr || folder[0] == '\0')
        return kBadArguments;
    CExtractTarget target(folder);
    if (!target.Open())
        return kArchiveFailed;

    const ScopedUtf8Names utf8Names;
    std::unique_ptr<archive, ArchiveCloser> reader(archive_read_new());
    if (!reader || archive_read_support_format_7zip(reader.get()) != ARCHIVE_OK ||
        archive_read_open_memory(reader.get(), bytes, static_cast<size_t>(length)) != ARCHIVE_OK)
        return kOpen7zFailed;

    // The reader takes in the archive's header with the first entry: a
    // failure there is a failure to open.
    for (bool first = true;; first = false) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            return kExtracted;
        if (status < ARCHIVE_WARN)
            return first ? kOpen7zFailed : kArchiveFailed;
        if (!ExtractEntry(reader.get(), entry, target))
            return kArchiveFailed;
    }
}
