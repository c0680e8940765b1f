#pragma once
// A scripted FTP peer on 127.0.0.1 for what real servers cannot be made to do. It plays a dialogue,
// one step per line:
//   > text            send a reply line (CR LF added); {pasv} and {epsv} become the address of a new
//                     passive data listener in PASV ("127,0,0,1,p1,p2") and EPSV ("|||port|") form;
//                     {pasvport} is its port alone ("p1,p2")
//   >| text           send text without a line end
//   < pattern         expect a command: exact, or a prefix when the pattern ends in "*" (escapes as for data)
//   data text         send text on the data connection (escapes \r \n \t \\ \xHH)
//   data-repeat N t   send text t N times
//   data-offer N t    the same, but a client that stops reading ends the sending, not the dialogue
//   data-close        close the data connection
//   data-reset        drop the data connection with a reset
//   active            connect to the address of the last PORT / EPRT command as the data connection
//   sleep ms          pause
//   hang              fall silent until the client goes away
//   close             close the control connection
//   accept            take the next control connection (the client connects again)
// Blank lines and lines starting with "#" are skipped. A FEAT the dialogue does not expect is answered
// 502, as by a server without extensions, and left out of Commands().
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace klvr::test {

class ScriptedFtpServer {
  public:
    explicit ScriptedFtpServer(const std::string& dialogue);
    ~ScriptedFtpServer();
    ScriptedFtpServer(const ScriptedFtpServer&) = delete;
    ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

    std::uint16_t Port() const { return port_; }
    // Waits until every step was played (or the dialogue broke off); the deviations met ("" when the
    // client followed the script).
    std::string Finish();
    std::vector<std::string> Commands() const;
    // The client-side port of every passive data connection, in order.
    std::vector<std::uint16_t> DataPeerPorts() const;

  private:
    void Run();
    void Fail(const std::string& text);

    std::vector<std::string> steps_;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> commands_;
    std::vector<std::uint16_t> dataPeerPorts_;
    std::string failures_;
    bool finished_ = false;
    bool stepsDone_ = false;
    int stopFd_ = -1;  // eventfd: the test is over, stop waiting
};

// Decodes the escapes of a data step.
std::string Unescape(const std::string& text);

}  // namespace klvr::test
