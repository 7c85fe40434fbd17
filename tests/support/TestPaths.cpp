#include "TestPaths.h"

namespace orvex {
namespace test {

const char* pluginPath() { return ORVEX_PLUGIN_PATH; }

}  // namespace test
}  // namespace orvex
