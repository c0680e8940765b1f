#pragma once
// Finding the configured client certificate again: the reference "store:issuedBy:issuedTo:location:
// keyName" names a store, and the certificate within it by KeyName.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "transfer/certificates/certificate_store.h"

namespace klvr {

// A reference that names no store to search; the text names the setting and what is wrong with it.
class CertificateReferenceError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Loads the store that parts 1 and 4 name into store and returns its first certificate whose KeyName is
// part 5 exactly; nothing when none is. Raises CertificateReferenceError for fewer than five parts, a
// location that is not a number, and a store that cannot be opened.
std::optional<Certificate> FindReferencedCertificate(CertificateStore& store,
                                                     const std::vector<std::string>& parts);

}  // namespace klvr
