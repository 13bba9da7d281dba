// Sets an environment variable (or removes it, for a null value) until the end of the scope.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace tessaly::testing {

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) before_ = old;
        set(value);
    }
    ~ScopedEnv() { set(before_ ? before_->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    void set(const char* value) {
        if (value) {
            setenv(name_.c_str(), value, 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    std::string name_;
    std::optional<std::string> before_;
};

}  // namespace tessaly::testing
