// The MaltorUSBdrv library, loaded at run time, and its exported functions
// resolved by name with the types the public headers give them.
//
//   Library library = Library::load("MaltorUSBdrv");
//   auto get_connected = MALTOR_FUNCTION(library, GetConnected);
//   MaltorConnection record{};
//   get_connected(&record);
#pragma once

#include <string>
#include <string_view>

#include "MaltorUSBdrv.h"
#include "MaltorUSBdrv_sim.h"
#include "loader.h"

namespace maltor::tool {

class Library {
 public:
  // Finds library `name` beside the tool, in ../../src from it (the build
  // tree's layout), then on the host's search path. Throws ToolError(kExitLibrary).
  static Library load(std::string_view name);
  // Loads exactly this file. Throws ToolError(kExitLibrary).
  static Library load_file(const std::string& path);

  // The function exported as `name`, cast to `Fn`. Throws ToolError(kExitLibrary)
  // when the library does not export it.
  template <typename Fn>
  Fn function(const char* name) const {
    return reinterpret_cast<Fn>(find(name));
  }
  bool exports(const char* name) const { return loader::find(handle_, name) != nullptr; }

  const std::string& path() const { return path_; }

 private:
  Library(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  loader::RawFunction find(const char* name) const;

  // Kept loaded until the process ends: the library's state (and the virtual
  // device) must outlive every command of a sequence.
  void* handle_;
  std::string path_;
};

}  // namespace maltor::tool

// The exported function `name`, typed by its declaration in the public headers.
// Only the declaration's type is used, so the tool does not link to the library.
#define MALTOR_FUNCTION(library, name) (library).function<decltype(&::name)>(#name)
