// mStartUp: have Windows start the program at log-on, or stop that.
#pragma once

#include "startup/regstuff.h"

namespace mStartUp {

void AddToStartup(const RegStuff::RunKeys& keys = {});
void RemoveFromStartup(const RegStuff::RunKeys& keys = {});

}  // namespace mStartUp
