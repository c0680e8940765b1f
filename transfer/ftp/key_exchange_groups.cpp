#include "transfer/ftp/key_exchange_groups.h"

#include <openssl/obj_mac.h>

#include <algorithm>

namespace klvr {

std::vector<int> KeyExchangeGroups(int preferred) {
    std::vector<int> groups{NID_X9_62_prime256v1, NID_X25519,    NID_X448,      NID_secp521r1, NID_secp384r1,
                            NID_ffdhe2048,        NID_ffdhe3072, NID_ffdhe4096, NID_ffdhe6144, NID_ffdhe8192};
    auto found = std::find(groups.begin(), groups.end(), preferred);
    if (found != groups.end()) std::rotate(groups.begin(), found, found + 1);
    return groups;
}

}  // namespace klvr
