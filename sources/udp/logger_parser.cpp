#include "sources/udp/logger_parser.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <iterator>
#include <limits>
#include <map>
#include <utility>

#include "core/band_plan.h"
#include "core/numbers.h"
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

bool HoldsNoCase(std::string_view text, std::size_t at, std::string_view part) {
    if (at > text.size() || text.size() - at < part.size())
        return false;
    for (std::size_t i = 0; i < part.size(); ++i) {
        const char a = text[at + i];
        const char b = part[i];
        // Equal bytes are the common case; otherwise only the same letter in the other case.
        if (a != b && ((a ^ b) != 0x20 || static_cast<unsigned char>((a | 0x20) - 'a') >= 26))
            return false;
    }
    return true;
}

// kOpCalling for a running operator, kOpSearching for one who is not, "" when unsaid.
const wchar_t* OpStatus(std::string_view isRunning) {
    char word[6];
    std::size_t length = 0;
    for (char c : isRunning) {
        if (IsCSpace(c))
            continue;
        if (length == sizeof word)
            return L"";
        word[length++] = LowerChar(c);
    }
    const std::string_view said(word, length);
    if (said == "true" || said == "1")
        return kOpCalling;
    if (said == "false" || said == "0")
        return kOpSearching;
    return L"";
}

// Into `out`, reusing its storage: the texts of one radio seldom change from one datagram to the
// next, and most are plain ASCII.
void AssignWide(std::wstring& out, std::string_view utf8) {
    for (const char c : utf8)
        if (static_cast<unsigned char>(c) >= 0x80) {
            out = Utf8ToWide(utf8.data(), utf8.size());
            return;
        }
    out.resize(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i)
        out[i] = static_cast<wchar_t>(utf8[i]);
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
    // Only a flood of radio numbers gets here. The highest numbers make room, never the radio just
    // heard: the two lowest, which are shown and posted, stay whatever the flood.
    while (radioLastSeen.size() > kMaxKeptRadios) {
        auto highest = std::prev(radioLastSeen.end());
        if (highest->first == justStored)
            --highest;
        radiosByNumber.erase(highest->first);
        radioLastSeen.erase(highest);
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

// What a radio message is read for, all found in one pass.
enum RadioField {
    kFreq,
    kMode,
    kMyCall,
    kOpCall,
    kRadioName,
    kMyLocator,
    kLocator,
    kMyLocation,
    kLocation,
    kApp,
    kIsRunning,
    kCall,
    kContestName,
    kRadioNr,
    kRadioFieldCount
};
constexpr std::string_view kRadioFieldList[kRadioFieldCount] = {
    "freq",       "mode",     "mycall", "opcall",    "radioname", "mylocator",   "locator",
    "mylocation", "location", "app",    "isrunning", "call",      "contestname", "radionr"};

void HandleRadioMessage(std::string_view text) {
    std::string_view field[kRadioFieldCount];
    static const ElementNames kRadioFieldNames(kRadioFieldList, kRadioFieldCount);
    ElementTexts(text, kRadioFieldNames, field);

    if (field[kFreq].empty())
        return;
    const std::int64_t tensOfHz = LeadingInteger(field[kFreq]);
    if (tensOfHz <= 0)
        return;
    // The value counts tens of hertz; keep the product within 64 bits.
    constexpr std::int64_t kMaxTens = std::numeric_limits<std::int64_t>::max() / 10;
    const std::int64_t hz = std::min(tensOfHz, kMaxTens) * 10;

    // Below 1 is radio 1; beyond 32 bits a number saturates rather than wrap onto another radio.
    const std::int32_t number =
        field[kRadioNr].empty()
            ? 1
            : static_cast<std::int32_t>(std::clamp<std::int64_t>(
                  LeadingInteger(field[kRadioNr]), 1, std::numeric_limits<std::int32_t>::max()));

    const LoggerClock clock = loggerClock.load();
    RaiseStationUpdate([&](StationSnapshot& shared) {
        const std::int64_t now = clock();
        // Written over the radio's previous record, so that its strings keep their storage. The
        // second-radio fields of a kept record stay empty: only the composed snapshot has them.
        StationSnapshot& record = radiosByNumber[number];
        FormatMegahertz(hz, record.freq);
        record.band = BandForFrequency(hz);
        AssignWide(record.mode, field[kMode]);
        AssignWide(record.mycall, field[kMyCall]);
        AssignWide(record.opcall, field[kOpCall]);
        AssignWide(record.radio, field[kRadioName]);
        AssignWide(record.locator, field[kMyLocator].empty() ? field[kLocator] : field[kMyLocator]);
        AssignWide(record.location,
                   field[kMyLocation].empty() ? field[kLocation] : field[kMyLocation]);
        if (!field[kApp].empty())
            AssignWide(record.app, field[kApp]);
        else
            record.app =
                !record.locator.empty() || !record.location.empty() ? L"MiniBook" : kN1mmApp;
        record.op_status = OpStatus(field[kIsRunning]);
        AssignWide(record.call, field[kCall]);
        AssignWide(record.contestname, field[kContestName]);

        if (!record.call.empty())
            latestCall = record.call;
        if (!record.contestname.empty())
            latestContestName = record.contestname;
        radioLastSeen[number] = now;
        ExpireRadios(now, number);
        ComposeSnapshot(shared);
    });
}

enum ContactField { kContactCall, kContactContestName, kContactMyCall, kContactFieldCount };
constexpr std::string_view kContactFieldList[kContactFieldCount] = {"call", "contestname",
                                                                    "mycall"};

void HandleContactMessage(std::string_view text) {
    std::string_view field[kContactFieldCount];
    static const ElementNames kContactFieldNames(kContactFieldList, kContactFieldCount);
    ElementTexts(text, kContactFieldNames, field);
    RaiseStationUpdate([&](StationSnapshot& shared) {
        AssignWide(latestCall, field[kContactCall]);
        AssignWide(latestContestName, field[kContactContestName]);
        shared.call = latestCall;
        shared.contestname = latestContestName;
        if (!field[kContactMyCall].empty())
            AssignWide(shared.mycall, field[kContactMyCall]);
        if (shared.app.empty())
            shared.app = kN1mmApp;
    });
}

} // namespace

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

ElementNames::ElementNames(const std::string_view* list, std::size_t count) {
    static_assert(kMaxElementsAtOnce <= 32, "one bit per name");
    size = std::min(count, kMaxElementsAtOnce);
    for (std::size_t i = 0; i < size; ++i) {
        names[i] = list[i];
        const std::uint32_t bit = std::uint32_t{1} << i;
        if (list[i].empty())
            emptyNames |= bit;
        else
            byFirstByte[LowerChar(list[i][0]) & 31] |= bit;
    }
}

// Every match of "<name" or "</name>" starts at a "<": one walk over the "<" of the text, in
// order, finds for every name what a search of the whole text for it finds first.
void ElementTexts(std::string_view text, const ElementNames& wanted, std::string_view* texts) {
    std::size_t begin[kMaxElementsAtOnce]; // where the text starts, once the opening tag is found
    const std::string_view* const names = wanted.names;
    std::uint32_t unopened =
        wanted.size == 32 ? ~std::uint32_t{0} : (std::uint32_t{1} << wanted.size) - 1;
    std::uint32_t open = 0;
    for (std::size_t i = 0; i < wanted.size; ++i)
        texts[i] = std::string_view();
    auto lowerAt = [&](std::size_t at) { return at < text.size() ? LowerChar(text[at]) : '\0'; };
    const char* const first = text.data();
    const char* tag = first;
    while ((unopened | open) != 0 &&
           (tag = static_cast<const char*>(std::memchr(tag, '<', text.size() - (tag - first))))) {
        const std::size_t at = static_cast<std::size_t>(tag - first);
        ++tag;
        // A closing tag "</name>" ends the element of every open name it spells, once past the
        // opening tag's ">".
        const char after = lowerAt(at + 1);
        if (after == '/' && open != 0) {
            const char next = lowerAt(at + 2);
            for (std::uint32_t ending =
                     open & ((next == '>' ? wanted.emptyNames : 0) | wanted.byFirstByte[next & 31]);
                 ending != 0; ending &= ending - 1) {
                const std::size_t i = static_cast<std::size_t>(__builtin_ctz(ending));
                const std::size_t nameEnd = at + 2 + names[i].size();
                if (at >= begin[i] && HoldsNoCase(text, at + 2, names[i]) &&
                    nameEnd < text.size() && text[nameEnd] == '>') {
                    texts[i] = text.substr(begin[i], at - begin[i]);
                    open &= ~(std::uint32_t{1} << i);
                }
            }
        }
        // An opening "<name" (any tag that begins like it, "</" too for a name that begins with
        // "/") starts the element's text after the next ">".
        for (std::uint32_t opening =
                 unopened & (wanted.emptyNames | wanted.byFirstByte[after & 31]);
             opening != 0; opening &= opening - 1) {
            const std::size_t i = static_cast<std::size_t>(__builtin_ctz(opening));
            if (!HoldsNoCase(text, at + 1, names[i]))
                continue;
            const std::uint32_t bit = std::uint32_t{1} << i;
            unopened &= ~bit;
            const std::size_t close = text.find('>', at);
            if (close == std::string_view::npos)
                continue; // no text, and nothing left to find for it
            begin[i] = close + 1;
            open |= bit;
        }
    }
}

void ParseLoggerDatagram(const std::string& text) {
    const std::string root = RootElementName(text);
    if (root.compare(0, 5, "radio") == 0)
        HandleRadioMessage(text);
    // A deleted contact's call is no "last worked" and no new call to post: it changes nothing.
    else if (root.compare(0, 7, "contact") == 0 && root.compare(0, 13, "contactdelete") != 0)
        HandleContactMessage(text);
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
