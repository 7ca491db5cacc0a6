#include "service/weak_permissions.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <map>
#include <utility>

#include "common/event_log.h"
#include "common/narrow_text.h"
#include "config/watched_executable.h"
#include "config/watched_program.h"
#include "config/watched_service.h"

namespace {

constexpr DWORD kFileChangeRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER;
// FILE_ADD_FILE and FILE_ADD_SUBDIRECTORY share their bits with write and append data.
constexpr DWORD kFolderChangeRights = kFileChangeRights | FILE_DELETE_CHILD;

// Groups that every signed-in or remote user belongs to. Administrators, SYSTEM,
// TrustedInstaller, the owner and CREATOR OWNER are not among them: they may change the
// files anyway, or stand for one account only.
bool IsEveryUsersGroup(PSID sid) {
  static const WELL_KNOWN_SID_TYPE kGroups[] = {
      WinWorldSid,   WinAuthenticatedUserSid, WinBuiltinUsersSid, WinInteractiveSid,
      WinNetworkSid, WinAnonymousSid,         WinBuiltinGuestsSid};
  for (const WELL_KNOWN_SID_TYPE group : kGroups) {
    if (::IsWellKnownSid(sid, group)) {
      return true;
    }
  }
  // Domain Users is S-1-5-21-<domain>-513; on a machine in no domain the same RID is the
  // local group "None", which every local user is part of.
  const SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  const PSID_IDENTIFIER_AUTHORITY authority = ::GetSidIdentifierAuthority(sid);
  const UCHAR count = *::GetSidSubAuthorityCount(sid);
  return std::equal(std::begin(nt.Value), std::end(nt.Value), authority->Value) && count == 5 &&
         *::GetSidSubAuthority(sid, 0) == SECURITY_NT_NON_UNIQUE &&
         *::GetSidSubAuthority(sid, 4) == DOMAIN_GROUP_RID_USERS;
}

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  std::wstring result;
  if (::ConvertSidToStringSidW(sid, &text)) {
    result = text;
    ::LocalFree(text);
  }
  return result;
}

// The account name, or the SID where Windows names none.
std::wstring NameOf(PSID sid) {
  wchar_t name[256];
  wchar_t domain[256];
  DWORD nameLength = 256;
  DWORD domainLength = 256;
  SID_NAME_USE use;
  if (!::LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use)) {
    return SidText(sid);
  }
  return domainLength > 0 && domain[0] != L'\0' ? std::wstring(domain) + L"\\" + name
                                                : std::wstring(name);
}

DWORD MapGenericRights(DWORD mask) {
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                             FILE_ALL_ACCESS};
  ::MapGenericMask(&mask, &mapping);
  return mask;
}

// The object's DACL, or nothing when it cannot be read (a missing file, say).
struct Descriptor {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ~Descriptor() { ::LocalFree(descriptor); }
};

// The object's weak grants, folded into one; nothing when it is not weak or cannot be read.
bool CheckObject(const std::wstring& path, WeakObject& weak) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (path.empty() || attributes == INVALID_FILE_ATTRIBUTES) {
    return false;
  }
  Descriptor read;
  if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &read.descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const std::vector<WeakGrant> grants = FindWeakGrants(read.descriptor, folder);
  if (grants.empty()) {
    return false;
  }
  weak.path = path;
  DWORD rights = 0;
  for (const WeakGrant& grant : grants) {
    weak.principals += (weak.principals.empty() ? L"" : L", ") + grant.principal;
    rights |= grant.rights;
  }
  weak.rights = DescribeRights(rights, folder);
  return true;
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash == 2 ? 3 : slash);
}

}  // namespace

std::vector<WeakGrant> FindWeakGrants(PSECURITY_DESCRIPTOR descriptor, bool folder) {
  const DWORD changeRights = folder ? kFolderChangeRights : kFileChangeRights;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
    return {};
  }
  if (!present || dacl == nullptr) {
    // No DACL at all: everyone may do everything.
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    std::vector<WeakGrant> all;
    if (::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
      all.push_back({NameOf(everyone), changeRights});
      ::FreeSid(everyone);
    }
    return all;
  }
  // Entries apply in order: what a deny entry took first, a later allow cannot give.
  // A deny for Everyone holds for every group.
  std::map<std::wstring, std::pair<PSID, DWORD>> granted;
  std::map<std::wstring, DWORD> denied;
  DWORD deniedToEveryone = 0;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    ACE_HEADER* header = nullptr;
    if (!::GetAce(dacl, index, reinterpret_cast<void**>(&header)) ||
        (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
      continue;
    }
    ACCESS_MASK mask = 0;
    PSID sid = nullptr;
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
      auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
      mask = ace->Mask;
      sid = &ace->SidStart;
    } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
      auto* ace = reinterpret_cast<ACCESS_DENIED_ACE*>(header);
      mask = ace->Mask;
      sid = &ace->SidStart;
    } else {
      continue;
    }
    if (!IsEveryUsersGroup(sid)) {
      continue;
    }
    const std::wstring key = SidText(sid);
    mask = MapGenericRights(mask);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
      denied[key] |= mask;
      if (::IsWellKnownSid(sid, WinWorldSid)) {
        deniedToEveryone |= mask;
      }
      continue;
    }
    auto& entry = granted[key];
    entry.first = sid;
    entry.second |= mask & changeRights & ~denied[key] & ~deniedToEveryone;
  }
  std::vector<WeakGrant> weak;
  for (const auto& entry : granted) {
    if (entry.second.second != 0) {
      weak.push_back({NameOf(entry.second.first), entry.second.second});
    }
  }
  return weak;
}

std::wstring DescribeRights(DWORD rights, bool folder) {
  const std::pair<DWORD, const wchar_t*> names[] = {
      {FILE_WRITE_DATA, folder ? L"add file" : L"write data"},
      {FILE_APPEND_DATA, folder ? L"add subfolder" : L"append data"},
      {FILE_DELETE_CHILD, L"delete child"},
      {DELETE, L"delete"},
      {WRITE_DAC, L"change permissions"},
      {WRITE_OWNER, L"take ownership"},
  };
  std::wstring text;
  for (const auto& name : names) {
    if ((rights & name.first) != 0) {
      text += (text.empty() ? L"" : L", ") + std::wstring(name.second);
    }
  }
  wchar_t hex[16];
  swprintf(hex, 16, L" (0x%08lX)", static_cast<unsigned long>(rights));
  return text + hex;
}

std::vector<std::wstring> SteeringObjects(const std::wstring& ownExecutable,
                                          const std::wstring& watchedExecutable,
                                          std::wstring configFolder) {
  std::vector<std::wstring> objects = {FolderOf(ownExecutable), ownExecutable,
                                       FolderOf(watchedExecutable), watchedExecutable,
                                       configFolder};
  if (!configFolder.empty()) {
    if (configFolder.back() != L'\\') {
      configFolder += L'\\';
    }
    objects.push_back(configFolder + ToWide(CP_THREAD_ACP, kConfigFileName));
  }
  return objects;
}

std::vector<WeakObject> FindWeakObjects(const std::vector<std::wstring>& objects) {
  std::vector<WeakObject> weak;
  for (const std::wstring& object : objects) {
    WeakObject found;
    if (CheckObject(object, found)) {
      weak.push_back(found);
    }
  }
  return weak;
}

std::wstring OwnExecutable() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

void WeakPermissionAudit::Run() {
  try {
    std::vector<std::wstring> objects = SteeringObjects(OwnExecutable(), WatchedExecutable(),
                                                        ToWide(CP_THREAD_ACP, g_configDirectory));
    // Each weak object is told of once a run, and not read again after that.
    objects.erase(std::remove_if(objects.begin(), objects.end(),
                                 [this](const std::wstring& object) {
                                   return told_.count(Lowercase(object)) != 0;
                                 }),
                  objects.end());
    for (const WeakObject& weak : FindWeakObjects(objects)) {
      told_.insert(Lowercase(weak.path));
      WriteEvent(ServiceEvent::kWeakPermissions,
                 std::vector<std::string>{ToNarrow(CP_THREAD_ACP, weak.path),
                                          ToNarrow(CP_THREAD_ACP, weak.principals),
                                          ToNarrow(CP_THREAD_ACP, weak.rights)});
    }
  } catch (...) {
    // A check that cannot be made changes nothing about the service's work.
  }
}
