#pragma once
// Cuts the byte stream of one agent connection into reports. Each frame is
// checked as soon as its header is in (class, type, a payload length within
// the bound and padded as frames are) and again once it is complete (the
// record count against the payload length, the count against the bound,
// byte counts up to kMaxRecordBytes). The first bad frame rejects the stream
// for good; a connection never holds more than one frame's bytes plus one
// read.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace agent {

struct ReportRecord {
    std::string serviceId;
    std::string url;
    std::uint64_t bytes = 0;
};

struct Report {
    std::vector<ReportRecord> records;
};

class FrameReader {
public:
    enum class Status { NeedMore, Report, Rejected };

    // Largest payload length a report frame may announce.
    static std::uint32_t MaxPayloadLength();

    // Appends bytes that arrived. Rejects the stream when more bytes are
    // buffered than a report and one read can need.
    Status Append(const std::uint8_t* data, std::size_t length);
    // Takes the next complete report out of the buffer into `report`.
    Status Next(Report* report);

    bool IsRejected() const { return !rejection_.empty(); }
    // Why the stream was rejected (empty while it has not been).
    const std::string& GetRejection() const { return rejection_; }
    // Whether part of a frame is buffered.
    bool HasPartialFrame() const { return buffer_.size() > position_; }

    static constexpr std::size_t kReadSize = 64 * 1024;
    // The most bytes one record may count (256 TiB, far above any file):
    // sums of many records stay far from the stores' 64-bit limits.
    static constexpr std::uint64_t kMaxRecordBytes = std::uint64_t{1} << 48;

private:
    Status Reject(const char* why);

    std::vector<std::uint8_t> buffer_;
    std::size_t position_ = 0; // start of the first unread frame
    std::string rejection_;
};

} // namespace agent
