// The dynamic loader: each library is opened by the runtime name found when
// the program was configured (never a development link name).
#include <dlfcn.h>

#include <cstring>
#include <mutex>

#include "codecs/codec_library.h"

namespace {

struct LoadedLibrary {
  const char* name;
  std::once_flag opened;
  void* handle = nullptr;
  std::once_flag reported;
};

LoadedLibrary& libraryOf(CodecLibrary library) {
  static LoadedLibrary libraries[] = {
      {HEARKENER_SONAME_GSM, {}, nullptr, {}},
      {HEARKENER_SONAME_BCG729, {}, nullptr, {}},
      {HEARKENER_SONAME_AVCODEC, {}, nullptr, {}},
      {HEARKENER_SONAME_AVUTIL, {}, nullptr, {}},
      {HEARKENER_SONAME_SPANDSP, {}, nullptr, {}},
  };
  return libraries[static_cast<int>(library)];
}

// One line per library and run, however many requests fail.
void reportOnce(LoadedLibrary& library, const char* reason) {
  std::call_once(library.reported, [&] {
    reportLine(codecLibraryReporter(), ReportKind::kCodecUnavailable,
               "could not load codec library %s (%s)", library.name,
               reason != nullptr ? reason : "unknown reason");
  });
}

}  // namespace

const char* codecLibraryName(CodecLibrary library) {
  return libraryOf(library).name;
}

CodecFunction codecLibraryFunction(CodecLibrary library, const char* name) {
  LoadedLibrary& loaded = libraryOf(library);
  std::call_once(loaded.opened, [&] {
    loaded.handle = dlopen(loaded.name, RTLD_NOW | RTLD_LOCAL);
    if (loaded.handle == nullptr) reportOnce(loaded, dlerror());
  });
  if (loaded.handle == nullptr) return nullptr;
  // dlerror is per thread: clear it, then tell a missing symbol from one
  // whose value is null.
  dlerror();
  void* address = dlsym(loaded.handle, name);
  if (address == nullptr) {
    reportOnce(loaded, dlerror());
    return nullptr;
  }
  CodecFunction function = nullptr;
  static_assert(sizeof function == sizeof address, "function address size");
  std::memcpy(&function, &address, sizeof function);
  return function;
}
