#include "platform/entrust/EntrustNameList.h"

short EntrustNameList::GetEntrustName(int nIndex, EntrustName& name) const
{
    if (nIndex < 0 || nIndex >= GetNumberOfNames())
        return ENT_ERR_INVALID_ARGUMENT;
    name = m_names[nIndex];
    return ENT_OK;
}
