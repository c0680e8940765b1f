#pragma once
// A fuzz input read as an FTP server's side of a session: the client's operations to run, and for each
// command verb a queue of answers. The text form is what the seeds are written in:
//
//   glmD                 first line: the operations, one letter each (see fuzz_session.cpp)
//   % VERB               an answer to the next command of that verb (GREETING: to the connection)
//   text                 a reply line, sent with CR LF; escapes \r \n \t \\ \xHH anywhere
//   !raw text            bytes sent as they are, without a line end
//   !data text           (data commands) a data line, sent with CR LF
//   !bytes text          (data commands) data without a line end
//   !repeat N            the data so far N times over
//   !chunk N             the data goes out N bytes to a write
//   !cut N               the data connection is closed after N bytes
//   !reset               the data connection ends with a reset instead of a close
//   !noconnect           the data connection is never taken
//   !early               the final reply goes out before the data
//   !then                the lines after it are the final reply (otherwise "226 Transfer complete")
//   !close               the control connection is closed after the answer
//   !hang                the server falls silent after the answer, until the client goes away
//
// In replies, {port} is the data listener's port, {epsv} its EPSV form and {pasv} its PASV form. A verb
// whose answers are used up, or an answer without reply bytes, gets the reply of a plain, willing server.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace klvr::fuzz {

struct Answer {
    std::string reply;                 // the bytes of the (first) reply, line ends included
    std::string data;                  // for data commands
    std::optional<std::string> final;  // after the data; nothing: the default
    std::optional<std::size_t> cut;
    std::size_t chunk = 0;  // 0: as much as the socket takes
    bool reset = false;
    bool noConnect = false;
    bool early = false;
    bool close = false;
    bool hang = false;
};

struct Dialogue {
    std::string operations;
    std::map<std::string, std::vector<Answer>> answers;  // by upper-case verb, in order
};

// The most data one answer may carry, so that a run stays quick however the input repeats it.
inline constexpr std::size_t kMaxDataBytes = 1 << 20;

Dialogue ParseDialogue(const std::uint8_t* data, std::size_t size);

// What a willing server answers to verb (data commands: the preliminary reply).
Answer DefaultAnswer(const std::string& verb);

bool IsDataCommand(const std::string& verb);

}  // namespace klvr::fuzz
