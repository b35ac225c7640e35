// tomerack-demo-service: a stand-in for the textbook service on loopback.
#include <cstdio>
#include <cstring>
#include <exception>

#include "demo/demo_service.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kDemoUsage, stdout);
      return 0;
    }
  }
  DemoOptions options;
  std::string error;
  if (!ParseDemoOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "tomerack-demo-service: %s\n%s", error.c_str(), kDemoUsage);
    return 2;
  }
  try {
    return RunDemoService(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tomerack-demo-service: %s\n", e.what());
    return 1;
  }
}
