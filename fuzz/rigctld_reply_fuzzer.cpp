// Whatever a rigctld port sends back, read as each reply Corvane asks for (the capabilities, the
// frequency, the mode) and published as a poll would. Nothing may crash, read outside the input or
// take more than its bound.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/text.h"
#include "sources/hrd/hrd_record.h"
#include "sources/rigctld/rigctld_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    for (int valueLines = 0; valueLines <= 2; ++valueLines) {
        const RigctldReply reply = ReadRigctldReply(input, valueLines);
        const bool ended = reply.state != RigctldReplyState::Incomplete;
        std::size_t bytes = 0;
        for (const std::string& line : reply.lines)
            bytes += line.size() + 1;
        if (reply.used > size || ended != (reply.used > 0) || bytes > reply.used ||
            (reply.state != RigctldReplyState::Complete && !reply.lines.empty()) ||
            (reply.state == RigctldReplyState::Complete && valueLines > 0 &&
             reply.lines.size() != std::size_t(valueLines)) ||
            (reply.state != RigctldReplyState::Malformed && reply.used > kRigctldMaxReply))
            std::abort();
        if (reply.state != RigctldReplyState::Complete)
            continue;
        const std::string name = RigctldRadioName(reply.lines);
        const std::int64_t hertz = RigctldHertz(reply.lines.empty() ? "" : reply.lines[0]);
        const StationSnapshot record = BuildRigRecord(
            hertz, Utf8ToWide(TrimRigctldText(reply.lines.empty() ? "" : reply.lines[0])),
            L"N0CALL", L"", Utf8ToWide(name), L"Hamlib");
        if (name.size() > reply.used || (hertz > 0) == record.freq.empty() ||
            record.freq.size() > 31)
            std::abort();
    }
    return 0;
}
