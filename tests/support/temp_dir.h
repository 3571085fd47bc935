/*
 * temp_dir.h - a fresh directory that is the current directory for the
 * life of the object; removed with its contents afterwards.
 */
#ifndef ORV_TEST_TEMP_DIR_H
#define ORV_TEST_TEMP_DIR_H

#include <string>

class ScopedCurrentDir {
  public:
    ScopedCurrentDir();
    ~ScopedCurrentDir();
    ScopedCurrentDir(const ScopedCurrentDir&) = delete;
    ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string previous_;
    std::string path_;
};

/* The whole content of a file, or an empty string. */
std::string ReadWholeFile(const std::string& path);

#endif  // ORV_TEST_TEMP_DIR_H
