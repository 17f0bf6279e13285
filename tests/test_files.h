// Real files in a fresh temporary directory, for tests.
#pragma once

#include <string>

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // The path of `name` inside the directory.
    std::string file(const std::string& name) const;
    // Writes `bytes` exactly as given to `name` and returns its path.
    std::string write(const std::string& name, const std::string& bytes) const;
    // Writes `bytes` exactly as given to the file at `path`.
    static void write_to(const std::string& path, const std::string& bytes);

  private:
    std::string path_;
};

// The whole content of a file, or "<missing>" when it cannot be read.
std::string read_bytes(const std::string& path);
