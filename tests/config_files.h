// A temporary folder with a registry-export file (named by
// HEARKENER_REGISTRY_FILE, which the POSIX registry store reads) and a
// configuration file, for loading the Globals record.
//
// Thread-safety: sets a process-wide environment variable; use only while no
// other thread reads the environment.
#pragma once

#include <memory>
#include <string>

#include "support/globals.h"
#include "tests/scoped_env.h"
#include "tests/test_files.h"

namespace test_globals {

inline test_files::Bytes bytesOf(const std::string& text) {
  return test_files::Bytes(text.begin(), text.end());
}

// A temporary folder with a registry file (pointed to by the environment)
// and a configuration file.
class ConfigFiles {
 public:
  ConfigFiles(const std::string& ini, const std::string& registry)
      : registryEnv_("HEARKENER_REGISTRY_FILE",
                     dir_.file("registry.reg").c_str()) {
    if (!registry.empty()) {
      test_files::writeFile(dir_.file("registry.reg"), bytesOf(registry));
    }
    if (!ini.empty()) {
      test_files::writeFile(dir_.file("defaults.ini"), bytesOf(ini));
    }
  }
  std::string iniPath() const { return dir_.file("defaults.ini"); }
  std::unique_ptr<Globals> load() const {
    std::unique_ptr<Globals> globals(new Globals);
    const std::string path = iniPath();
    const char* paths[] = {path.c_str()};
    globalsLoad(globals.get(), paths, 1);
    return globals;
  }

 private:
  test_files::TempDir dir_;
  test_env::ScopedEnv registryEnv_;
};

}  // namespace test_globals
