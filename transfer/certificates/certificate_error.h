#pragma once
#include <stdexcept>

namespace klvr {

// The certificate components report every failure with this one type; its text is what the caller logs.
class CertificateError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace klvr
