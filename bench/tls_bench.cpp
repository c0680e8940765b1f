// Drives the FTP client over explicit TLS with protected data (Security 5) for the TLS benchmark: one
// Get or one MGet, then the elapsed time and the bytes or files moved as one line of JSON. The
// server's certificate is taken whatever its verdicts, as curl -k and lftp without verification do.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "transfer/ftp/client.h"

int main(int argc, char** argv) {
    if (argc != 8 || (std::string(argv[1]) != "get" && std::string(argv[1]) != "mget")) {
        std::fprintf(stderr, "usage: tls_bench get|mget HOST PORT USER PASSWORD REMOTE LOCAL\n");
        return 2;
    }
    std::string mode = argv[1];
    klvr::FtpClient client;
    client.Timeout = 60000;
    client.Passive = true;
    client.Security = 5;
    client.FileType = klvr::kFileImage;
    client.OnAuthenticate = [](const klvr::Certificate&, bool, bool, bool, bool& accept, std::string&) {
        accept = true;
    };
    try {
        auto start = std::chrono::steady_clock::now();
        client.Login(argv[2], argv[4], argv[5], "", std::atol(argv[3]));
        long long amount = 0;
        if (mode == "get") {
            client.Get(argv[6], argv[7]);
            amount = static_cast<long long>(std::filesystem::file_size(argv[7]));
        } else {
            klvr::FileList list;
            client.MGet(argv[6], argv[7], list);
            amount = list.Count();
        }
        client.Logout();
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("{\"seconds\": %.3f, \"%s\": %lld}\n", seconds, mode == "get" ? "bytes" : "files",
                    amount);
    } catch (const klvr::FtpError& e) {
        std::fprintf(stderr, "tls_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
