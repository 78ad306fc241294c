#pragma once
// rigctld's default protocol as Corvane reads it: a command is one line, and its reply is lines of
// text, each ended by LF. A get answers its values, one a line ("f": the hertz; "m": the mode,
// then the passband); a command that fails answers "RPRT -n" alone; "\dump_caps" answers many
// lines and ends with "RPRT 0". Reading is pure (bytes in, a verdict out), so it can be fuzzed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A reply (every byte of it, line ends included) above this is refused: the capabilities of the
// largest radios take a few KiB.
constexpr std::size_t kRigctldMaxReply = 64 * 1024;

enum class RigctldReplyState {
    Incomplete, // its lines have not all arrived
    Complete,   // `lines` hold the values
    Refused,    // "RPRT -n": rigctld could not do it; the connection is still in step
    Malformed,  // too large, or an RPRT that cannot stand where it stands: out of step
};

struct RigctldReply {
    RigctldReplyState state = RigctldReplyState::Incomplete;
    std::vector<std::string> lines; // without their line ends (LF, or CR LF)
    std::size_t used = 0;           // bytes of the input the reply took, when not Incomplete
};

// Reads one reply from the start of `received`: `valueLines` lines of values, or with 0 the lines
// up to and including "RPRT 0".
RigctldReply ReadRigctldReply(std::string_view received, int valueLines);

// The frequency line: whole hertz (a decimal part, as older rigctld print, is dropped); 0 when it
// is no number.
std::int64_t RigctldHertz(const std::string& line);

// Without leading and trailing blanks and tabs.
std::string TrimRigctldText(std::string_view text);

// The radio's name from \dump_caps: "Mfg name" and "Model name" ("Hamlib Dummy"), either alone
// when the other is missing or empty.
std::string RigctldRadioName(const std::vector<std::string>& capsLines);
