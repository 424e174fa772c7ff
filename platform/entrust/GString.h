#pragma once
#include <string>

// The toolkit's text: 8-bit, in the library's code page.
class GString {
public:
    GString() {}
    GString(const char* psz) : m_str(psz != nullptr ? psz : "") {}
    GString(const std::string& str) : m_str(str) {}

    operator const char*() const { return m_str.c_str(); }
    const char* c_str() const { return m_str.c_str(); }
    const std::string& str() const { return m_str; }
    bool IsEmpty() const { return m_str.empty(); }
    bool operator==(const char* psz) const { return psz != nullptr && m_str == psz; }
    bool operator!=(const char* psz) const { return !(*this == psz); }

private:
    std::string m_str;
};
