#pragma once
// The wire of the local download engine, defined once: message numbers, the
// byte layout of every request and notification, and the encoders and
// decoders of the layouts whose length varies. The client layer
// (nwCCDNLocalClientLayer) and the engine program both build on this header,
// so the two ends cannot drift apart. docs/ENGINE_PROTOCOL.md describes the
// protocol as a whole.
//
// Every message is a frame of nwFrame.h (14-byte header, payload padded to a
// multiple of 8). Numbers are little-endian and records are packed: the
// structures marked "wire" below are the bytes of the payload as they travel.
// A text(n) field holds zero-terminated text padded with zeros to n bytes; a
// text\0 is zero-terminated text of its own length; a text(u16) is a 16-bit
// length followed by that many bytes without terminator.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

static_assert(std::endian::native == std::endian::little, "the wire records are kept in memory as they travel");

// ---------------------------------------------------------------------------
// Where the engine listens.
inline constexpr const char* CDN_ENGINE_ADDRESS = "127.0.0.1";
inline constexpr std::uint16_t CDN_ENGINE_DEFAULT_PORT = 38006;
// Moves the port (tests run engines of their own); the library and the engine
// both read it. A value that is not a port number in 1..65535 is ignored.
inline constexpr const char* CDN_ENGINE_PORT_VARIABLE = "MESHDROP_ENGINE_PORT";
std::uint16_t nwCDNEnginePort();

// Message classes: every message uses CDN_CLASS except the job list request.
inline constexpr std::uint16_t CDN_CLASS = 0x0100;
inline constexpr std::uint16_t CDN_CLASS_JOB_LIST = 0x0102;

// Requests (client to engine): the frame's message type.
enum : std::uint16_t {
    CDN_REQ_JOB_MODE = 0,
    CDN_REQ_REGION = 1,
    CDN_REQ_STOP_JOB = 3,
    CDN_REQ_SERVICE_ID = 12,
    CDN_REQ_FILE_OPTION = 13,
    CDN_REQ_JOB_LIST = 14,
    CDN_REQ_ENGINE_FLAG = 17,
    CDN_REQ_RESUME_ANSWER = 18,
    CDN_REQ_JOB_HEADER = 19,
    CDN_REQ_JOB_ITEM = 20,
    CDN_REQ_JOB_END = 21,
    CDN_REQ_STATUS = 22,
};

// Notifications (engine to client).
enum : std::uint16_t {
    CDN_NOTE_JOB_ACCEPTED = 4,
    CDN_NOTE_JOB_PROGRESS = 5,
    CDN_NOTE_JOB_ENDED = 6,
    CDN_NOTE_FILE_DONE = 7,
    CDN_NOTE_NOTICE = 8,
    CDN_NOTE_NETWORK_LOST = 9,
    CDN_NOTE_NETWORK_BACK = 10,
    CDN_NOTE_JOB_FAILED = 11,
    CDN_NOTE_FILE_DONE_TEXT = 15,
    CDN_NOTE_ASK_RESUME = 16,
    CDN_NOTE_STATUS = 22,
};

inline constexpr std::size_t CDN_REGION_SIZE = 20;
inline constexpr std::size_t CDN_SERVICE_ID_SIZE = 33;        // in a job header
inline constexpr std::size_t CDN_SERVICE_ID_FIELD_SIZE = 260; // request 12
inline constexpr std::size_t CDN_PATH_SIZE = 260;             // folders, file names, texts of a file done
inline constexpr std::size_t CDN_DONE_PATH_SIZE = 33;         // the short path field of a file done

// Job mode of request 0.
enum : std::uint8_t { CDN_MODE_LIMITED = 1, CDN_MODE_FULL = 2 };

// Result of a job end (notification 6).
enum : std::uint32_t {
    CDN_RESULT_OK = 0,          // every file complete
    CDN_RESULT_STOPPED = 1,     // stopped by request 3 or by its client leaving
    CDN_RESULT_GAVE_UP = 2,     // transfers kept failing; another downloader may try
    CDN_RESULT_FAILED = 3,      // failed for good; notification 11 said why
    CDN_RESULT_LOCAL_ERROR = 4, // a local file could not be written or renamed
};

// Kind of a notice (notification 8).
enum : std::uint8_t { CDN_NOTICE_DISK_FULL = 1 };

// Value of nwCDNTail::code.
enum : std::uint32_t {
    CDN_CODE_NONE = 0,
    CDN_CODE_HTTP_STATUS = 1,   // value: the HTTP status
    CDN_CODE_BAD_FILE_NAME = 2, // the job names a file that may not be written
    CDN_CODE_BAD_FOLDER = 3,    // the folder cannot be mapped or created
    CDN_CODE_SIZE_MISMATCH = 4, // value: the size the server reported (not the job's, or not the other mirrors')
    CDN_CODE_BAD_JOB = 5,       // the job's records are inconsistent or too large
    CDN_CODE_FILE_BUSY = 6,     // another job writes the same file
    CDN_CODE_SYSTEM_ERROR = 7,  // value: the errno of a local file operation
    CDN_CODE_DISK_FULL = 8,     // value: bytes still needed
    CDN_CODE_NETWORK = 9,       // value: seconds since the last byte arrived
    CDN_CODE_CERTIFICATE = 10,  // the server's certificate was refused
};

// No file: a tail or a file done that names no file of the job.
inline constexpr std::uint32_t CDN_NO_FILE = 0xFFFFFFFFu;

// Progress block flags.
enum : std::uint16_t {
    CDN_PROGRESS_LIMITED = 0x01,      // the job is held to the rate without consent
    CDN_PROGRESS_NETWORK_LOST = 0x02, // nothing reachable; transfers wait
};

// Progress item states. A job's reports show files waiting or on their way;
// its final report, right before 6, shows its last file complete, or the
// file that failed it.
enum : std::uint8_t {
    CDN_FILE_PENDING = 0,
    CDN_FILE_ACTIVE = 1,
    CDN_FILE_DONE = 2,   // the final report's last file
    CDN_FILE_FAILED = 3, // the file that failed the job, in its final report
};
// Progress item flags.
enum : std::uint8_t { CDN_ITEM_SIZE_KNOWN = 0x01 };

// Marks the detail that follows the fixed fields of a file done (7 and 15):
// "MDX1" read as a little-endian number.
inline constexpr std::uint32_t CDN_FILE_DONE_DETAIL = 0x3158444Du;

#pragma pack(push, 1)

// --- Requests (wire) -------------------------------------------------------

struct nwCDNJobMode { // request 0
    std::uint8_t mode;
    // The first 8 of the 16 reserved bytes: bytes per second the whole job
    // may use besides its mode's limit, 0 for none. An engine that does not
    // know them reads zeros as ever and ignores what is there.
    std::uint64_t rateLimit;
    std::uint8_t reserved[8];
};

struct nwCDNRegion { // request 1
    char code[CDN_REGION_SIZE];
};

struct nwCDNJobRef { // request 3
    std::uint32_t jobNumber;
    std::uint32_t engineJobId;
};

struct nwCDNServiceId { // request 12
    char text[CDN_SERVICE_ID_FIELD_SIZE];
};

struct nwCDNFileOption { // request 13
    std::uint32_t jobNumber;
    std::uint32_t engineJobId;
    std::uint8_t value;
};

struct nwCDNResumeAnswer { // request 18
    std::uint32_t engineJobId;
    std::uint32_t jobNumber;
    std::uint8_t resume;
    std::uint8_t applyToAll;
};

struct nwCDNJobHeader { // request 19, and the head of request 14
    std::uint32_t jobNumber;
    std::uint32_t itemCount;
    char serviceId[CDN_SERVICE_ID_SIZE];
};

// The fixed fields of one file of a job (requests 14 and 20). Request 14
// follows them with the URL as text\0 (531 + URL length per file); request
// 20 puts the job number and the file index in front and the URL as
// text(u16) behind (540 + URL length).
struct nwCDNItemFields {
    std::uint8_t fileOption;
    std::uint8_t internalOption;
    std::int64_t size; // bytes, -1 when unknown
    char folder[CDN_PATH_SIZE];
    char fileName[CDN_PATH_SIZE];
};

struct nwCDNItemPrefix { // request 20, in front of the fields
    std::uint32_t jobNumber;
    std::uint32_t itemIndex;
};

// --- Notifications (wire) --------------------------------------------------

struct nwCDNJobAccepted { // notification 4
    std::uint32_t jobNumber;
    std::uint32_t engineJobId;
    std::uint32_t fileCount;
    std::uint64_t totalSize; // the sizes the job gave; files of unknown size count 0
};

struct nwCDNJobEnded { // notification 6
    std::uint32_t jobNumber;
    std::uint32_t engineJobId;
    std::uint32_t filesCompleted;
    std::uint32_t result; // CDN_RESULT_*
    std::uint32_t fileCount;
};

struct nwCDNAskResume { // notification 16
    std::uint32_t jobNumber;
};

struct nwCDNStatus { // notification 22: the number of jobs running
    std::uint32_t value;
};

// The 16 bytes that close notifications 8, 9, 10 and 11.
struct nwCDNTail {
    std::uint32_t code;      // CDN_CODE_*
    std::uint32_t fileIndex; // CDN_NO_FILE when no file is concerned
    std::uint64_t value;     // meaning by code
};

// The 64-byte block of notification 5.
struct nwCDNProgressBlock {
    std::uint32_t jobNumber;
    std::uint32_t engineJobId;
    std::uint32_t fileCount;
    std::uint32_t currentFile; // the first file not yet complete
    std::uint64_t totalSize;   // as known now: sizes learned from the servers included
    std::uint64_t doneSize;
    std::uint32_t speed; // bytes per second over the last interval
    std::uint32_t filesCompleted;
    std::uint64_t elapsedSeconds; // since the job started transferring; reports start at 1
    std::uint16_t connections;
    std::uint16_t flags; // CDN_PROGRESS_*
    std::uint32_t reserved[2];
    std::uint32_t itemCount; // items that follow
};

// One 65-byte item of notification 5; the file's name follows as text\0.
// The first item is the current file.
struct nwCDNProgressItem {
    std::uint32_t fileIndex;
    std::uint64_t size; // 0 unless CDN_ITEM_SIZE_KNOWN
    std::uint64_t done;
    std::uint32_t speed;
    std::uint16_t connections;
    std::uint8_t state; // CDN_FILE_*
    std::uint8_t flags; // CDN_ITEM_*
    std::uint8_t reserved[37];
};

struct nwCDNFileDoneFixed { // notification 7, before its detail
    std::uint32_t jobNumber;
    std::uint32_t engineJobId;
    char localPath[CDN_DONE_PATH_SIZE]; // cut to the field: the detail has it whole
    char url[CDN_PATH_SIZE];            // cut likewise
};

struct nwCDNFileDoneTextFixed { // notification 15, before its detail
    std::uint32_t jobNumber;
    std::uint32_t engineJobId;
    char localPath[CDN_DONE_PATH_SIZE];
    char altText[CDN_PATH_SIZE];
    char url[CDN_PATH_SIZE];
};

#pragma pack(pop)

static_assert(sizeof(nwCDNJobMode) == 17);
static_assert(sizeof(nwCDNRegion) == 20);
static_assert(sizeof(nwCDNJobRef) == 8);
static_assert(sizeof(nwCDNServiceId) == 260);
static_assert(sizeof(nwCDNFileOption) == 9);
static_assert(sizeof(nwCDNResumeAnswer) == 10);
static_assert(sizeof(nwCDNJobHeader) == 41);
static_assert(sizeof(nwCDNItemFields) + 1 == 531);
static_assert(sizeof(nwCDNItemPrefix) + sizeof(nwCDNItemFields) + 2 == 540);
static_assert(sizeof(nwCDNJobAccepted) == 20);
static_assert(sizeof(nwCDNJobEnded) == 20);
static_assert(sizeof(nwCDNTail) == 16);
static_assert(sizeof(nwCDNAskResume) == 4);
static_assert(sizeof(nwCDNStatus) == 4);
static_assert(sizeof(nwCDNProgressBlock) == 64);
static_assert(sizeof(nwCDNProgressItem) == 65);
static_assert(sizeof(nwCDNFileDoneFixed) == 301);
static_assert(sizeof(nwCDNFileDoneTextFixed) == 561);

// ---------------------------------------------------------------------------
// Records of the client layer's callers (in memory, not on the wire).

// One file of a job list (request 14). The leading field is the caller's own
// and is not read.
struct nwCDNJobListItem {
    std::uint64_t callerData = 0;
    nwCDNItemFields fields{};
    const char* url = nullptr; // zero-terminated
};

struct nwCDNJobList {
    nwCDNJobHeader header{};
    const nwCDNJobListItem* items = nullptr; // header.itemCount of them
};

// One file of a job sent file by file (request 20).
struct nwCDNJobItem {
    std::uint32_t jobNumber = 0;
    std::uint32_t itemIndex = 0;
    nwCDNItemFields fields{};
    const char* url = nullptr; // zero-terminated, at most 65535 bytes
};

// ---------------------------------------------------------------------------
// Parsed notifications as the listener receives them. Texts point into the
// received payload or into the record; they live for the call only.

struct nwCDNJobFailedRecord { // 11
    std::uint32_t jobNumber = 0;
    std::uint32_t engineJobId = 0;
    const char* text = "";
    nwCDNTail tail{};
};

struct nwCDNNoticeRecord { // 8
    std::uint32_t jobNumber = 0;
    std::uint32_t engineJobId = 0;
    std::uint8_t kind = 0;
    const char* text = "";
    nwCDNTail tail{};
};

struct nwCDNProgressItemRecord {
    nwCDNProgressItem item{};
    const char* name = "";
};

struct nwCDNProgressRecord { // 5
    nwCDNProgressBlock block{};
    const nwCDNProgressItemRecord* items = nullptr; // block.itemCount of them
};

// 7 and 15. The path and URL are whole when the engine sent its detail
// (fileIndex is then the file's index in the job), otherwise they are the
// fixed fields and fileIndex is CDN_NO_FILE.
struct nwCDNFileDoneRecord {
    std::uint32_t jobNumber = 0;
    std::uint32_t engineJobId = 0;
    std::uint32_t fileIndex = CDN_NO_FILE;
    const char* localPath = "";
    const char* altText = ""; // 15 only
    const char* url = "";
};

// ---------------------------------------------------------------------------
// Text fields.

// Writes `text` into an n-byte field: cut to n - 1 bytes, zero-padded.
void nwCDNPutField(char* field, std::size_t size, std::string_view text);
// The text of an n-byte field: up to its first zero, at most n bytes.
std::string_view nwCDNFieldText(const char* field, std::size_t size);

// ---------------------------------------------------------------------------
// Request encoders (client side). The size functions answer 0 when the
// record cannot be sent (a missing URL, a URL too long for its field); the
// writers fill exactly that many bytes.

std::uint32_t nwCDNJobListSize(const nwCDNJobList& list);
void nwCDNWriteJobList(const nwCDNJobList& list, std::uint8_t* payload);
std::uint32_t nwCDNJobItemSize(const nwCDNJobItem& item);
void nwCDNWriteJobItem(const nwCDNJobItem& item, std::uint8_t* payload);

// Request decoders (engine side). A decoded file refers to the payload.
struct nwCDNDecodedItem {
    nwCDNItemFields fields{};
    std::string_view url;
};
// False when the payload does not hold the header and header.itemCount files,
// or holds more than maxItems.
bool nwCDNReadJobList(const std::uint8_t* payload, std::uint32_t length, std::size_t maxItems, nwCDNJobHeader* header,
                      std::vector<nwCDNDecodedItem>* items);
bool nwCDNReadJobItem(const std::uint8_t* payload, std::uint32_t length, nwCDNItemPrefix* prefix,
                      nwCDNDecodedItem* item);

// ---------------------------------------------------------------------------
// Notification encoders (engine side): each appends a whole frame.

// A frame of `type` with a payload of fixed layout.
void nwCDNAppendFrame(std::vector<std::uint8_t>& out, std::uint16_t type, const void* payload, std::uint32_t length,
                      std::uint16_t messageClass = CDN_CLASS);

struct nwCDNProgressEntry {
    nwCDNProgressItem item{};
    std::string_view name;
};
// block.itemCount is set from the entries.
void nwCDNAppendProgress(std::vector<std::uint8_t>& out, nwCDNProgressBlock block,
                         const std::vector<nwCDNProgressEntry>& entries);

struct nwCDNFileDone {
    std::uint32_t jobNumber = 0;
    std::uint32_t engineJobId = 0;
    std::uint32_t fileIndex = 0;
    std::string_view localPath;
    std::string_view url;
    std::string_view altText; // sent as 15 when not empty, else as 7
};
void nwCDNAppendFileDone(std::vector<std::uint8_t>& out, const nwCDNFileDone& done);
void nwCDNAppendJobFailed(std::vector<std::uint8_t>& out, std::uint32_t jobNumber, std::uint32_t engineJobId,
                          std::string_view text, const nwCDNTail& tail);
void nwCDNAppendNotice(std::vector<std::uint8_t>& out, std::uint32_t jobNumber, std::uint32_t engineJobId,
                       std::uint8_t kind, std::string_view text, const nwCDNTail& tail);

// ---------------------------------------------------------------------------
// Notification decoders (client side). Each answers false when the payload
// is shorter than its fields, a text has no terminator inside the payload, or
// a count announces more than the payload carries. Texts refer to the payload.

bool nwCDNReadFixed(const std::uint8_t* payload, std::uint32_t length, void* record, std::uint32_t size);
bool nwCDNReadJobFailed(const std::uint8_t* payload, std::uint32_t length, nwCDNJobFailedRecord* record);
bool nwCDNReadNotice(const std::uint8_t* payload, std::uint32_t length, nwCDNNoticeRecord* record);
// `items` receives the parsed items; record->items points into it.
bool nwCDNReadProgress(const std::uint8_t* payload, std::uint32_t length, nwCDNProgressRecord* record,
                       std::vector<nwCDNProgressItemRecord>* items);
// `fixed` must outlive the record when the detail is missing (the record's
// texts then point into it, terminated). For 7 pass nwCDNFileDoneFixed, for
// 15 nwCDNFileDoneTextFixed through the matching function.
bool nwCDNReadFileDone(const std::uint8_t* payload, std::uint32_t length, nwCDNFileDoneFixed* fixed,
                       nwCDNFileDoneRecord* record);
bool nwCDNReadFileDoneText(const std::uint8_t* payload, std::uint32_t length, nwCDNFileDoneTextFixed* fixed,
                           nwCDNFileDoneRecord* record);
