// The FTP client through whole sessions against a fuzzed server: logon, folders, listings, downloads
// (whole, resumed, into links, unpacked), MGet of a tree, deletes and times, all over plain FTP in
// passive mode. The input's first line names the client's operations, one letter each; the rest is the
// server's side (session_dialogue.h). Nothing may crash, hang past the time-outs, leak, or touch anything
// outside the destination folder.
//
//   L  log on again          a i e z  file type ASCII, IMAGE, EBCDIC, ZIP
//   o O  OverwriteExisting on, off
//   w  PWD                   c  CWD sub             l  List
//   g  Get f.bin             h  Get the first file of the last listing, with its listed size and time
//   r  Get f.bin, resuming the local copy           u  Get f.zip unpacked into a folder (ZIP)
//   k  Get f.bin into inside/link.bin, a link out of the destination once s planted it
//   m  MGet /dir/* into tree M  MGet "*.txt" into tree
//   d  Delete f.bin          t  ModifiedTime f.bin  q  Logout
//   p  an old local f.bin    s  plant links out of the destination
//   x  Abort between calls   X  Abort from the progress event of the next transfer
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

#include "fuzz/dialogue_server.h"
#include "fuzz/sandbox_folder.h"
#include "fuzz/session_dialogue.h"
#include "transfer/ftp/client.h"

namespace {

using klvr::FtpClient;
using klvr::FtpError;

// Short enough that a silent server costs little, long enough that a loaded machine rarely times out a
// willing one (which would only make the run less deep, never wrong).
constexpr long kTimeoutMs = 250;
constexpr std::size_t kMaxOperations = 24;

struct Session {
    FtpClient& client;
    klvr::fuzz::SandboxFolder& sandbox;
    std::uint16_t port;
    std::optional<klvr::ListEntry> listedFile;
    bool abortInProgress = false;
};

std::string Local(const Session& s, const std::string& name) {
    return s.sandbox.Inside() + "/" + name;
}

std::int64_t LocalSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

void Operate(Session& s, char op) {
    FtpClient& c = s.client;
    switch (op) {
        case 'L':
            c.Login("127.0.0.1", "u", "p", "acct", s.port);
            break;
        case 'a':
        case 'i':
        case 'e':
        case 'z':
            c.FileType = op == 'a'   ? klvr::kFileAscii
                         : op == 'i' ? klvr::kFileImage
                         : op == 'e' ? klvr::kFileEbcdic
                                     : klvr::kFileZip;
            break;
        case 'o':
        case 'O':
            c.OverwriteExisting = op == 'o';
            break;
        case 'w':
            c.ServerDirectory();
            break;
        case 'c':
            c.SetServerDirectory("sub");
            break;
        case 'l': {
            const klvr::Listing listing = c.List();
            for (const auto& entry : listing.Entries) {
                if (entry.Type == "F" && !entry.Name.empty()) {
                    s.listedFile = entry;
                    break;
                }
            }
            break;
        }
        case 'g':
            c.Get("f.bin", Local(s, "f.bin"));
            break;
        case 'h':
            if (s.listedFile) {
                c.Get(s.listedFile->Name, Local(s, "h.bin"), nullptr,
                      {s.listedFile->Size, s.listedFile->Modified});
            }
            break;
        case 'r': {
            std::int64_t offset = LocalSize(Local(s, "f.bin"));
            c.Get("f.bin", Local(s, "f.bin"), &offset);
            break;
        }
        case 'u': {
            std::error_code ec;
            std::filesystem::create_directories(Local(s, "unzipped"), ec);
            const int type = c.FileType;
            c.FileType = klvr::kFileZip;
            try {
                c.Get("f.zip", Local(s, "unzipped"));
            } catch (...) {
                c.FileType = type;
                throw;
            }
            c.FileType = type;
            break;
        }
        case 'k':
            c.Get("f.bin", Local(s, "link.bin"));
            break;
        case 'm':
        case 'M': {
            klvr::FileList list;
            c.MGet(op == 'm' ? "/dir/*" : "\"*.txt\"", Local(s, "tree"), list);
            for (int i = 1; i <= list.Count(); ++i) {
                if (list.Item(i).empty()) std::abort();
            }
            break;
        }
        case 'd':
            c.Delete("f.bin");
            break;
        case 't':
            c.ModifiedTime("f.bin");
            break;
        case 'q':
            c.Logout();
            break;
        case 'p':
            std::ofstream(Local(s, "f.bin"), std::ios::binary) << "an older local copy\n";
            break;
        case 's':
            s.sandbox.PlantLinks();
            break;
        case 'x':
            c.Abort();
            break;
        case 'X':
            s.abortInProgress = true;
            break;
        default:
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    klvr::fuzz::Dialogue dialogue = klvr::fuzz::ParseDialogue(data, size);
    std::string operations = dialogue.operations.substr(0, kMaxOperations);

    klvr::fuzz::SandboxFolder sandbox;
    {
        klvr::fuzz::DialogueServer server(std::move(dialogue));
        FtpClient client;
        client.Timeout = kTimeoutMs;
        client.Passive = true;
        client.LocalRoot = sandbox.Inside();
        Session session{client, sandbox, server.Port(), std::nullopt};
        int progressEvents = 0;
        client.OnProgress = [&](int, int, const std::string&, std::int64_t done, std::int64_t total) {
            if (done < 0 || total < 0) std::abort();
            if (session.abortInProgress && ++progressEvents == 3) {
                session.abortInProgress = false;
                client.Abort();
            }
        };
        // Replaying one input with KLVR_FUZZ_TRACE=file shows the dialogue and what the client reported.
        const char* trace = std::getenv("KLVR_FUZZ_TRACE");
        if (trace) client.Trace(trace, true, true, "> ", "< ");
        client.OnErrorReported = [trace](int code, const std::string& text) {
            if (code != klvr::kReportError && code != klvr::kReportWarning) std::abort();
            if (trace) std::fprintf(stderr, "reported %d: %s\n", code, text.c_str());
        };
        try {
            client.Login("127.0.0.1", "u", "p", "acct", server.Port());
        } catch (const FtpError& e) {
            if (trace) std::fprintf(stderr, "logon failed: %s\n", e.what());
        }
        for (char op : operations) {
            try {
                Operate(session, op);
            } catch (const FtpError& e) {
                if (trace) std::fprintf(stderr, "%c failed: %s\n", op, e.what());
            }
            if (client.State() != 0 && client.State() != 2) std::abort();
        }
    }
    const std::string trespass = sandbox.Trespass();
    if (!trespass.empty()) {
        std::fprintf(stderr, "The client wrote outside its destination: %s\n", trespass.c_str());
        std::abort();
    }
    return 0;
}
