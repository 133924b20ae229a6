#include "main/driver.h"
#include "platform/system.h"

#include <string>
#include <vector>

int main(int argc, char **argv) {
  platform::start_process();
  return invocation::run(std::vector<std::string>(argv, argv + argc));
}
