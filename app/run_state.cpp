#include "app/run_state.hpp"

RunState runState;
