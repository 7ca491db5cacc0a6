// The weak-permission check on descriptors of real Windows folders, written as SDDL, and
// the executable that the command interpreter finds in an ImagePath.
#include <windows.h>
// The SDDL conversions need the types of windows.h declared first.
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "config/watched_executable.h"
#include "service/weak_permissions.h"

namespace {

// The weak grants of a descriptor given as SDDL, or with a null DACL for nullptr: Wine
// reads "D:NO_ACCESS_CONTROL" as an empty DACL, not as a null one.
std::wstring Weakness(const wchar_t* sddl, bool folder) {
  SECURITY_DESCRIPTOR open{};
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (sddl == nullptr) {
    ::InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
  } else if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr)) {
    return L"(bad SDDL)";
  }
  std::wstring found;
  for (const WeakGrant& grant : FindWeakGrants(sddl == nullptr ? &open : descriptor, folder)) {
    found += grant.principal + L": " + DescribeRights(grant.rights, folder) + L"; ";
  }
  ::LocalFree(descriptor);
  return found;
}

TEST(WeakPermissionsTest, OnlyChangeRightsOfEveryUsersGroupsCount) {
  struct Case {
    const char* what;
    const wchar_t* sddl;
    bool folder;
    bool weak;
  };
  const Case cases[] = {
      {"a folder made under C:\\, Modify inherited by Authenticated Users",
       L"D:(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)"
       L"(A;OICIID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)",
       true, true},
      {"Program Files",
       L"D:PAI(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
       L"(A;CIIO;GA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
       L"(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
       L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)",
       true, false},
      {"an explicit write for Everyone", L"D:(A;;FA;;;BA)(A;;FW;;;WD)", false, true},
      {"a null DACL", nullptr, false, true},
      {"a deny ahead of the allow", L"D:(A;;FA;;;BA)(D;;SDWDWOFW;;;AU)(A;;0x1301bf;;;AU)", false,
       false},
      {"an allow ahead of the deny", L"D:(A;;0x1301bf;;;AU)(D;;SDWDWOFW;;;AU)", false, true},
      {"Domain Users may write", L"D:(A;;FW;;;S-1-5-21-1-2-3-513)", false, true},
      {"one user may write", L"D:(A;;FA;;;S-1-5-21-1-2-3-1001)", false, false},
  };
  for (const Case& c : cases) {
    const std::wstring found = Weakness(c.sddl, c.folder);
    EXPECT_EQ(!found.empty(), c.weak) << c.what << ": " << std::string(found.begin(), found.end());
  }
  // Modify on a folder: everything but the right to delete its children.
  EXPECT_NE(Weakness(L"D:(A;;0x1301bf;;;AU)", true)
                .find(L": add file, add subfolder, delete "
                      L"(0x00010006); "),
            std::wstring::npos);
}

TEST(WeakPermissionsTest, TheExecutableIsTheQuotedPartOrTheTextUpToTheFirstExe) {
  EXPECT_EQ(ExecutableOfCommandLine(L"\"C:\\Program Files\\V\\voranexsv.exe\" -service"),
            L"C:\\Program Files\\V\\voranexsv.exe");
  EXPECT_EQ(ExecutableOfCommandLine(L"C:\\Program Files\\V\\voranexsv.EXE -service"),
            L"C:\\Program Files\\V\\voranexsv.EXE");
  wchar_t root[MAX_PATH];
  ::GetEnvironmentVariableW(L"SystemRoot", root, MAX_PATH);
  EXPECT_EQ(ExecutableOfCommandLine(L"%SystemRoot%\\voranexsv.exe"),
            std::wstring(root) + L"\\voranexsv.exe");
}

}  // namespace
