// The joining script asks certutil for each piece's SHA-1. Wine's own certutil answers
// nothing; while a CertutilAnswers lives, the test's own stand-in (tests/certutil)
// answers instead, for the processes this one starts.
#pragma once

#include <windows.h>

#include <string>

// The SHA-1 of the bytes, from the platform.
std::string sha1Hex(const std::string &bytes);
bool sha1Of(const std::string &bytes, BYTE (&value)[20]);

class CertutilAnswers {
public:
    // "spaced" (Windows 7's form), "unbroken" (Windows 8 to 11), "preceded" (unbroken,
    // after a line of another program), "usage" (a certutil without -hashfile) or "none"
    // (no answer).
    explicit CertutilAnswers(const char *form);
    ~CertutilAnswers();
    CertutilAnswers(const CertutilAnswers &) = delete;
    CertutilAnswers &operator=(const CertutilAnswers &) = delete;
    void answer(const char *form);
    bool installed() const { return installed_; }

private:
    std::string target_, kept_;
    bool installed_ = false;
};
