#pragma once
#include <string>

namespace kestrum::test {

// A fresh temporary folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }  // no trailing "/"
  // Writes a file (creating folders on the way) and returns its full path.
  std::string Write(const std::string& relative, const std::string& content) const;
  std::string Mkdir(const std::string& relative) const;

 private:
  std::string path_;
};

}  // namespace kestrum::test
