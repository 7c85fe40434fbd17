// A minimal host: loads the installed plug-in, creates a history object through the factory,
// starts its worker pools, configures it, releases and deletes it. Prints what it did; exits
// non-zero at the first step that fails. Usage: orvex_consumer [plug-in path]
#include <dlfcn.h>

#include <cstdio>
#include <memory>

#include "HistoryAPIFactory.h"
#include "orvex/Environment.h"
#include "orvex/IHistoryApi.h"
#include "orvex/IServiceRouter.h"

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : ORVEX_PLUGIN;
  if (dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE) == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
    return 1;
  }
  vantor::Environment::instance().setValue("token", "t");
  orvex::IServiceRouter::instance().setAuthService(std::make_shared<orvex::ConfigAuthService>());

  std::unique_ptr<orvex::IHistoryApi> api(HistoryAPIFactory::Instance().CreateObject(5));
  if (!api) {
    std::fprintf(stderr, "no history implementation under type id 5\n");
    return 1;
  }
  const orvex::ResultStatus init = api->init(2);
  if (!init.ok()) {
    std::fprintf(stderr, "init: %s\n", init.toString().c_str());
    return 1;
  }
  // Before connect the server name is empty.
  std::printf("loaded %s; init %s; server name '%s'\n", path, init.toString().c_str(),
              api->getServerName().c_str());
  api->release();
  api.reset();
  std::printf("released and deleted\n");
  return 0;
}
