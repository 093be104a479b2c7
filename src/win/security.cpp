#include "win/security.h"

#include <windows.h>

#include <vector>

#include "win/files.h"
#include "win/system.h"
#include "win/system_library.h"
#include "win/unique.h"

namespace win {

namespace {

// The access-control calls, looked up so that the program still loads on the
// 9x family, whose advapi32 has only stubs of them.
struct SecurityApi {
    decltype(AllocateAndInitializeSid)* allocateSid =
        systemFunction<decltype(AllocateAndInitializeSid)>("advapi32.dll", "AllocateAndInitializeSid");
    decltype(FreeSid)* freeSid = systemFunction<decltype(FreeSid)>("advapi32.dll", "FreeSid");
    decltype(GetLengthSid)* sidLength = systemFunction<decltype(GetLengthSid)>("advapi32.dll", "GetLengthSid");
    decltype(EqualSid)* equalSid = systemFunction<decltype(EqualSid)>("advapi32.dll", "EqualSid");
    decltype(InitializeAcl)* initializeAcl = systemFunction<decltype(InitializeAcl)>("advapi32.dll", "InitializeAcl");
    decltype(AddAccessAllowedAce)* addAllowed =
        systemFunction<decltype(AddAccessAllowedAce)>("advapi32.dll", "AddAccessAllowedAce");
    decltype(GetAce)* getAce = systemFunction<decltype(GetAce)>("advapi32.dll", "GetAce");
    decltype(InitializeSecurityDescriptor)* initializeDescriptor =
        systemFunction<decltype(InitializeSecurityDescriptor)>("advapi32.dll", "InitializeSecurityDescriptor");
    decltype(SetSecurityDescriptorDacl)* setDacl =
        systemFunction<decltype(SetSecurityDescriptorDacl)>("advapi32.dll", "SetSecurityDescriptorDacl");
    decltype(GetSecurityDescriptorOwner)* getOwner =
        systemFunction<decltype(GetSecurityDescriptorOwner)>("advapi32.dll", "GetSecurityDescriptorOwner");
    decltype(GetKernelObjectSecurity)* getObjectSecurity =
        systemFunction<decltype(GetKernelObjectSecurity)>("advapi32.dll", "GetKernelObjectSecurity");
    decltype(SetKernelObjectSecurity)* setObjectSecurity =
        systemFunction<decltype(SetKernelObjectSecurity)>("advapi32.dll", "SetKernelObjectSecurity");
    decltype(GetTokenInformation)* tokenInformation =
        systemFunction<decltype(GetTokenInformation)>("advapi32.dll", "GetTokenInformation");
    decltype(GetFileSecurityA)* getFileSecurity =
        systemFunction<decltype(GetFileSecurityA)>("advapi32.dll", "GetFileSecurityA");
    decltype(SetFileSecurityA)* setFileSecurity =
        systemFunction<decltype(SetFileSecurityA)>("advapi32.dll", "SetFileSecurityA");
    decltype(GetSecurityDescriptorControl)* getControl =
        systemFunction<decltype(GetSecurityDescriptorControl)>("advapi32.dll", "GetSecurityDescriptorControl");
    // Windows 2000 and later only: without it, NT 4.0 inherits nothing into
    // a descriptor given explicitly anyway.
    decltype(SetSecurityDescriptorControl)* setControl =
        systemFunction<decltype(SetSecurityDescriptorControl)>("advapi32.dll", "SetSecurityDescriptorControl");

    bool complete() const
    {
        return allocateSid && freeSid && sidLength && equalSid && initializeAcl && addAllowed && getAce &&
               initializeDescriptor && setDacl && getOwner && getObjectSecurity && setObjectSecurity &&
               tokenInformation && getFileSecurity && setFileSecurity && getControl;
    }
};

const SecurityApi& securityApi()
{
    static const SecurityApi api;
    return api;
}

// A descriptor whose list allows administrators and the system everything,
// inherited by what is put below, and is protected from what the folder
// above would hand down (Windows 2000 and later merge that in otherwise).
class PrivateDescriptor {
public:
    PrivateDescriptor()
    {
        const SecurityApi& api = securityApi();
        if (!api.complete()) return;
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        if (!api.allocateSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                             &administrators_) ||
            !api.allocateSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system_))
            return;
        const DWORD aclSize =
            sizeof(ACL) + 2 * sizeof(ACCESS_ALLOWED_ACE) + api.sidLength(administrators_) + api.sidLength(system_);
        acl_.resize((aclSize + sizeof(DWORD) - 1) / sizeof(DWORD));
        PACL list = reinterpret_cast<PACL>(acl_.data());
        if (!api.initializeAcl(list, aclSize, ACL_REVISION) ||
            !api.addAllowed(list, ACL_REVISION, GENERIC_ALL, administrators_) ||
            !api.addAllowed(list, ACL_REVISION, GENERIC_ALL, system_))
            return;
        // NT 4.0 has no call that adds an inheritable entry: the flags are set in place.
        for (DWORD i = 0; i < 2; ++i) {
            void* ace = nullptr;
            if (!api.getAce(list, i, &ace)) return;
            static_cast<ACE_HEADER*>(ace)->AceFlags |= OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        }
        if (!api.initializeDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !api.setDacl(&descriptor_, TRUE, list, FALSE))
            return;
        if (api.setControl && !api.setControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) return;
        ready_ = true;
    }
    ~PrivateDescriptor() { release(); }
    void release()
    {
        if (administrators_) securityApi().freeSid(administrators_);
        if (system_) securityApi().freeSid(system_);
        administrators_ = system_ = nullptr;
        ready_ = false;
    }
    PrivateDescriptor(const PrivateDescriptor&) = delete;
    PrivateDescriptor& operator=(const PrivateDescriptor&) = delete;

    SECURITY_DESCRIPTOR* get() { return ready_ ? &descriptor_ : nullptr; }

    // Owners a folder may have and be trusted: the administrators, the system,
    // the user this program runs as (a member of the administrators), or the
    // owner its token gives to what it makes (the administrators or the user
    // on Windows; Wine gives its primary group).
    bool isTrustedOwner(PSID owner) const
    {
        const SecurityApi& api = securityApi();
        if (!owner) return false;
        if (api.equalSid(owner, administrators_) || api.equalSid(owner, system_)) return true;
        Handle token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
        std::vector<DWORD> buffer(64);
        DWORD size = 0;
        const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
        if (api.tokenInformation(token.get(), TokenUser, buffer.data(), bytes, &size) &&
            api.equalSid(owner, reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid))
            return true;
        return api.tokenInformation(token.get(), TokenOwner, buffer.data(), bytes, &size) &&
               api.equalSid(owner, reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner);
    }

private:
    PSID administrators_ = nullptr;
    PSID system_ = nullptr;
    std::vector<DWORD> acl_;
    SECURITY_DESCRIPTOR descriptor_ = {};
    bool ready_ = false;
};

bool isRealFolder(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) && !isLink(attributes);
}

// A security descriptor read whole into a buffer that grows as asked.
template <typename Read>
bool readDescriptor(std::vector<DWORD>& buffer, Read read)
{
    buffer.assign(64, 0);
    DWORD size = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (read(buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(DWORD)), &size)) return true;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
        buffer.assign(size / sizeof(DWORD) + 1, 0);
    }
    return false;
}

// Whether the kernel object's owner is one the program trusts.
bool ownedByTrusted(HANDLE object, const PrivateDescriptor& descriptor)
{
    const SecurityApi& api = securityApi();
    std::vector<DWORD> current;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    return readDescriptor(current,
                          [&](void* data, DWORD size, DWORD* needed) {
                              return api.getObjectSecurity(object, OWNER_SECURITY_INFORMATION, data, size, needed);
                          }) &&
           api.getOwner(current.data(), &owner, &defaulted) && descriptor.isTrustedOwner(owner);
}

bool createFolder(const std::string& path, FolderAccess access)
{
    if (ntMajorVersion() == 0 || access == FolderAccess::inherited) return CreateDirectoryA(path.c_str(), nullptr) != 0;
    PrivateDescriptor descriptor;
    if (!descriptor.get()) return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    const bool made = CreateDirectoryA(path.c_str(), &attributes) != 0;
    // The caller tells a taken name by the last error.
    const DWORD error = GetLastError();
    descriptor.release();
    SetLastError(error);
    return made;
}

// An existing folder this run may use: a real folder of a trusted owner,
// made private when asked.
bool trustFolder(const std::string& path, FolderAccess access)
{
    if (!isRealFolder(GetFileAttributesA(path.c_str()))) return false;
    const DWORD major = ntMajorVersion();
    if (major == 0) return true;
    PrivateDescriptor descriptor;
    if (!descriptor.get()) return false;
    // Asked and changed through one handle of the folder itself, so that a
    // link put at its name meanwhile is neither followed nor trusted. Links
    // exist from Windows 2000 on; NT 4.0 would refuse the flag.
    File folder(CreateFileA(path.c_str(), READ_CONTROL | (access == FolderAccess::administrators ? WRITE_DAC : 0),
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | (major >= 5 ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!folder || !GetFileInformationByHandle(folder.get(), &information) ||
        !isRealFolder(information.dwFileAttributes) || !ownedByTrusted(folder.get(), descriptor))
        return false;
    if (access == FolderAccess::inherited) return true;
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION | (major >= 5 ? PROTECTED_DACL_SECURITY_INFORMATION : 0);
    return securityApi().setObjectSecurity(folder.get(), what, descriptor.get()) != 0;
}

std::string createFreshFolder(const std::string& prefix, FolderAccess access)
{
    const DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
    for (DWORD attempt = 0; attempt < 100; ++attempt) {
        char name[16];
        wsprintfA(name, "%08lX", static_cast<unsigned long>(seed + attempt));
        const std::string candidate = prefix + name;
        if (createFolder(candidate, access)) return candidate;
        // Only a name that is taken is worth another try.
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return std::string();
}

} // namespace

RunFolder takeFolder(const std::string& path, FolderAccess access)
{
    RunFolder folder;
    if (createFolder(path, access)) {
        folder.path = path;
        folder.made = true;
    } else if (trustFolder(path, access)) {
        folder.path = path;
    } else {
        folder.path = createFreshFolder(path + "-", access);
        folder.made = folder.fresh = !folder.path.empty();
    }
    return folder;
}

bool isTrustedFolder(const std::string& path) { return trustFolder(path, FolderAccess::inherited); }

std::string createFreshPrivateFolder(const std::string& prefix)
{
    return createFreshFolder(prefix, FolderAccess::administrators);
}

bool isOwnedByTrusted(HANDLE object)
{
    if (ntMajorVersion() == 0) return true;
    PrivateDescriptor descriptor;
    return descriptor.get() && ownedByTrusted(object, descriptor);
}

HANDLE createPrivateMutex(const char* name)
{
    if (ntMajorVersion() == 0) return CreateMutexA(nullptr, TRUE, name);
    PrivateDescriptor descriptor;
    if (!descriptor.get()) return nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    HANDLE mutex = CreateMutexA(&attributes, TRUE, name);
    // Whether the name existed is told by the last error, which freeing the
    // descriptor's parts may overwrite.
    const DWORD error = GetLastError();
    descriptor.release();
    SetLastError(error);
    return mutex;
}

bool copyAccessList(const std::string& from, const std::string& to, std::vector<DWORD>* handedDown)
{
    const DWORD major = ntMajorVersion();
    if (major == 0) return true;
    const SecurityApi& api = securityApi();
    if (!api.complete()) return false;
    auto readList = [&](const std::string& path, std::vector<DWORD>& list) {
        return readDescriptor(list, [&](void* data, DWORD size, DWORD* needed) {
            return api.getFileSecurity(path.c_str(), DACL_SECURITY_INFORMATION, data, size, needed);
        });
    };
    std::vector<DWORD> list;
    if (!readList(from, list)) return false;
    // Most installed files carry what their folder hands down, which the new
    // file has already: writing it again costs as much as reading it.
    if (handedDown && handedDown->empty() && !readList(to, *handedDown)) handedDown->clear();
    if (handedDown && *handedDown == list) return true;
    // A list that was protected from what its folder hands down stays so;
    // one that was not goes on taking it (Windows 2000 and later).
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION;
    if (major >= 5 && api.getControl(list.data(), &control, &revision))
        what |=
            (control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION;
    return api.setFileSecurity(to.c_str(), what, list.data()) != 0;
}

} // namespace win
