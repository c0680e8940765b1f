#include "transfer/ftp/client.h"

namespace klvr {

struct FtpClient::Impl {};

FtpClient::FtpClient() : impl_(std::make_unique<Impl>()) {}
FtpClient::~FtpClient() = default;

int FtpClient::State() const {
    return 0;
}
std::string FtpClient::RemoteEndpoint() const {
    return {};
}
void FtpClient::SetServerDirectory(const std::string&) {
    throw FtpError("Not connected");
}
std::string FtpClient::ServerDirectory() {
    throw FtpError("Not connected");
}
void FtpClient::Trace(const std::string&, bool, bool, const std::string&, const std::string&) {}
void FtpClient::Abort() {}
void FtpClient::Login(const std::string&, const std::string&, const std::string&, const std::string&, long) {
    throw FtpError("The FTP client is not built yet");
}
void FtpClient::Logout() {}
void FtpClient::ListReset() {}
Listing FtpClient::List() {
    throw FtpError("Not connected");
}
void FtpClient::Get(const std::string&, const std::string&, std::int64_t*) {
    throw FtpError("Not connected");
}
void FtpClient::MGet(const std::string&, const std::string&, FileList&) {
    throw FtpError("Not connected");
}
void FtpClient::Delete(const std::string&) {
    throw FtpError("Not connected");
}

}  // namespace klvr
