#include "support/certutil.h"

#include <wincrypt.h>

#include "support/files.h"

bool sha1Of(const std::string &bytes, BYTE (&value)[20])
{
    HCRYPTPROV provider;
    HCRYPTHASH hash;
    if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return false;
    DWORD size = sizeof value;
    bool done = CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash) &&
                CryptHashData(hash, reinterpret_cast<const BYTE *>(bytes.data()), DWORD(bytes.size()), 0) &&
                CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0);
    CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    return done;
}

std::string sha1Hex(const std::string &bytes)
{
    BYTE value[20];
    if (!sha1Of(bytes, value)) return "";
    std::string hex;
    for (BYTE b : value) {
        char digits[3];
        wsprintfA(digits, "%02x", b);
        hex += digits;
    }
    return hex;
}

// The stand-in is built beside the test programs. Copied over the prefix's own
// certutil.exe (syswow64 for this 32-bit process), it runs only where the override
// asks for a native one first; the prefix's file comes back at the end.
CertutilAnswers::CertutilAnswers(const char *form)
{
    char own[MAX_PATH], system[MAX_PATH];
    GetModuleFileNameA(nullptr, own, sizeof own);
    std::string standIn(own);
    standIn = standIn.substr(0, standIn.rfind('\\') + 1) + "certutil.exe";
    GetSystemDirectoryA(system, sizeof system);
    target_ = std::string(system) + "\\certutil.exe";
    kept_ = target_ + ".kestrand-kept";
    if (fileExists(target_) && !fileExists(kept_)) CopyFileA(target_.c_str(), kept_.c_str(), TRUE);
    installed_ = CopyFileA(standIn.c_str(), target_.c_str(), FALSE) != 0;
    SetEnvironmentVariableA("WINEDLLOVERRIDES", "certutil.exe=n,b");
    answer(form);
}

CertutilAnswers::~CertutilAnswers()
{
    SetEnvironmentVariableA("WINEDLLOVERRIDES", nullptr);
    SetEnvironmentVariableA("KESTRAND_CERTUTIL", nullptr);
    if (fileExists(kept_) && CopyFileA(kept_.c_str(), target_.c_str(), FALSE)) DeleteFileA(kept_.c_str());
}

void CertutilAnswers::answer(const char *form)
{
    SetEnvironmentVariableA("KESTRAND_CERTUTIL", form);
}
