// The entry of a comparison module: the raw C API and pybind11 ways, built
// against the headers of one Python minor version and loaded by the benchmark
// once the plugin has loaded that library.
#include "ComparisonSupport.h"

namespace bench {

const WayTable<Way::Raw>& RawWays();
const WayTable<Way::RawPerOperation>& RawPerOperationWays();
const WayTable<Way::Pybind11>& Pybind11Ways();
const WayTable<Way::RawLockHeld>& RawLockHeldWays();

}  // namespace bench

extern "C" __attribute__((visibility("default"))) const bench::ComparisonWays* BenchComparisonWays(
    const bench::ComparisonContext* context) {
  bench::gContext = context;
  static const bench::ComparisonWays ways{bench::RawWays(), bench::RawPerOperationWays(), bench::Pybind11Ways(),
                                                bench::RawLockHeldWays()};
  return &ways;
}
