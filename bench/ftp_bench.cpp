// Drives the FTP client for the benchmark script: one Get or one MGet, then the elapsed time, the
// bytes or files moved and the peak resident memory of this process, as one line of JSON.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "transfer/ftp/client.h"

int main(int argc, char** argv) {
    if (argc != 8 || (std::string(argv[1]) != "get" && std::string(argv[1]) != "mget")) {
        std::fprintf(stderr, "usage: ftp_bench get|mget HOST PORT USER PASSWORD REMOTE LOCAL\n");
        return 2;
    }
    std::string mode = argv[1];
    klvr::FtpClient client;
    client.Timeout = 60000;
    client.Passive = true;
    client.FileType = klvr::kFileImage;
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
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("{\"seconds\": %.3f, \"%s\": %lld, \"peakRssKiB\": %ld}\n", seconds,
                    mode == "get" ? "bytes" : "files", amount, usage.ru_maxrss);
    } catch (const klvr::FtpError& e) {
        std::fprintf(stderr, "ftp_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
