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
        const bool complete = reply.state == RigctldReplyState::Complete;
        if (reply.used > size || (reply.state == RigctldReplyState::Incomplete) != !reply.used ||
            (!complete && !reply.lines.empty()) ||
            (complete && (reply.used > kRigctldMaxReply ||
                          (valueLines && reply.lines.size() != std::size_t(valueLines)))))
            std::abort();
        const std::string first = reply.lines.empty() ? "" : reply.lines[0];
        const StationSnapshot record =
            BuildRigRecord(RigctldHertz(first), Utf8ToWide(TrimRigctldText(first)), L"N0CALL", L"",
                           Utf8ToWide(RigctldRadioName(reply.lines)), L"Hamlib");
        if ((RigctldHertz(first) > 0) == record.freq.empty() || record.freq.size() > 31)
            std::abort();
    }
    return 0;
}
