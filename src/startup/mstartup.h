// mStartUp: have Windows start the program at log-on, or stop that.
#pragma once

namespace mStartUp {

void AddToStartup();
void RemoveFromStartup();

}  // namespace mStartUp
