// Paths of build products that tests load or start, fixed at configure time.
#pragma once

namespace orvex {
namespace test {

// The plug-in shared library, as a host would dlopen it.
const char* pluginPath();

}  // namespace test
}  // namespace orvex
