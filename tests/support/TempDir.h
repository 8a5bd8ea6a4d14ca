#pragma once
#include <string>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with its contents
// when the object goes away.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "meshdrop-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

// Writes bytes to a file, creating parent folders; returns false on failure.
bool writeFile(const std::string& path, const std::string& bytes);
// Reads a whole file; empty when it cannot be read.
std::string readFile(const std::string& path);
// Deterministic pseudo-random content of the given size, different per seed.
std::string patternBytes(size_t size, unsigned seed);

} // namespace testsupport
