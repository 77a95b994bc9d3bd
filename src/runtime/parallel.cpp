#include "runtime/parallel.h"

#include <thread>

namespace Parallel {

std::size_t hardware_threads() {
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware == 0 ? 1 : hardware;
}

}  // namespace Parallel
