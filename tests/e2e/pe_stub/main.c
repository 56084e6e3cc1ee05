/* A stand-in for winqor.exe in the tests of aze sfx --windows: it carries the resources a
   built winqor.exe carries (the SETUP_ARCHIVE placeholder, an icon, a dialog, strings, a
   manifest) and, when run, prints the size and first bytes of the SETUP_ARCHIVE/131 resource
   that FindResourceW picks. */
#include <stdio.h>
#include <windows.h>

int wmain(void) {
    HRSRC found = FindResourceW(NULL, MAKEINTRESOURCEW(131), L"SETUP_ARCHIVE");
    if (found == NULL) {
        puts("no SETUP_ARCHIVE resource");
        return 1;
    }
    const unsigned char* bytes = LockResource(LoadResource(NULL, found));
    const DWORD size = SizeofResource(NULL, found);
    printf("%lu", (unsigned long)size);
    for (DWORD i = 0; i < size && i < 8; ++i) printf(" %02x", bytes[i]);
    putchar('\n');
    return 0;
}
