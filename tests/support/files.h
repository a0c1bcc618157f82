// Real files and folders for tests, in a fresh folder under the Wine prefix's temp.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

std::string tempRoot();
void removeTree(const std::string &path);
bool fileExists(const std::string &path);
bool folderExists(const std::string &path);
void writeFile(const std::string &path, const std::string &bytes);
std::string readFile(const std::string &path);
std::string randomBytes(size_t n, uint32_t seed);
// A file of `size` zero bytes that takes no room: quick to make, long to copy.
void makeSparseFile(const std::string &path, uint64_t size);
std::string currentFolder();
// Takes the free space of the drive that holds `path` with a file of that name, all but
// `leave` bytes; false when it could not.
bool fillDrive(const std::string &path, uint64_t leave);

// A folder that exists for the life of the object, removed with everything in it.
class TempFolder {
public:
    explicit TempFolder(const std::string &under = "");
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};
// The same file or folder by another path, as a subst or a mapped share gives it: through
// Z:, the drive Wine gives the Unix root. Empty when the platform cannot say.
std::string byRootDrive(const std::string &path);
// The file's bytes, or "<missing>".
std::string fileBytes(const std::string &path);
uint64_t fileSize(const std::string &path);
