#include "sources/rigctld/rigctld_reply.h"

#include "core/numbers.h"

namespace {

constexpr std::string_view kReport = "RPRT ";

// The value after "Name:" on a line that starts with it, trimmed; false when it does not.
bool CapsValue(const std::string& line, std::string_view name, std::string& value) {
    if (line.size() <= name.size() || line.compare(0, name.size(), name) != 0 ||
        line[name.size()] != ':')
        return false;
    value = TrimRigctldText(std::string_view(line).substr(name.size() + 1));
    return true;
}

} // namespace

RigctldReply ReadRigctldReply(std::string_view received, int valueLines) {
    RigctldReply reply;
    const std::string_view window = received.substr(0, kRigctldMaxReply);
    std::size_t start = 0;
    for (std::size_t end; (end = window.find('\n', start)) != std::string_view::npos;) {
        std::string_view line = window.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.compare(0, kReport.size(), kReport) == 0) {
            // Where a value should stand only a refusal may; "\dump_caps" ends with RPRT 0.
            const std::int64_t report = LeadingInteger(line.substr(kReport.size()));
            reply.state = report < 0 && (reply.lines.empty() || valueLines == 0)
                              ? RigctldReplyState::Refused
                          : report == 0 && valueLines == 0 ? RigctldReplyState::Complete
                                                           : RigctldReplyState::Malformed;
            reply.used = start;
            if (reply.state != RigctldReplyState::Complete)
                reply.lines.clear();
            return reply;
        }
        reply.lines.emplace_back(line);
        if (static_cast<int>(reply.lines.size()) == valueLines) { // never with 0: one is in
            reply.state = RigctldReplyState::Complete;
            reply.used = start;
            return reply;
        }
    }
    reply.lines.clear();
    if (received.size() >= kRigctldMaxReply) {
        reply.state = RigctldReplyState::Malformed;
        reply.used = received.size();
    }
    return reply;
}

std::int64_t RigctldHertz(const std::string& line) {
    return LeadingInteger(line);
}

std::string TrimRigctldText(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return std::string();
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

std::string RigctldRadioName(const std::vector<std::string>& capsLines) {
    std::string maker, model, value;
    for (const std::string& line : capsLines) {
        if (maker.empty() && CapsValue(line, "Mfg name", value))
            maker = value;
        else if (model.empty() && CapsValue(line, "Model name", value))
            model = value;
    }
    return maker.empty() || model.empty() ? maker + model : maker + " " + model;
}
