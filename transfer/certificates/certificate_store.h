#pragma once
// A certificate store object: one of the four store folders, chosen by location and name.
#include <functional>
#include <string>
#include <vector>

#include "transfer/certificates/certificate.h"

namespace klvr {

class CertificateStore {
  public:
    virtual ~CertificateStore() = default;

    int StoreLocation = 0;  // 0 local machine, 1 current user
    std::string StoreName;  // "MY" or "ROOT"

    // Reloads the certificates of the current store; a file that cannot be read is passed over and its
    // problem reported through OnError. Throws CertificateError for a store name other than "MY" or
    // "ROOT" or a location other than 0 or 1.
    virtual void Refresh();

    // The store's certificates in file-name order, addressable from 1.
    const std::vector<Certificate>& Certificates() const { return certificates_; }
    const Certificate& Item(int index) const;  // throws SubscriptError outside 1..Count
    int Count() const { return static_cast<int>(certificates_.size()); }

    std::function<void(const std::string& text)> OnError;

  protected:
    // Whether Refresh keeps a certificate of the store's files.
    virtual bool Lists(const Certificate&) const { return true; }

  private:
    std::vector<Certificate> certificates_;
};

// The list object of the certificate picker: the store operations plus a selection, as a model
// without a user interface.
class CertificateList : public CertificateStore {
  public:
    // Reloads the store, keeping only certificates fit for CertificateUsage, and clears the selection.
    void Refresh() override;

    int SelectedIndex() const { return selectedIndex_; }  // from 1; below 1 means none
    // Selects entry index (below 1: none); raises OnSelectionChanged when the selection changes. Throws
    // SubscriptError above Count.
    virtual void Select(int index);
    // The user accepted the selected entry in the list itself; raises OnAccept only while one is selected.
    virtual void Accept();

    // Key-usage bits a certificate must allow to be listed (digital signature 0x80, non-repudiation 0x40,
    // key encipherment 0x20, data encipherment 0x10, key agreement 0x08, certificate signing 0x04,
    // CRL signing 0x02); 0 lists every certificate. A certificate without a key-usage extension allows
    // every use.
    int CertificateUsage = 0;

    std::function<void()> OnSelectionChanged;
    std::function<void()> OnAccept;

  protected:
    bool Lists(const Certificate& certificate) const override;

  private:
    int selectedIndex_ = 0;
};

}  // namespace klvr
