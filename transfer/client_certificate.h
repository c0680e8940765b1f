#pragma once
// Finding the configured client certificate again: the reference "store:issuedBy:issuedTo:location:
// keyName" names a store, and the certificate within it by KeyName.
#include <optional>
#include <string>
#include <vector>

#include "transfer/certificates/certificate_store.h"

namespace klvr {

// Loads the store that parts 1 and 4 name into store and returns its first certificate whose KeyName is
// part 5 exactly; nothing when none is. Fewer than five parts raise SubscriptError, a location that is
// not a number ConversionError, an unknown store CertificateError.
std::optional<Certificate> FindReferencedCertificate(CertificateStore& store,
                                                     const std::vector<std::string>& parts);

}  // namespace klvr
