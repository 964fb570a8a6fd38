#include "library.h"

#include <filesystem>
#include <vector>

#include "errors.h"

namespace maltor::tool {

namespace fs = std::filesystem;

Library Library::load(std::string_view name) {
  const std::string file = loader::library_file_name(name);
  std::vector<fs::path> places;
  if (const std::string exe = loader::executable_folder(); !exe.empty()) {
    places.push_back(fs::path(exe) / file);
    places.push_back((fs::path(exe) / ".." / ".." / "src" / file).lexically_normal());
  }

  std::string tried;
  for (const fs::path& place : places) {
    std::error_code ignored;
    if (!fs::is_regular_file(place, ignored)) {
      tried += "\n  " + place.string() + ": no such file";
      continue;
    }
    std::string error;
    if (void* handle = loader::open(place.string(), error)) return Library(handle, place.string());
    tried += "\n  " + place.string() + ": " + error;
  }
  std::string error;
  if (void* handle = loader::open(file, error)) return Library(handle, file);
  tried += "\n  " + file + " on the library search path: " + error;
  throw ToolError(kExitLibrary, "cannot load the library " + std::string(name) + "; tried:" +
                                    tried + "\nbuild it, or name its file with --lib PATH");
}

Library Library::load_file(const std::string& path) {
  // Without a folder part the host loader would search its path, not the current folder.
  const fs::path file(path);
  const std::string where = file.has_parent_path() ? path : (fs::path(".") / file).string();
  std::string error;
  if (void* handle = loader::open(where, error)) return Library(handle, where);
  throw ToolError(kExitLibrary, "cannot load the library " + path + ": " + error);
}

loader::RawFunction Library::find(const char* name) const {
  if (const loader::RawFunction function = loader::find(handle_, name)) return function;
  throw ToolError(kExitLibrary, path_ + " does not export " + name +
                                    " (a library from an older build, or not the one this "
                                    "command needs?)");
}

}  // namespace maltor::tool
