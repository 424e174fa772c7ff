#include "util/CHiddenStrings.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <windows.h>

#include "api/CLog.h"

std::string CHiddenStrings::GetString(int nIndex)
{
    if (nIndex < 0 || nIndex >= ENTRY_COUNT)
        return std::string();
    return Unscramble(s_abTable + nIndex * SLOT_SIZE, SLOT_SIZE, s_bKey);
}

std::string CHiddenStrings::Unscramble(const unsigned char* pData, int nLength,
                                       unsigned char bKey)
{
    char szWork[SLOT_SIZE + 1];
    memset(szWork, 0, sizeof(szWork));
    if (pData == nullptr || nLength < 0)
        return std::string();
    if (nLength > SLOT_SIZE)
        nLength = SLOT_SIZE;
    for (int i = 0; i < nLength; ++i)
        szWork[i] = static_cast<char>(pData[i] ^ bKey);
    std::string strText(szWork);
    // The table keeps these texts out of plain sight: no plain copy stays on the stack.
    SecureZeroMemory(szWork, sizeof(szWork));
    return strText;
}

void CHiddenStrings::Scramble(const char* pszText, unsigned char* pBuffer, int nLength,
                              unsigned char* pbKey, int bStoredKey)
{
    srand(static_cast<unsigned>(time(nullptr)));
    unsigned char bKey = bStoredKey ? s_bKey : static_cast<unsigned char>(rand() * 255 / 32767);
    if (pbKey != nullptr)
        *pbKey = bKey;
    if (pszText == nullptr || pBuffer == nullptr || nLength <= 0)
        return;

    // The text with its zero must fit the caller's buffer; a longer one is cut.
    size_t nText = strlen(pszText) + 1;
    if (nText > static_cast<size_t>(nLength)) {
        memcpy(pBuffer, pszText, nLength - 1);
        pBuffer[nLength - 1] = '\0';
        nText = nLength;
    } else {
        memcpy(pBuffer, pszText, nText);
        memset(pBuffer + nText, 0, nLength - nText);
    }
    for (int i = 0; i < nLength; ++i)
        pBuffer[i] ^= bKey;

    if (bStoredKey) {
        std::string strList;
        char szItem[8];
        for (size_t i = 0; i < nText; ++i) {
            snprintf(szItem, sizeof(szItem), "0x%02X, ", pBuffer[i]);
            strList += szItem;
        }
        strList.erase(strList.size() - 2);
        LogInfo("%s", strList.c_str());
    }
}
