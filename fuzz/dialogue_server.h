#pragma once
// An FTP server on 127.0.0.1 that plays a fuzzed dialogue to whatever the client sends, on a thread of
// its own (the client's calls block). It takes a new control connection whenever the last one ends, and
// offers passive data connections only. Every wait also watches for the end of the run, so the server
// never outlives its client for long.
#include <cstdint>
#include <map>
#include <string>
#include <thread>

#include "fuzz/session_dialogue.h"

namespace klvr::fuzz {

class DialogueServer {
  public:
    explicit DialogueServer(Dialogue dialogue);
    ~DialogueServer();  // stops the server and waits for it
    DialogueServer(const DialogueServer&) = delete;
    DialogueServer& operator=(const DialogueServer&) = delete;

    std::uint16_t Port() const { return port_; }

  private:
    void Run();
    void Serve(int control);
    // False when the control connection is over.
    bool Answer(int control, const std::string& verb, const klvr::fuzz::Answer& answer);
    void SendData(const klvr::fuzz::Answer& answer);
    std::string Expand(const std::string& text) const;
    klvr::fuzz::Answer Next(const std::string& verb);

    Dialogue dialogue_;
    std::map<std::string, std::size_t> used_;  // answers taken, by verb
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    int dataListenFd_ = -1;
    std::uint16_t dataPort_ = 0;
    int stopFd_ = -1;
    std::thread thread_;
};

}  // namespace klvr::fuzz
