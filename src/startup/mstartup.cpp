#include "startup/mstartup.h"

#include "startup/regstuff.h"
#include "startup/run_value.h"
#include "win/module.h"

namespace mStartUp {

// The entry names the running executable itself, whatever else its folder holds.
void AddToStartup(const RegStuff::RunKeys& keys) {
  const std::wstring name = startup::FileNameOf(win::ExecutablePath());
  if (!name.empty()) RegStuff::SetRunValue(name, keys);
}

void RemoveFromStartup(const RegStuff::RunKeys& keys) {
  const std::wstring name = startup::FileNameOf(win::ExecutablePath());
  if (!name.empty()) RegStuff::DeleteRunValue(name, keys);
}

}  // namespace mStartUp
