// Linked into every program of the Windows build (packaging/windows/CMakeLists.txt): while a
// program runs, a mutex named after the folder it was started from exists, so that the
// installer and the uninstaller of that folder can see it runs before they replace or remove
// its files. A copy in another folder has another name and does not stand in their way.
//
// The name is "Local\tallyconf " and the folder's long path, lower case, with "/" for "\"
// (a mutex name cannot hold a backslash); packaging/windows/tallyconf.nsi makes the same one
// from its install folder.

#include <windows.h>

#include <string>

namespace {

std::wstring programFolderMutexName()
{
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], DWORD(path.size()));
    if (length == 0 || length >= path.size())
        return {};
    path.resize(length);
    const std::wstring::size_type slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos)
        return {};
    path.resize(slash);

    // Started through a short 8.3 path, the folder is still the same folder.
    std::wstring longPath(32768, L'\0');
    const DWORD longLength = GetLongPathNameW(path.c_str(), &longPath[0], DWORD(longPath.size()));
    if (longLength > 0 && longLength < longPath.size()) {
        longPath.resize(longLength);
        path = longPath;
    }
    CharLowerBuffW(&path[0], DWORD(path.size()));
    for (wchar_t &c : path) {
        if (c == L'\\')
            c = L'/';
    }
    return L"Local\\tallyconf " + path;
}

struct ProgramFolderInUse
{
    ProgramFolderInUse()
    {
        const std::wstring name = programFolderMutexName();
        // Held until the program ends; Windows closes it then, however the program ends.
        if (!name.empty())
            CreateMutexW(nullptr, FALSE, name.c_str());
    }
};

const ProgramFolderInUse programFolderInUse;

} // namespace
