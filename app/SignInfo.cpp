#include "app/SignInfo.h"

#include "cert/wincrypt/CWincryptCertificate.h"

CS_SIGNINFO::~CS_SIGNINFO()
{
    delete pCertificate;
}

void DeleteSignInfoList(CSignInfoList& lstSigners)
{
    for (CS_SIGNINFO* p : lstSigners)
        delete p;
    lstSigners.clear();
}
