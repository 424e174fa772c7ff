#pragma once
#include <string>
#include <vector>

#include "cert/CertTypes.h"
#include "platform/framework/CImageList.h"
#include "platform/framework/CListCtrl.h"

class CCertificate;

// One row of a CCertificateList: the certificates of one card of one owner
// from one issuer, or one software certificate.
struct CERTGROUP_INFO {
    std::vector<CCertificate*> lstCertificates;  // not owned, in the source list's order
    std::string strKey;  // card rows: owner's identity number; others: display name
    std::string strIssuer;
    int nCardType = 0;        // 0 no recognised card, 1 DNIe, 3 "TEMD_CSP" card
    int nSignatureUsage = 0;  // software rows: 0x22 or 0x02; card rows: 0
};

// Report list of certificates, grouped by card and owner. The owner sets
// m_pCertificates, calls InitColumns once from its dialog initialisation, and
// Refill whenever it changed the certificates (the rows point into them).
class CCertificateList : public CListCtrl {
public:
    enum { IMAGE_CERTIFICATE = 0, IMAGE_IDENTITY_CARD = 1, IMAGE_PHOTO_CARD = 2 };

    CCertificateList() {}
    ~CCertificateList() override;

    CCertificateArray* m_pCertificates = nullptr;
    // Every certificate gets a row, whatever its usages (the session
    // information dialog's lists); otherwise a certificate that is not on a
    // card needs a signature usage, as a login certificate does.
    bool m_bEveryCertificate = false;

    void InitColumns();
    void Refill();
    // The record of the row that holds the selection mark; nullptr without one.
    CERTGROUP_INFO* GetSelectedGroup() const;
    int GetGroupCount() const { return static_cast<int>(m_Groups.size()); }

    // Column 1's text: the "OU=" component's value when a comma follows it, else
    // the whole issuer.
    static std::string IssuerColumnText(const std::string& strIssuer);

private:
    void DeleteGroups();
    void InsertGroupRow(CERTGROUP_INFO* pGroup, int nIndex);

    std::vector<CERTGROUP_INFO*> m_Groups;
    CImageList m_Images;
};
