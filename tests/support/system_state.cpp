#include "support/system_state.h"

#include <utility>

namespace launcher::test {

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)), old_(GetEnvValue(name_)) {
  SetEnv(name_, value);
}

ScopedEnv::~ScopedEnv() { SetEnv(name_, old_); }

}  // namespace launcher::test
