#pragma once
namespace klvr {

// The hidden home of the FTP client and the certificate list during a run (the transfer engine fills it).
class RunSession {
  public:
    virtual ~RunSession() = default;
};

}  // namespace klvr
