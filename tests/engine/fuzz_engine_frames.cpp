// Any byte stream from a client, through the engine's reading of it: frames
// are cut only where whole, never past the input, and every decoded command
// holds only what the frame carried.
#include <cstdint>
#include <cstdlib>

#include "CommandParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    if (size > 4 << 20)
        return 0;
    std::size_t position = 0;
    engine::FrameView frame;
    for (;;) {
        const engine::FrameStatus status = engine::NextFrame(data + position, size - position, &frame);
        if (status != engine::FrameStatus::Complete)
            break;
        if (frame.frameSize > size - position || frame.payload + frame.length > data + size)
            abort();
        engine::Command command;
        if (engine::ParseCommand(frame, &command)) {
            volatile std::size_t touched = 0;
            for (const engine::SubmittedFile& file : command.files) {
                // A URL lies inside the frame it came from.
                if (file.url.size() > frame.length)
                    abort();
                touched = touched + file.url.size() + static_cast<std::size_t>(file.fields.fileName[0]);
            }
            if (command.type == CDN_REQ_JOB_LIST && command.files.size() != command.header.itemCount)
                abort();
        }
        position += frame.frameSize;
    }
    return 0;
}
