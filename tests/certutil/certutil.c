// A stand-in for Windows' certutil under test: Wine's own answers "-hashfile" with
// nothing. It answers "certutil -hashfile FILE" with the file's SHA-1 from the
// platform, in the form KESTRAND_CERTUTIL names: "spaced" as Windows 7 prints it
// (bytes apart), "unbroken" as Windows 8 to 11 do, "preceded" as unbroken after a line
// that an AutoRun command printed first; "usage" prints the usage text of a certutil
// without -hashfile instead of a hash; anything else prints nothing, as Windows 2000 and
// XP (no certutil) and Wine do. A file it cannot read, or an empty one, gets the failure
// lines Windows gives.
#include <windows.h>
#include <wincrypt.h>

#include <stdio.h>
#include <string.h>

static void say(const char *text)
{
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)strlen(text), &written, NULL);
}

static int refuse(DWORD error)
{
    char text[160];
    sprintf(text, "CertUtil: -hashfile command FAILED: 0x%08lx (WIN32: %lu)\r\n",
            (unsigned long)HRESULT_FROM_WIN32(error), (unsigned long)error);
    say(text);
    say("CertUtil: The file cannot be read.\r\n");
    return 2;
}

int main(int argc, char **argv)
{
    char form[16] = "";
    GetEnvironmentVariableA("KESTRAND_CERTUTIL", form, sizeof form);
    int spaced = strcmp(form, "spaced") == 0;
    int preceded = strcmp(form, "preceded") == 0;
    if (strcmp(form, "usage") == 0) {
        say("CertUtil: Unknown arg: -hashfile\r\n\r\nUsage:\r\n  CertUtil [Options] [-dump]\r\n");
        say("  -dump             -- Dump configuration information or file\r\n");
        say("  -decodehex        -- Decode hexadecimal-encoded file\r\n\r\n");
        say("CertUtil -?              -- Display a verb list (command list)\r\n");
        return 87;
    }
    if (!spaced && !preceded && strcmp(form, "unbroken") != 0) return 0;
    if (argc != 3 || _stricmp(argv[1], "-hashfile") != 0) return 1;
    // Marks that would break a line of the script, and 40 hex digits with more beside them.
    if (preceded) say("AutoRun \"tools\" & <ready> ! % 00112233445566778899aabbccddeeff00112233 x\r\n");

    HANDLE file = CreateFileA(argv[2], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return refuse(GetLastError());
    HCRYPTPROV provider;
    HCRYPTHASH hash;
    if (!CryptAcquireContextA(&provider, NULL, NULL, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return refuse(GetLastError());
    if (!CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash)) return refuse(GetLastError());
    static BYTE buffer[65536];
    DWORD got, total = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0) {
        CryptHashData(hash, buffer, got, 0);
        total += got;
    }
    CloseHandle(file);
    if (total == 0) return refuse(ERROR_FILE_INVALID);
    BYTE value[20];
    DWORD size = sizeof value;
    CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0);

    say(spaced ? "SHA1 hash of file " : "SHA1 hash of ");
    say(argv[2]);
    say(":\r\n");
    char line[128];
    char *at = line;
    for (DWORD i = 0; i < size; ++i) at += sprintf(at, spaced && i > 0 ? " %02x" : "%02x", value[i]);
    strcpy(at, "\r\n");
    say(line);
    say("CertUtil: -hashfile command completed successfully.\r\n");
    return 0;
}
