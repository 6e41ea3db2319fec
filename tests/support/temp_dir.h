#pragma once
// A folder of its own for each test, removed with everything in it afterwards.

#include <string>

namespace fw::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return root; }
    std::string Path(const std::string& relative) const { return root + "/" + relative; }
    // Writes `contents` to `relative`, creating the folders on the way.
    std::string Write(const std::string& relative, const std::string& contents) const;
    std::string Read(const std::string& relative) const;
    bool Exists(const std::string& relative) const;

private:
    std::string root;
};

}  // namespace fw::test
