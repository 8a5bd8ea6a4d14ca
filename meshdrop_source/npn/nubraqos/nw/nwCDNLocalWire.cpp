#include "nw/nwCDNLocalWire.h"

#include <algorithm>
#include <cstring>

#include "nw/nwFrame.h"

namespace {

// A bounds-checked cursor over a received payload.
class Reader {
public:
    Reader(const std::uint8_t* data, std::uint32_t length) : m_data(data), m_left(data ? length : 0) {}

    bool Take(void* out, std::uint32_t size)
    {
        if (m_left < size) {
            return false;
        }
        std::memcpy(out, m_data, size);
        Skip(size);
        return true;
    }

    // A text\0 in place: false when no terminator lies inside the payload.
    bool Text(const char** text)
    {
        const void* end = std::memchr(m_data, 0, m_left);
        if (!end) {
            return false;
        }
        *text = reinterpret_cast<const char*>(m_data);
        Skip(static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(end) - m_data) + 1);
        return true;
    }

    // A text(u16).
    bool CountedText(std::string_view* text)
    {
        std::uint16_t length = 0;
        if (!Take(&length, sizeof length) || m_left < length) {
            return false;
        }
        *text = std::string_view(reinterpret_cast<const char*>(m_data), length);
        Skip(length);
        return true;
    }

    std::uint32_t Left() const { return m_left; }

private:
    void Skip(std::uint32_t size)
    {
        m_data += size;
        m_left -= size;
    }

    const std::uint8_t* m_data;
    std::uint32_t m_left;
};

// Appends to a payload under construction.
class Writer {
public:
    explicit Writer(std::vector<std::uint8_t>& out) : m_out(out) {}
    void Put(const void* data, std::size_t size)
    {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        m_out.insert(m_out.end(), bytes, bytes + size);
    }
    void Text(std::string_view text)
    {
        // A text\0 ends at its first zero: anything after it would be read as
        // the next field.
        Put(text.data(), std::min(text.size(), text.find('\0')));
        m_out.push_back(0);
    }

private:
    std::vector<std::uint8_t>& m_out;
};

std::size_t UrlLength(const char* url)
{
    return url ? std::strlen(url) : 0;
}

// Starts a frame: header space, then the payload is appended by the caller;
// FinishFrame writes the header and the padding.
std::size_t BeginFrame(std::vector<std::uint8_t>& out)
{
    const std::size_t start = out.size();
    out.resize(start + nwFrameHeader::kSize);
    return start;
}

void FinishFrame(std::vector<std::uint8_t>& out, std::size_t start, std::uint16_t type, std::uint16_t messageClass)
{
    const auto length = static_cast<std::uint32_t>(out.size() - start - nwFrameHeader::kSize);
    const std::uint32_t total = nwFrameTotalSize(length);
    out.resize(start + total);
    nwFrameHeader header;
    header.messageClass = messageClass;
    header.messageType = type;
    header.payloadLength = total - nwFrameHeader::kSize;
    header.Encode(out.data() + start);
}

// The detail of a file done: marker, file index, whole path, whole URL.
void PutFileDoneDetail(Writer& writer, const nwCDNFileDone& done)
{
    writer.Put(&CDN_FILE_DONE_DETAIL, sizeof CDN_FILE_DONE_DETAIL);
    writer.Put(&done.fileIndex, sizeof done.fileIndex);
    writer.Text(done.localPath);
    writer.Text(done.url);
}

// Reads the detail when it is there; false only for a detail that is broken.
bool ReadFileDoneDetail(Reader& reader, nwCDNFileDoneRecord* record)
{
    std::uint32_t marker = 0;
    if (reader.Left() < sizeof marker || !reader.Take(&marker, sizeof marker) || marker != CDN_FILE_DONE_DETAIL) {
        // Padding or nothing: a peer that sends the fixed fields only.
        return true;
    }
    std::uint32_t index = 0;
    const char* path = nullptr;
    const char* url = nullptr;
    if (!reader.Take(&index, sizeof index) || !reader.Text(&path) || !reader.Text(&url)) {
        return false;
    }
    record->fileIndex = index;
    record->localPath = path;
    record->url = url;
    return true;
}

template <std::size_t N>
void Terminate(char (&field)[N])
{
    field[N - 1] = '\0';
}

} // namespace

std::uint16_t nwCDNEnginePort()
{
    return nwPortFromEnvironment(CDN_ENGINE_PORT_VARIABLE, CDN_ENGINE_DEFAULT_PORT);
}

void nwCDNPutField(char* field, std::size_t size, std::string_view text)
{
    nwPutTextField(field, size, text);
}

std::string_view nwCDNFieldText(const char* field, std::size_t size)
{
    return nwTextFieldText(field, size);
}

// --- Requests ---------------------------------------------------------------

std::uint32_t nwCDNJobListSize(const nwCDNJobList& list)
{
    if (list.header.itemCount != 0 && !list.items) {
        return 0;
    }
    std::uint64_t size = sizeof(nwCDNJobHeader);
    for (std::uint32_t i = 0; i < list.header.itemCount; ++i) {
        if (!list.items[i].url) {
            return 0;
        }
        size += sizeof(nwCDNItemFields) + UrlLength(list.items[i].url) + 1;
        if (size > kMaxFramePayload) {
            return 0;
        }
    }
    return static_cast<std::uint32_t>(size);
}

void nwCDNWriteJobList(const nwCDNJobList& list, std::uint8_t* payload)
{
    std::memcpy(payload, &list.header, sizeof list.header);
    payload += sizeof list.header;
    for (std::uint32_t i = 0; i < list.header.itemCount; ++i) {
        const nwCDNJobListItem& item = list.items[i];
        std::memcpy(payload, &item.fields, sizeof item.fields);
        payload += sizeof item.fields;
        const std::size_t length = UrlLength(item.url);
        std::memcpy(payload, item.url, length + 1);
        payload += length + 1;
    }
}

std::uint32_t nwCDNJobItemSize(const nwCDNJobItem& item)
{
    const std::size_t length = UrlLength(item.url);
    if (!item.url || length > 0xFFFF) {
        return 0;
    }
    return static_cast<std::uint32_t>(sizeof(nwCDNItemPrefix) + sizeof(nwCDNItemFields) + 2 + length);
}

void nwCDNWriteJobItem(const nwCDNJobItem& item, std::uint8_t* payload)
{
    const nwCDNItemPrefix prefix{item.jobNumber, item.itemIndex};
    std::memcpy(payload, &prefix, sizeof prefix);
    payload += sizeof prefix;
    std::memcpy(payload, &item.fields, sizeof item.fields);
    payload += sizeof item.fields;
    const auto length = static_cast<std::uint16_t>(UrlLength(item.url));
    std::memcpy(payload, &length, sizeof length);
    std::memcpy(payload + sizeof length, item.url, length);
}

bool nwCDNReadJobList(const std::uint8_t* payload, std::uint32_t length, std::size_t maxItems, nwCDNJobHeader* header,
                      std::vector<nwCDNDecodedItem>* items)
{
    Reader reader(payload, length);
    items->clear();
    if (!reader.Take(header, sizeof *header) || header->itemCount > maxItems) {
        return false;
    }
    // Each file takes at least 531 bytes: a count the payload cannot hold is
    // refused before anything is reserved for it.
    if (header->itemCount > reader.Left() / (sizeof(nwCDNItemFields) + 1)) {
        return false;
    }
    items->reserve(header->itemCount);
    for (std::uint32_t i = 0; i < header->itemCount; ++i) {
        nwCDNDecodedItem item;
        const char* url = nullptr;
        if (!reader.Take(&item.fields, sizeof item.fields) || !reader.Text(&url)) {
            return false;
        }
        item.url = url;
        items->push_back(item);
    }
    return true;
}

bool nwCDNReadJobItem(const std::uint8_t* payload, std::uint32_t length, nwCDNItemPrefix* prefix,
                      nwCDNDecodedItem* item)
{
    Reader reader(payload, length);
    return reader.Take(prefix, sizeof *prefix) && reader.Take(&item->fields, sizeof item->fields) &&
           reader.CountedText(&item->url);
}

// --- Notifications ----------------------------------------------------------

void nwCDNAppendFrame(std::vector<std::uint8_t>& out, std::uint16_t type, const void* payload, std::uint32_t length,
                      std::uint16_t messageClass)
{
    const std::size_t start = BeginFrame(out);
    Writer(out).Put(payload, length);
    FinishFrame(out, start, type, messageClass);
}

void nwCDNAppendProgress(std::vector<std::uint8_t>& out, nwCDNProgressBlock block,
                         const std::vector<nwCDNProgressEntry>& entries)
{
    const std::size_t start = BeginFrame(out);
    Writer writer(out);
    block.itemCount = static_cast<std::uint32_t>(entries.size());
    writer.Put(&block, sizeof block);
    for (const nwCDNProgressEntry& entry : entries) {
        writer.Put(&entry.item, sizeof entry.item);
        writer.Text(entry.name);
    }
    FinishFrame(out, start, CDN_NOTE_JOB_PROGRESS, CDN_CLASS);
}

void nwCDNAppendFileDone(std::vector<std::uint8_t>& out, const nwCDNFileDone& done)
{
    const std::size_t start = BeginFrame(out);
    Writer writer(out);
    if (done.altText.empty()) {
        nwCDNFileDoneFixed fixed{};
        fixed.jobNumber = done.jobNumber;
        fixed.engineJobId = done.engineJobId;
        nwCDNPutField(fixed.localPath, sizeof fixed.localPath, done.localPath);
        nwCDNPutField(fixed.url, sizeof fixed.url, done.url);
        writer.Put(&fixed, sizeof fixed);
    } else {
        nwCDNFileDoneTextFixed fixed{};
        fixed.jobNumber = done.jobNumber;
        fixed.engineJobId = done.engineJobId;
        nwCDNPutField(fixed.localPath, sizeof fixed.localPath, done.localPath);
        nwCDNPutField(fixed.altText, sizeof fixed.altText, done.altText);
        nwCDNPutField(fixed.url, sizeof fixed.url, done.url);
        writer.Put(&fixed, sizeof fixed);
    }
    PutFileDoneDetail(writer, done);
    FinishFrame(out, start, done.altText.empty() ? CDN_NOTE_FILE_DONE : CDN_NOTE_FILE_DONE_TEXT, CDN_CLASS);
}

void nwCDNAppendJobFailed(std::vector<std::uint8_t>& out, std::uint32_t jobNumber, std::uint32_t engineJobId,
                          std::string_view text, const nwCDNTail& tail)
{
    const std::size_t start = BeginFrame(out);
    Writer writer(out);
    const nwCDNJobRef ref{jobNumber, engineJobId};
    writer.Put(&ref, sizeof ref);
    writer.Text(text);
    writer.Put(&tail, sizeof tail);
    FinishFrame(out, start, CDN_NOTE_JOB_FAILED, CDN_CLASS);
}

void nwCDNAppendNotice(std::vector<std::uint8_t>& out, std::uint32_t jobNumber, std::uint32_t engineJobId,
                       std::uint8_t kind, std::string_view text, const nwCDNTail& tail)
{
    const std::size_t start = BeginFrame(out);
    Writer writer(out);
    const nwCDNJobRef ref{jobNumber, engineJobId};
    writer.Put(&ref, sizeof ref);
    writer.Put(&kind, sizeof kind);
    writer.Text(text);
    writer.Put(&tail, sizeof tail);
    FinishFrame(out, start, CDN_NOTE_NOTICE, CDN_CLASS);
}

bool nwCDNReadFixed(const std::uint8_t* payload, std::uint32_t length, void* record, std::uint32_t size)
{
    return Reader(payload, length).Take(record, size);
}

bool nwCDNReadJobFailed(const std::uint8_t* payload, std::uint32_t length, nwCDNJobFailedRecord* record)
{
    Reader reader(payload, length);
    nwCDNJobRef ref{};
    if (!reader.Take(&ref, sizeof ref) || !reader.Text(&record->text) ||
        !reader.Take(&record->tail, sizeof record->tail)) {
        return false;
    }
    record->jobNumber = ref.jobNumber;
    record->engineJobId = ref.engineJobId;
    return true;
}

bool nwCDNReadNotice(const std::uint8_t* payload, std::uint32_t length, nwCDNNoticeRecord* record)
{
    Reader reader(payload, length);
    nwCDNJobRef ref{};
    if (!reader.Take(&ref, sizeof ref) || !reader.Take(&record->kind, sizeof record->kind) ||
        !reader.Text(&record->text) || !reader.Take(&record->tail, sizeof record->tail)) {
        return false;
    }
    record->jobNumber = ref.jobNumber;
    record->engineJobId = ref.engineJobId;
    return true;
}

bool nwCDNReadProgress(const std::uint8_t* payload, std::uint32_t length, nwCDNProgressRecord* record,
                       std::vector<nwCDNProgressItemRecord>* items)
{
    Reader reader(payload, length);
    items->clear();
    record->items = nullptr;
    if (!reader.Take(&record->block, sizeof record->block)) {
        return false;
    }
    // Each item takes at least 66 bytes: a count beyond what the payload can
    // hold is refused before anything is reserved for it.
    const std::uint32_t count = record->block.itemCount;
    if (count > reader.Left() / (sizeof(nwCDNProgressItem) + 1)) {
        return false;
    }
    items->resize(count);
    for (nwCDNProgressItemRecord& item : *items) {
        if (!reader.Take(&item.item, sizeof item.item) || !reader.Text(&item.name)) {
            return false;
        }
    }
    record->items = items->data();
    return true;
}

namespace {

// Both file-done layouts: the fixed fields (texts terminated within their
// fields), then the detail when there is one.
template <class Fixed>
bool ReadFileDoneFields(const std::uint8_t* payload, std::uint32_t length, Fixed* fixed, nwCDNFileDoneRecord* record)
{
    Reader reader(payload, length);
    if (!reader.Take(fixed, sizeof *fixed)) {
        return false;
    }
    Terminate(fixed->localPath);
    Terminate(fixed->url);
    record->jobNumber = fixed->jobNumber;
    record->engineJobId = fixed->engineJobId;
    record->localPath = fixed->localPath;
    record->altText = "";
    if constexpr (requires { fixed->altText; }) {
        Terminate(fixed->altText);
        record->altText = fixed->altText;
    }
    record->url = fixed->url;
    return ReadFileDoneDetail(reader, record);
}

} // namespace

bool nwCDNReadFileDone(const std::uint8_t* payload, std::uint32_t length, nwCDNFileDoneFixed* fixed,
                       nwCDNFileDoneRecord* record)
{
    return ReadFileDoneFields(payload, length, fixed, record);
}

bool nwCDNReadFileDoneText(const std::uint8_t* payload, std::uint32_t length, nwCDNFileDoneTextFixed* fixed,
                           nwCDNFileDoneRecord* record)
{
    return ReadFileDoneFields(payload, length, fixed, record);
}
