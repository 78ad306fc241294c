#include "sources/udp/logger_parser.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <map>
#include <utility>

#include "core/band_plan.h"
#include "core/station_snapshot.h"
#include "platform/text.h"

namespace {

// A radio silent for longer than this is forgotten at the next radio message.
constexpr std::int64_t kRadioExpiryNs = 90'000'000'000;

// Parser state; guarded by snapshotMutex, since it changes together with the snapshot.
std::map<std::int32_t, StationSnapshot> radiosByNumber;
std::map<std::int32_t, std::int64_t> radioLastSeen;
std::wstring latestCall;
std::wstring latestContestName;

std::int64_t SteadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::atomic<LoggerClock> loggerClock{&SteadyNow};

char LowerChar(char c) {
    // Without a branch, so that lowering a whole datagram compiles to vector code.
    return static_cast<char>(c + (static_cast<unsigned char>(c - 'A') < 26 ? 'a' - 'A' : 0));
}

// Chains every "<" of index.lowered by the byte after it, and every "</" by the byte after that.
void IndexLowered(DatagramTags& index) {
    const std::string& lowered = index.lowered;
    const std::size_t size = lowered.size();
    const char* const first = lowered.data();
    index.tags.reserve(64); // a typical datagram has fewer tags; a larger one grows the list
    for (const char* at = first;
         (at = static_cast<const char*>(std::memchr(at, '<', size - (at - first)))); ++at)
        index.tags.push_back(
            {static_cast<std::size_t>(at - first), DatagramTags::kNone, DatagramTags::kNone});
    std::fill(std::begin(index.firstOpening), std::end(index.firstOpening), DatagramTags::kNone);
    std::fill(std::begin(index.firstClosing), std::end(index.firstClosing), DatagramTags::kNone);
    // Backwards, so that each chain comes out in the order of the text.
    for (std::size_t tag = index.tags.size(); tag-- > 0;) {
        DatagramTags::Tag& entry = index.tags[tag];
        if (entry.at + 1 >= size)
            continue;
        const auto opening = static_cast<unsigned char>(lowered[entry.at + 1]);
        entry.nextOpening = index.firstOpening[opening];
        index.firstOpening[opening] = tag;
        if (opening == '/' && entry.at + 2 < size) {
            const auto closing = static_cast<unsigned char>(lowered[entry.at + 2]);
            entry.nextClosing = index.firstClosing[closing];
            index.firstClosing[closing] = tag;
        }
    }
}

bool HoldsAt(const std::string& text, std::size_t at, const std::string& part) {
    return at <= text.size() && text.size() - at >= part.size() &&
           std::memcmp(text.data() + at, part.data(), part.size()) == 0;
}

// The C locale's white space, as atoll and isspace know it.
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::wstring FormatMegahertz(std::int64_t hz) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", static_cast<double>(hz) / 1000000.0);
    std::wstring text;
    for (const char* p = buffer; *p; ++p)
        text.push_back(*p == ',' ? L'.'
                                 : static_cast<wchar_t>(*p)); // a full stop whatever the locale
    return text;
}

std::wstring OpStatus(const std::string& isRunning) {
    std::string word;
    for (char c : isRunning)
        if (!IsSpace(c))
            word.push_back(LowerChar(c));
    if (word == "true" || word == "1")
        return L"Is calling";
    if (word == "false" || word == "0")
        return L"Is searching";
    return std::wstring();
}

// Age of a radio heard at `seen` when the clock reads `now`, without overflow for any readings.
bool Expired(std::int64_t seen, std::int64_t now) {
    if (now <= seen)
        return false;
    const std::uint64_t age = static_cast<std::uint64_t>(now) - static_cast<std::uint64_t>(seen);
    return age > static_cast<std::uint64_t>(kRadioExpiryNs);
}

// With snapshotMutex held.
void ExpireRadios(std::int64_t now, std::int32_t justStored) {
    for (auto it = radioLastSeen.begin(); it != radioLastSeen.end();) {
        if (it->first != justStored && Expired(it->second, now)) {
            radiosByNumber.erase(it->first);
            it = radioLastSeen.erase(it);
        } else {
            ++it;
        }
    }
    // Only a flood of radio numbers gets here; the longest-silent radio makes room.
    while (radioLastSeen.size() > kMaxKeptRadios) {
        auto stalest = radioLastSeen.end();
        for (auto it = radioLastSeen.begin(); it != radioLastSeen.end(); ++it)
            if (it->first != justStored &&
                (stalest == radioLastSeen.end() || it->second < stalest->second))
                stalest = it;
        radiosByNumber.erase(stalest->first);
        radioLastSeen.erase(stalest);
    }
}

// With snapshotMutex held; radiosByNumber is never empty here. Copied into the shared record in
// place, so that its strings keep their storage from one datagram to the next.
void ComposeSnapshot(StationSnapshot& composed) {
    auto first = radiosByNumber.begin();
    composed = first->second;
    composed.call = latestCall;
    composed.contestname = latestContestName;
    composed.radios = 1;
    auto second = std::next(first);
    if (second != radiosByNumber.end()) {
        composed.radios = 2;
        composed.freq2 = second->second.freq;
        composed.band2 = second->second.band;
        composed.mode2 = second->second.mode;
        composed.radio2 = second->second.radio;
        composed.op_status2 = second->second.op_status;
    }
}

void HandleRadioMessage(const std::string& text, const DatagramTags& index) {
    auto element = [&](const char* name) { return ElementText(text, index, name); };
    auto wide = [&](const char* name) { return Utf8ToWide(element(name)); };

    const std::string freqText = element("freq");
    if (freqText.empty())
        return;
    std::int64_t tensOfHz = LeadingInteger(freqText);
    if (tensOfHz <= 0)
        return;
    // The value counts tens of hertz; keep the product within 64 bits.
    constexpr std::int64_t kMaxTens = std::numeric_limits<std::int64_t>::max() / 10;
    if (tensOfHz > kMaxTens)
        tensOfHz = kMaxTens;
    const std::int64_t hz = tensOfHz * 10;

    StationSnapshot record;
    record.freq = FormatMegahertz(hz);
    record.band = BandForFrequency(hz);
    record.mode = wide("mode");
    record.mycall = wide("mycall");
    record.opcall = wide("opcall");
    record.radio = wide("radioname");
    record.locator = wide("mylocator");
    if (record.locator.empty())
        record.locator = wide("locator");
    record.location = wide("mylocation");
    if (record.location.empty())
        record.location = wide("location");
    record.app = wide("app");
    if (record.app.empty())
        record.app = !record.locator.empty() || !record.location.empty() ? L"MiniBook" : L"N1MM";
    record.op_status = OpStatus(element("isrunning"));
    record.call = wide("call");
    record.contestname = wide("contestname");

    std::int32_t number = 1;
    const std::string numberText = element("radionr");
    if (!numberText.empty()) {
        const std::int64_t value = LeadingInteger(numberText);
        if (value > std::numeric_limits<std::int32_t>::max())
            number = std::numeric_limits<std::int32_t>::max();
        else if (value > 1)
            number = static_cast<std::int32_t>(value);
    }

    const LoggerClock clock = loggerClock.load();
    RaiseStationUpdate([&](StationSnapshot& shared) {
        if (!record.call.empty())
            latestCall = record.call;
        if (!record.contestname.empty())
            latestContestName = record.contestname;
        const std::int64_t now = clock();
        radiosByNumber[number] = std::move(record); // not read again
        radioLastSeen[number] = now;
        ExpireRadios(now, number);
        ComposeSnapshot(shared);
    });
}

void HandleContactMessage(const std::string& text, const DatagramTags& index) {
    const std::wstring call = Utf8ToWide(ElementText(text, index, "call"));
    const std::wstring contestName = Utf8ToWide(ElementText(text, index, "contestname"));
    const std::wstring mycall = Utf8ToWide(ElementText(text, index, "mycall"));
    RaiseStationUpdate([&](StationSnapshot& shared) {
        latestCall = call;
        latestContestName = contestName;
        shared.call = call;
        shared.contestname = contestName;
        if (!mycall.empty())
            shared.mycall = mycall;
        if (shared.app.empty())
            shared.app = L"N1MM";
    });
}

} // namespace

std::string LowerAscii(const std::string& text) {
    std::string lowered(text);
    for (char& c : lowered)
        c = LowerChar(c);
    return lowered;
}

std::int64_t LeadingInteger(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && IsSpace(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    // Accumulate towards the sign so that the negative limit is reachable too.
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        const int digit = text[at] - '0';
        if (negative) {
            value = value < (kMin + digit) / 10 ? kMin : value * 10 - digit;
        } else {
            value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
        }
    }
    return value;
}

std::string RootElementName(const std::string& text) {
    std::size_t search = 0;
    for (;;) {
        const std::size_t open = text.find('<', search);
        if (open == std::string::npos || open + 1 >= text.size())
            return std::string();
        const char next = text[open + 1];
        if (next == '?' || next == '!') {
            // Declarations and comments are passed over from just after their "<".
            search = open + 1;
            continue;
        }
        std::string name;
        for (std::size_t at = open + 1; at < text.size(); ++at) {
            const char c = text[at];
            if (c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '/' || c == '>')
                break;
            name.push_back(LowerChar(c));
        }
        return name;
    }
}

DatagramTags IndexDatagram(const std::string& text) {
    DatagramTags index;
    index.lowered = LowerAscii(text);
    IndexLowered(index);
    return index;
}

// Every match of "<name" or "</name>" starts at a "<", and the chains hold every "<" that can
// begin one, in order: what this finds is what a search of the whole text finds first.
std::string ElementText(const std::string& text, const DatagramTags& index,
                        const std::string& name) {
    // The parser's names are lower-case already; only another caller's name needs a copy.
    const bool lowerAlready =
        std::none_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
    const std::string lowerCopy = lowerAlready ? std::string() : LowerAscii(name);
    const std::string& lowerName = lowerAlready ? name : lowerCopy;
    const std::string& lowered = index.lowered;
    std::size_t open = std::string::npos;
    if (lowerName.empty()) {
        if (!index.tags.empty())
            open = index.tags.front().at;
    } else {
        for (std::size_t tag = index.firstOpening[static_cast<unsigned char>(lowerName[0])];
             tag != DatagramTags::kNone; tag = index.tags[tag].nextOpening) {
            if (HoldsAt(lowered, index.tags[tag].at + 1, lowerName)) {
                open = index.tags[tag].at;
                break;
            }
        }
    }
    if (open == std::string::npos)
        return std::string();
    const std::size_t close = lowered.find('>', open);
    if (close == std::string::npos)
        return std::string();
    const std::size_t begin = close + 1;
    const std::size_t nameEnd = lowerName.size() + 2; // from the "<" of "</name>" to its ">"
    const auto key = static_cast<unsigned char>(lowerName.empty() ? '>' : lowerName[0]);
    for (std::size_t tag = index.firstClosing[key]; tag != DatagramTags::kNone;
         tag = index.tags[tag].nextClosing) {
        const std::size_t at = index.tags[tag].at;
        if (at >= begin && HoldsAt(lowered, at + 2, lowerName) && at + nameEnd < lowered.size() &&
            lowered[at + nameEnd] == '>')
            return text.substr(begin, at - begin);
    }
    return std::string();
}

std::string ElementText(const std::string& text, const std::string& lowered,
                        const std::string& name) {
    DatagramTags index;
    index.lowered = lowered;
    IndexLowered(index);
    return ElementText(text, index, name);
}

// The plain way: the whole text searched for the patterns.
std::string ElementText(const std::string& text, const std::string& name) {
    const std::string lowered = LowerAscii(text);
    const std::string lowerName = LowerAscii(name);
    const std::size_t open = lowered.find("<" + lowerName);
    if (open == std::string::npos)
        return std::string();
    const std::size_t close = lowered.find('>', open);
    if (close == std::string::npos)
        return std::string();
    const std::size_t begin = close + 1;
    const std::size_t end = lowered.find("</" + lowerName + ">", begin);
    if (end == std::string::npos)
        return std::string();
    return text.substr(begin, end - begin);
}

void ParseLoggerDatagram(const std::string& text) {
    const std::string root = RootElementName(text);
    if (root.compare(0, 5, "radio") == 0)
        HandleRadioMessage(text, IndexDatagram(text));
    else if (root.compare(0, 7, "contact") == 0)
        HandleContactMessage(text, IndexDatagram(text));
}

void SetLoggerParserClock(LoggerClock clock) {
    loggerClock.store(clock ? clock : &SteadyNow);
}

void ResetLoggerParserState() {
    std::lock_guard<std::mutex> lock(snapshotMutex);
    radiosByNumber.clear();
    radioLastSeen.clear();
    latestCall.clear();
    latestContestName.clear();
}
