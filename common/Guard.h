// Catch-all guards for the steps that must fail alone: a discovery step, a reading step of a world
// reader. Their errors never leave the plugin; the step's result is simply missing.
#pragma once

namespace vesperline {

// Runs step; an error it throws ends the step and goes no further.
template <typename Step>
void RunGuarded(Step&& step) noexcept {
  try {
    step();
  } catch (...) {
  }
}

}  // namespace vesperline
