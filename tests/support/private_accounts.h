#pragma once
// System accounts for servers that check logons against the password files (vsftpd's local users,
// dante's SOCKS5 users): private copies of /etc/passwd and /etc/shadow with the test's users added,
// mounted over the real ones in a mount namespace that only the started server sees. The machine's
// own files are never touched.
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace klvr::test {

struct Account {
    std::string name;
    std::string password;
    std::string home = "/nonexistent";
};

// False where no private mount namespace can be made (not root, no unshare).
bool CanUsePrivateAccounts();

// The command prefix that starts a program with the accounts in place ("unshare --mount sh -c ...");
// the program's own argv follows it. Account i gets uid and gid 23456 + i.
std::vector<std::string> WithPrivateAccounts(const std::vector<Account>& accounts, const TempDir& work);

int AccountUid(std::size_t index);

// A SHA-512 crypt hash of password as a shadow file holds it, made by the openssl program.
std::string CryptHash(const std::string& password, const TempDir& work);

}  // namespace klvr::test
