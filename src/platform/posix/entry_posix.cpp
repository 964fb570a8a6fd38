// Library entry point on ELF and Mach-O systems: the loader runs these at
// load and unload, as DllMain's process attach and detach on Windows.
#include "link/connection.h"

namespace {

__attribute__((constructor)) void on_load() {
  maltor::link::library_attach();
}
__attribute__((destructor)) void on_unload() {
  maltor::link::library_detach();
}

}  // namespace
