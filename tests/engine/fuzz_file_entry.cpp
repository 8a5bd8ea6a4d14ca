// Fuzz target: the library and the engine read a file's entry alike. The
// input is "entry \n given name". The library adds the file to a job as the
// window does; the engine reads it as the file of a submitted job. Both
// accept it or both refuse it, and an accepted file has one name on both
// sides.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "JobCheck.h"
#include "MeshdropLib.h"
#include "lib/Job.h" // the library's CJob, beside the engine's own Job.h

namespace {

const bool g_driveC = [] {
    // Refusals are logged on a drive C: that does not exist: nothing is written.
    setenv("MESHDROP_DRIVE_C", "/fuzz/drive_c", 1);
    return true;
}();

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 2 * kMaxEntryBytes) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = text.find('\n');
    // C strings for the library, as its callers hand them over; the given
    // name fits the wire's field.
    const std::string entry = text.substr(0, std::min(newline, text.find('\0')));
    std::string given = newline == std::string::npos ? std::string() : text.substr(newline + 1);
    given = given.substr(0, std::min<std::size_t>(given.find('\0'), CDN_PATH_SIZE - 1));

    CJob job(1, ClientEventTarget{}, "", "");
    const bool library = job.AddFile(entry.c_str(), "C:\\dl\\", given.c_str(), -1, 0, 0) == MESHDROPLIB_OK;

    engine::SubmittedFile file;
    nwCDNPutField(file.fields.fileName, sizeof file.fields.fileName, given);
    file.url = entry;
    utFileEntry read;
    const bool engine = !engine::ReadFileEntry(0, file, &read);

    if (library != engine || (library && job.GetFiles().front()->fileName != read.name)) {
        __builtin_trap();
    }
    return 0;
}
