// The host's dynamic loader, the one place the tool touches it.
#pragma once

#include <string>
#include <string_view>

namespace maltor::tool::loader {

using RawFunction = void (*)();

// The file name of library `name`: "libNAME.so.MAJOR" or "NAME.dll".
std::string library_file_name(std::string_view name);

// The folder that holds the running executable; empty when it cannot be found.
std::string executable_folder();

// Loads a library from a path (or, without a folder part, from the host's
// search path). Returns nullptr and the loader's reason in `error` on failure.
void* open(const std::string& path, std::string& error);

// The address of an exported function; nullptr when there is none.
RawFunction find(void* library, const char* name);

}  // namespace maltor::tool::loader
