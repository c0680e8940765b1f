#pragma once
// A certificate store object: one of the four store folders, chosen by location and name.
#include <functional>
#include <string>
#include <vector>

#include "transfer/certificates/certificate.h"

namespace klvr {

class CertificateStore {
  public:
    int StoreLocation = 0;  // 0 local machine, 1 current user
    std::string StoreName;  // "MY" or "ROOT"

    // Reloads the certificates of the current store; a file that cannot be read is passed over and its
    // problem reported through OnError.
    void Refresh();

    // The store's certificates in file-name order, addressable from 1.
    const std::vector<Certificate>& Certificates() const { return certificates_; }
    const Certificate& Item(int index) const;  // throws SubscriptError outside 1..Count
    int Count() const { return static_cast<int>(certificates_.size()); }

    std::function<void(const std::string& text)> OnError;

  private:
    std::vector<Certificate> certificates_;
};

// The list object of the certificate picker: the store operations plus a selection, as a model
// without a user interface.
class CertificateList : public CertificateStore {
  public:
    int SelectedIndex() const { return selectedIndex_; }  // from 1; below 1 means none
    void Select(int index);                               // raises OnSelectionChanged
    void Accept();                                        // the user accepted the selected entry
    int CertificateUsage = 0;

    std::function<void()> OnSelectionChanged;
    std::function<void()> OnAccept;

  private:
    int selectedIndex_ = 0;
};

}  // namespace klvr
