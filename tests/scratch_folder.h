#pragma once
// A folder of one test's own under /tmp, with the port folder and the journal's data folder
// pointed into it, so that test programs running side by side never meet; removed with all it
// holds when the test ends. POSIX.
#include <cstdlib>
#include <filesystem>
#include <string>

class ScratchFolder
{
public:
    explicit ScratchFolder(const std::string &name)
    {
        std::string pattern = "/tmp/" + name + "-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            return;
        path_ = pattern;
        ::setenv("QVOKSB_PORT_DIR", (path_ + "/ports").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (path_ + "/data").c_str(), 1);
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    const std::string &path() const { return path_; } // empty when it could not be made

private:
    std::string path_;
};
