// The main of the benchmarks that link the library's static archive.
#include <benchmark/benchmark.h>

#include "link/connection.h"

int main(int argc, char** argv) {
  // Linked from the static archive, the library's load-time entry point is
  // not in the program; run its process-attach step as the loader would.
  maltor::link::library_attach();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
