/* Prints the access list of a file or folder, one entry a line: "allow|deny 0x<mask> <SID>".
 * The install test reads the installed settings file's list back with it under Wine, where
 * icacls and cacls are stubs.
 * usage: file_acl.exe PATH   (built with -municode) */
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: file_acl PATH\n");
    return 2;
  }
  PACL dacl = NULL;
  PSECURITY_DESCRIPTOR sd = NULL;
  DWORD status = GetNamedSecurityInfoW(argv[1], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL,
                                       &dacl, NULL, &sd);
  if (status != ERROR_SUCCESS) {
    fprintf(stderr, "file_acl: GetNamedSecurityInfo failed: %lu\n", status);
    return 1;
  }
  if (dacl == NULL) {
    printf("no access list (everyone has full access)\n");
  } else {
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      ACCESS_ALLOWED_ACE* ace;  /* denied entries share its layout */
      wchar_t* sid = NULL;
      if (!GetAce(dacl, i, (void**)&ace) || ace->Header.AceType > ACCESS_DENIED_ACE_TYPE ||
          !ConvertSidToStringSidW(&ace->SidStart, &sid))
        continue;
      printf("%s 0x%08lx %ls\n", ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE ? "allow" : "deny",
             (unsigned long)ace->Mask, sid);
      LocalFree(sid);
    }
  }
  LocalFree(sd);
  return 0;
}
