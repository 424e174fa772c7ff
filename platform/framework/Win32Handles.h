#pragma once
// Owning holders for kernel objects and registry keys, as unique_ptr deleters.
// Empty is null: a CreateFile result goes through OwnFile, which turns its
// INVALID_HANDLE_VALUE into an empty holder.
#include <windows.h>

#include <memory>
#include <type_traits>

struct CHandleClose {
    void operator()(HANDLE h) const { ::CloseHandle(h); }
};
typedef std::unique_ptr<void, CHandleClose> CHandlePtr;

inline CHandlePtr OwnFile(HANDLE h)
{
    return CHandlePtr(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

struct CRegKeyClose {
    void operator()(HKEY hKey) const { ::RegCloseKey(hKey); }
};
typedef std::unique_ptr<std::remove_pointer<HKEY>::type, CRegKeyClose> CRegKeyPtr;
