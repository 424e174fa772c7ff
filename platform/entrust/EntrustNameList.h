#pragma once
#include <vector>

#include "platform/entrust/EntrustName.h"

// The entries a directory search found.
class EntrustNameList {
public:
    int GetNumberOfNames() const { return static_cast<int>(m_names.size()); }
    short GetEntrustName(int nIndex, EntrustName& name) const;

    // Toolkit side.
    void Clear() { m_names.clear(); }
    void Add(const EntrustName& name) { m_names.push_back(name); }

private:
    std::vector<EntrustName> m_names;
};
