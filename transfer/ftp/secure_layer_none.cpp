#include "transfer/ftp/secure_layer.h"

namespace klvr {

// Plain FTP only until the TLS layer joins the build.
std::unique_ptr<SecureLayer> MakeSecureLayer() {
    return nullptr;
}

}  // namespace klvr
